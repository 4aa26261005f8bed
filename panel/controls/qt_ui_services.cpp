#include "panel/controls/qt_ui_services.h"

#include <QApplication>
#include <QCursor>
#include <QInputDialog>
#include <QMessageBox>
#include <cstdio>

namespace pgx::panel {

namespace {

UiServices* g_installed = nullptr;

QString ForDisplay(QString text) {
  return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QMessageBox::Icon QtIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kCritical:
      return QMessageBox::Critical;
    case MsgIcon::kQuestion:
      return QMessageBox::Question;
    case MsgIcon::kExclamation:
      return QMessageBox::Warning;
    case MsgIcon::kInformation:
      return QMessageBox::Information;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

UiServices& Ui() {
  if (g_installed) return *g_installed;
  static QtUiServices qt_services;
  return qt_services;
}

UiServices* SetUiServices(UiServices* services) {
  UiServices* previous = g_installed;
  g_installed = services;
  return previous;
}

bool QtUiServices::Interactive() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void QtUiServices::MsgBox(const QString& text, MsgIcon icon) {
  if (!Interactive()) {
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(kAppTitle), qUtf8Printable(ForDisplay(text)));
    return;
  }
  QMessageBox box(QtIcon(icon), kAppTitle, ForDisplay(text), QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

std::optional<QString> QtUiServices::InputBox(const QString& prompt, const QString& caption,
                                              const QString& default_answer) {
  if (!Interactive()) return std::nullopt;
  bool ok = false;
  QString answer = QInputDialog::getText(QApplication::activeWindow(), caption, ForDisplay(prompt),
                                         QLineEdit::Normal, default_answer, &ok);
  if (!ok) return std::nullopt;
  return answer;
}

void QtUiServices::Beep() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
}

MousePointer QtUiServices::GetMousePointer() const {
  const QCursor* cursor = QGuiApplication::overrideCursor();
  if (!cursor) return MousePointer::kDefault;
  return cursor->shape() == Qt::WaitCursor ? MousePointer::kHourglass : MousePointer::kOther;
}

void QtUiServices::SetMousePointer(MousePointer pointer) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  switch (pointer) {
    case MousePointer::kHourglass:
      QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
      break;
    case MousePointer::kDefault:
      // Takes off the cursor on top of the stack, which is the one the library put there.
      if (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
      break;
    case MousePointer::kOther:
      break;  // only other code sets other pointers
  }
}

}  // namespace pgx::panel
