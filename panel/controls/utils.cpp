#include "panel/controls/utils.h"

#include <QAbstractButton>
#include <QVariant>
#include <QWidget>

#include "panel/controls/error_log.h"
#include "panel/controls/ui_services.h"

namespace pgx::panel {

namespace {

constexpr const char* kTagProperty = "tag";
// The run-time error a missing object gives ("Object variable or With block variable not set").
constexpr std::int32_t kErrObjectNotSet = 91;

}  // namespace

QString Tag(const QObject* control) {
  return control ? control->property(kTagProperty).toString() : QString();
}

void SetTag(QObject* control, const QString& tag) {
  if (control) control->setProperty(kTagProperty, tag);
}

void ShowErrorMessage(const QString& message) {
  Ui().MsgBox(message, MsgIcon::kCritical);
}

void ReportIllegalCase() {
  ShowErrorMessage(QStringLiteral("Illegal case"));
}

void SetBusyCursor(bool busy) {
  UiServices& ui = Ui();
  const MousePointer pointer = ui.GetMousePointer();
  if (busy && pointer == MousePointer::kDefault) {
    ui.SetMousePointer(MousePointer::kHourglass);
  } else if (!busy && pointer == MousePointer::kHourglass) {
    ui.SetMousePointer(MousePointer::kDefault);
  }
}

bool SetOptionButtonToTag(const QList<QAbstractButton*>& buttons, const QString& tag) {
  for (QAbstractButton* button : buttons) {
    if (!button) {
      LogError(QStringLiteral("modUtils"), QStringLiteral("SetOptionButtonToTag"), kErrObjectNotSet,
               QStringLiteral("Object variable or With block variable not set"));
      return false;
    }
    if (Tag(button).contains(tag, Qt::CaseSensitive)) {
      button->setChecked(true);
      return true;
    }
  }
  return false;
}

void SetFocusIfEnabled(QObject* control) {
  auto* widget = qobject_cast<QWidget*>(control);
  if (widget && widget->isEnabled()) widget->setFocus(Qt::OtherFocusReason);
}

void SetCtlEnabled(QObject* control, bool enabled) {
  if (!control) return;
  if (auto* widget = qobject_cast<QWidget*>(control)) {
    // The widget's own state, not the one it inherits from a disabled parent.
    const bool own = !widget->testAttribute(Qt::WA_ForceDisabled);
    if (own != enabled) widget->setEnabled(enabled);
    return;
  }
  if (control->property("enabled").toBool() != enabled) control->setProperty("enabled", enabled);
}

void SetCtlVisible(QObject* control, bool visible) {
  if (!control) return;
  if (auto* widget = qobject_cast<QWidget*>(control)) {
    // Own state: a child of a hidden window is not hidden itself.
    const bool own = !widget->isHidden();
    if (own != visible) widget->setVisible(visible);
    return;
  }
  if (control->property("visible").toBool() != visible) control->setProperty("visible", visible);
}

QString FmtHex(std::int32_t value, std::int16_t digits) {
  const QString h = QString::number(static_cast<std::uint32_t>(value), 16).toUpper();
  if (digits % 4 != 0) {
    ShowErrorMessage(QStringLiteral("Num hex digits must be multiple of 4"));
    return h;
  }
  if (digits <= 0 || h.isEmpty()) {
    ShowErrorMessage(QStringLiteral("Invalid num hex digits"));
    return h;
  }
  if (h.size() <= digits) return QStringLiteral("0x") + h.rightJustified(digits, QLatin1Char('0'));
  ShowErrorMessage(QStringLiteral("Hex format invalid (FmtHex())"));
  return h;
}

}  // namespace pgx::panel
