#include "panel/controls/utils.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include "panel/controls/error_log.h"
#include "panel/controls/qt_ui_services.h"
#include "panel/controls/testing/recording_ui_services.h"

namespace pgx::panel {
namespace {

class UtilsTest : public ::testing::Test {
 protected:
  testing::RecordingUiServices ui_;
  ScopedUiServices scope_{ui_};
};

struct FmtHexCase {
  std::int32_t value;
  std::int16_t digits;
  const char* result;
  const char* box;  // the critical box shown, or nullptr
};

TEST_F(UtilsTest, FmtHexPadsOrReportsWithTheBareDigits) {
  const FmtHexCase cases[] = {
      {255, 8, "0x000000FF", nullptr},
      {65535, 4, "0xFFFF", nullptr},
      {0, 4, "0x0000", nullptr},
      {-1, 8, "0xFFFFFFFF", nullptr},  // two's complement
      {-2147483647 - 1, 8, "0x80000000", nullptr},
      {0xABC, 12, "0x000000000ABC", nullptr},
      {65536, 4, "10000", "Hex format invalid (FmtHex())"},
      {-1, 4, "FFFFFFFF", "Hex format invalid (FmtHex())"},
      {1, 6, "1", "Num hex digits must be multiple of 4"},
      {1, -3, "1", "Num hex digits must be multiple of 4"},
      {1, 0, "1", "Invalid num hex digits"},
      {1, -4, "1", "Invalid num hex digits"},
  };
  for (const FmtHexCase& c : cases) {
    ui_.Clear();
    EXPECT_EQ(FmtHex(c.value, c.digits), c.result) << c.value << " " << c.digits;
    if (c.box) {
      ASSERT_EQ(ui_.messages.size(), 1u) << c.value << " " << c.digits;
      EXPECT_EQ(ui_.messages[0].text, c.box);
      EXPECT_EQ(ui_.messages[0].icon, MsgIcon::kCritical);
    } else {
      EXPECT_TRUE(ui_.messages.empty()) << c.value << " " << c.digits;
    }
  }
}

TEST_F(UtilsTest, MaxDblAndTheIllegalCaseReport) {
  EXPECT_EQ(MaxDbl(1.0, 2.0), 2.0);
  EXPECT_EQ(MaxDbl(2.0, 1.0), 2.0);
  EXPECT_EQ(MaxDbl(-0.0, 0.0), 0.0);
  ReportIllegalCase();
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Illegal case");
  EXPECT_EQ(ui_.messages[0].icon, MsgIcon::kCritical);
}

TEST_F(UtilsTest, BusyCursorNestsAndLeavesSomebodyElsesPointerAlone) {
  SetBusyCursor(true);
  EXPECT_EQ(ui_.pointer, MousePointer::kHourglass);
  SetBusyCursor(true);
  SetBusyCursor(false);
  EXPECT_EQ(ui_.pointer, MousePointer::kDefault);
  SetBusyCursor(false);  // already the default: nothing to undo
  EXPECT_EQ(ui_.pointer_changes, 2);

  ui_.pointer = MousePointer::kOther;
  SetBusyCursor(true);
  SetBusyCursor(false);
  EXPECT_EQ(ui_.pointer, MousePointer::kOther);
  EXPECT_EQ(ui_.pointer_changes, 2);

  ui_.pointer = MousePointer::kDefault;
  {
    BusyCursor outer;
    EXPECT_EQ(ui_.pointer, MousePointer::kHourglass);
  }
  EXPECT_EQ(ui_.pointer, MousePointer::kDefault);
}

TEST(QtUiServicesTest, BusyCursorUsesTheOverrideCursorStack) {
  QtUiServices qt;
  ScopedUiServices scope(qt);
  ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
  SetBusyCursor(true);
  SetBusyCursor(true);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  SetBusyCursor(false);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  // A cursor somebody else set stays.
  QGuiApplication::setOverrideCursor(Qt::CrossCursor);
  SetBusyCursor(true);
  SetBusyCursor(false);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::CrossCursor);
  QGuiApplication::restoreOverrideCursor();
}

TEST(QtUiServicesTest, HeadlessBoxesDoNotWait) {
  QtUiServices qt;
  EXPECT_FALSE(QtUiServices::Interactive());  // the tests run on the offscreen platform
  qt.MsgBox("shown on standard error", MsgIcon::kInformation);
  EXPECT_EQ(qt.InputBox("n?", "Clock / n", "2"), std::nullopt);
}

TEST_F(UtilsTest, OptionButtonByTagSubstringInListOrder) {
  QWidget group;
  auto* all = new QRadioButton("All", &group);
  auto* visible = new QRadioButton("Visible", &group);
  auto* visible_too = new QRadioButton("Visible too", &group);
  SetTag(all, "All");
  SetTag(visible, "Visible");
  SetTag(visible_too, "Visible");
  const QList<QAbstractButton*> buttons{all, visible, visible_too};

  EXPECT_TRUE(SetOptionButtonToTag(buttons, "Vis"));
  EXPECT_TRUE(visible->isChecked());
  EXPECT_FALSE(SetOptionButtonToTag(buttons, "all"));  // case-sensitive
  EXPECT_TRUE(visible->isChecked());
  EXPECT_TRUE(SetOptionButtonToTag(buttons, "All"));
  EXPECT_TRUE(all->isChecked());
  EXPECT_FALSE(visible->isChecked());
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(UtilsTest, AMissingOptionButtonIsLogged) {
  QTemporaryDir dir;
  const QByteArray saved = qgetenv(kErrorLogEnv);
  qputenv(kErrorLogEnv, dir.filePath("log.txt").toUtf8());
  QRadioButton later("Later");
  SetTag(&later, "x");
  EXPECT_FALSE(SetOptionButtonToTag({nullptr, &later}, "x"));
  EXPECT_FALSE(later.isChecked());
  ASSERT_EQ(ui_.messages.size(), 1u);
  QFile log(dir.filePath("log.txt"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QByteArray text = log.readAll();
  EXPECT_TRUE(text.contains("  Error: 91 Object variable or With block variable not set\r\n"));
  EXPECT_TRUE(text.contains("  Mod: modUtils; Proc: SetOptionButtonToTag\r\n"));
  qputenv(kErrorLogEnv, saved);
}

// Counts the change events a widget receives.
class ChangeCounter : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::EnabledChange) ++enabled_changes;
    if (e->type() == QEvent::ShowToParent || e->type() == QEvent::HideToParent) ++visibility_changes;
    return false;
  }
  int enabled_changes = 0;
  int visibility_changes = 0;
};

TEST_F(UtilsTest, ConditionalSettersChangeOnlyWhatDiffers) {
  QWidget window;
  auto* edit = new QLineEdit(&window);
  ChangeCounter counter;
  edit->installEventFilter(&counter);

  SetCtlEnabled(edit, true);
  SetCtlVisible(edit, true);
  EXPECT_EQ(counter.enabled_changes, 0);
  EXPECT_EQ(counter.visibility_changes, 0);

  SetCtlEnabled(edit, false);
  SetCtlEnabled(edit, false);
  EXPECT_EQ(counter.enabled_changes, 1);
  EXPECT_FALSE(edit->isEnabled());
  SetCtlVisible(edit, false);
  SetCtlVisible(edit, false);
  EXPECT_EQ(counter.visibility_changes, 1);
  EXPECT_TRUE(edit->isHidden());

  // The control's own state counts, not the one a disabled parent gives it.
  SetCtlEnabled(edit, true);
  window.setEnabled(false);
  SetCtlEnabled(edit, false);
  window.setEnabled(true);
  EXPECT_FALSE(edit->isEnabled());

  // Any object with the properties: an action.
  QAction action("Fill 0");
  int changed = 0;
  QObject::connect(&action, &QAction::changed, [&] { ++changed; });
  SetCtlEnabled(&action, true);
  SetCtlVisible(&action, true);
  EXPECT_EQ(changed, 0);
  SetCtlEnabled(&action, false);
  EXPECT_FALSE(action.isEnabled());
  EXPECT_EQ(changed, 1);
  SetCtlEnabled(nullptr, true);
}

TEST_F(UtilsTest, FocusOnlyToAnEnabledControl) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* first = new QLineEdit(&window);
  auto* second = new QLineEdit(&window);
  layout->addWidget(first);
  layout->addWidget(second);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  first->setFocus();
  second->setEnabled(false);
  SetFocusIfEnabled(second);
  EXPECT_TRUE(first->hasFocus());
  second->setEnabled(true);
  SetFocusIfEnabled(second);
  EXPECT_TRUE(second->hasFocus());
}

}  // namespace
}  // namespace pgx::panel
