// Shared routines of the control library: message boxes, the busy cursor, option selection by tag,
// conditional setters, hexadecimal formatting. They hold no state of their own.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

class QObject;
class QAbstractButton;

namespace pgx::panel {

// The tag text of a control: its dynamic property "tag" (what an option button of an option group carries).
QString Tag(const QObject* control);
void SetTag(QObject* control, const QString& tag);

// A critical message box with `message`.
void ShowErrorMessage(const QString& message);
// ShowErrorMessage("Illegal case"): the default branch of a selection over the library's own enumerations.
void ReportIllegalCase();

// Busy on: the default pointer becomes the hourglass. Busy off: the hourglass becomes the default pointer.
// Any other pointer is left alone, so nested busy sections do not fight over it: true, true, false
// leaves the default pointer.
void SetBusyCursor(bool busy);

// Busy cursor for a scope: on when made, off when left by any path.
class BusyCursor {
 public:
  BusyCursor() { SetBusyCursor(true); }
  ~BusyCursor() { SetBusyCursor(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

// Checks the first button (in the list's order) whose tag contains `tag` (case-sensitive) and answers true;
// with no such button changes nothing and answers false. A missing button is logged (module "modUtils",
// procedure "SetOptionButtonToTag") and answers false.
bool SetOptionButtonToTag(const QList<QAbstractButton*>& buttons, const QString& tag);

// Focus to `control` only when it is enabled.
void SetFocusIfEnabled(QObject* control);
// Assign the control's own Enabled (Visible) state only when it differs, so that an unchanged state causes
// no repaint or event. They work on any object with an "enabled" ("visible") property: widgets, actions.
void SetCtlEnabled(QObject* control, bool enabled);
void SetCtlVisible(QObject* control, bool visible);

// "0x" + the upper-case hex digits of `value` (two's complement when negative) padded with zeros to
// `digits`. The bare digits, after a critical box, when digits is not a multiple of 4 ("Num hex digits must
// be multiple of 4"), not positive ("Invalid num hex digits"), or too few for the value ("Hex format invalid
// (FmtHex())").
QString FmtHex(std::int32_t value, std::int16_t digits);

// b when a <= b, else a.
inline double MaxDbl(double a, double b) {
  return a <= b ? b : a;
}

}  // namespace pgx::panel
