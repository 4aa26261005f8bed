// The main of the widget tests: a QApplication (on the platform QT_QPA_PLATFORM names, offscreen in the
// build) with the Fusion style, then every GoogleTest case.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>
#include <cstdio>

namespace {

// The offscreen platform says on every shown window that it cannot pass size hints on; nothing else is
// dropped.
void QuietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QLatin1String("does not support propagateSizeHints"))) return;
  std::fprintf(stderr, "%s\n", qUtf8Printable(qFormatLogMessage(type, context, message)));
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  qInstallMessageHandler(QuietMessages);
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  return RUN_ALL_TESTS();
}
