// The main of the widget tests: a QApplication (on the platform QT_QPA_PLATFORM names, offscreen in the
// build) with the Fusion style, then every GoogleTest case.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  return RUN_ALL_TESTS();
}
