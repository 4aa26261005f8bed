// QtUiServices: the UI services with Qt's dialogs and the application's override cursor.
#pragma once

#include "panel/controls/ui_services.h"

namespace pgx::panel {

// Where no interactive desktop exists (no QApplication, or the offscreen or minimal platform), a message box
// is written to standard error as "PgxFrontVI: <text>" and an input box answers as if cancelled, so that a
// headless program never waits for a click that cannot come.
class QtUiServices final : public UiServices {
 public:
  void MsgBox(const QString& text, MsgIcon icon) override;
  std::optional<QString> InputBox(const QString& prompt, const QString& caption,
                                  const QString& default_answer) override;
  void Beep() override;
  // The default pointer is "no override cursor"; the hourglass is Qt::WaitCursor on top of the stack.
  MousePointer GetMousePointer() const override;
  void SetMousePointer(MousePointer pointer) override;

  // True when dialogs can be shown to a user.
  static bool Interactive();
};

}  // namespace pgx::panel
