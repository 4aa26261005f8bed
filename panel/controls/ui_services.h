// UiServices: every message box, input box, beep and mouse-pointer change of the control library goes through
// this interface, so that the library's logic runs (and is tested) without a screen. QtUiServices shows real
// dialogs; a recording double in testing/ scripts the answers and keeps what was shown.
#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace pgx::panel {

// The library's title: the caption of every message box and the settings store's application name.
inline const QString kAppTitle = QStringLiteral("PgxFrontVI");

enum class MsgIcon { kCritical, kQuestion, kExclamation, kInformation };

// The screen's mouse pointer as the library sees it: the default one, the hourglass, or one that somebody
// else has set.
enum class MousePointer { kDefault, kHourglass, kOther };

class UiServices {
 public:
  virtual ~UiServices() = default;

  // A modal message box with `icon`, the caption kAppTitle and only an OK button.
  virtual void MsgBox(const QString& text, MsgIcon icon) = 0;
  // A modal input box: the answer, or nothing when the user cancels.
  virtual std::optional<QString> InputBox(const QString& prompt, const QString& caption,
                                          const QString& default_answer) = 0;
  virtual void Beep() = 0;
  virtual MousePointer GetMousePointer() const = 0;
  virtual void SetMousePointer(MousePointer pointer) = 0;
};

// The services the library uses: the one installed by SetUiServices, or a QtUiServices made on first use.
UiServices& Ui();
// Installs `services` for the whole library (the caller keeps it alive) and returns the one it replaces;
// nullptr goes back to the Qt services.
UiServices* SetUiServices(UiServices* services);

// Installs `services` for the lifetime of the guard (a test's or a host program's scope).
class ScopedUiServices {
 public:
  explicit ScopedUiServices(UiServices& services) : previous_(SetUiServices(&services)) {}
  ~ScopedUiServices() { SetUiServices(previous_); }
  ScopedUiServices(const ScopedUiServices&) = delete;
  ScopedUiServices& operator=(const ScopedUiServices&) = delete;

 private:
  UiServices* previous_;
};

}  // namespace pgx::panel
