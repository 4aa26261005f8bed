#include "panel/controls/engr_spin.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "automation/com_error.h"
#include "panel/controls/error_log.h"
#include "panel/controls/property_bag.h"
#include "panel/controls/spin_button.h"
#include "panel/controls/testing/recording_ui_services.h"

namespace pgx::panel {
namespace {

class EngrSpinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto* layout = new QVBoxLayout(&window_);
    spin_ = new EngrSpin(&window_);
    next_ = new QLineEdit(&window_);
    layout->addWidget(spin_);
    layout->addWidget(next_);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
    spin_->setFocus();
  }
  QLineEdit* Box() const { return spin_->TextBox(); }
  // Replaces the text as a user does: select all, type.
  void Type(const QString& keys) {
    Box()->selectAll();
    QTest::keyClicks(Box(), keys);
  }

  testing::RecordingUiServices ui_;
  ScopedUiServices scope_{ui_};
  QWidget window_;
  EngrSpin* spin_ = nullptr;
  QLineEdit* next_ = nullptr;
};

TEST_F(EngrSpinTest, TypedPrefixAndUnitCommitOnReturn) {
  spin_->SetBaseUnit("Hz");
  QSignalSpy updates(spin_, &EngrSpin::AfterUpdate);
  Type("5kHz");
  EXPECT_EQ(spin_->Value(), 0);  // nothing is read before the commit
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(spin_->Value(), 5000);
  EXPECT_EQ(Box()->text(), "5.000");
  EXPECT_EQ(spin_->UnitsLabel()->text(), "kHz");
  EXPECT_EQ(updates.count(), 1);

  // A plain number is read in the prefix the label shows.
  spin_->SetValue(0.002);
  ASSERT_EQ(spin_->UnitsLabel()->text(), "mHz");
  Type("5");
  QTest::keyClick(Box(), Qt::Key_Enter);
  EXPECT_DOUBLE_EQ(spin_->Value(), 0.005);
  EXPECT_EQ(updates.count(), 2);
  EXPECT_EQ(ui_.beeps, 0);
}

TEST_F(EngrSpinTest, TextThatIsNotAValueBeepsAndStaysForCorrection) {
  spin_->SetBaseUnit("Hz");
  spin_->SetValue(7);
  QSignalSpy updates(spin_, &EngrSpin::AfterUpdate);
  Type("5 parsecs");
  Box()->setCursorPosition(2);
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(ui_.beeps, 1);
  EXPECT_EQ(spin_->Value(), 7);
  EXPECT_EQ(Box()->text(), "5 parsecs");
  EXPECT_EQ(Box()->cursorPosition(), 2);
  EXPECT_EQ(updates.count(), 0);

  // Escape gives up the edit and shows the value again.
  QTest::keyClick(Box(), Qt::Key_Escape);
  EXPECT_EQ(Box()->text(), "7.000");
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(ui_.beeps, 1);
}

TEST_F(EngrSpinTest, EmptyTextGivesTheDefaultValue) {
  spin_->SetDefaultValue(1e-9);
  spin_->SetValue(3);
  Box()->selectAll();
  QTest::keyClick(Box(), Qt::Key_Backspace);
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(spin_->Value(), 1e-9);
  EXPECT_EQ(Box()->text(), "1.000");
  EXPECT_EQ(spin_->UnitsLabel()->text(), "n");
}

TEST_F(EngrSpinTest, TabCommitsRaisesOnTabAndMovesOn) {
  QSignalSpy tabs(spin_, &EngrSpin::OnTab);
  QSignalSpy updates(spin_, &EngrSpin::AfterUpdate);
  Type("12m");
  QTest::keyClick(Box(), Qt::Key_Tab);
  EXPECT_DOUBLE_EQ(spin_->Value(), 0.012);
  ASSERT_EQ(tabs.count(), 1);
  EXPECT_EQ(tabs.at(0).at(0).toBool(), false);
  EXPECT_EQ(updates.count(), 1);
  EXPECT_TRUE(next_->hasFocus());

  spin_->setFocus();
  QTest::keyClick(Box(), Qt::Key_Backtab, Qt::ShiftModifier);
  ASSERT_EQ(tabs.count(), 2);
  EXPECT_EQ(tabs.at(1).at(0).toBool(), true);
  EXPECT_EQ(updates.count(), 1);  // nothing was edited
}

TEST_F(EngrSpinTest, LeavingTheTextBoxCommits) {
  Type("250u");
  next_->setFocus();
  EXPECT_DOUBLE_EQ(spin_->Value(), 250e-6);
}

TEST_F(EngrSpinTest, SpinClicksStepTheDigitAtTheCursorAndKeepIt) {
  spin_->SetBaseUnit("s");
  spin_->SetValue(1234);  // 1.234 ks
  QSignalSpy updates(spin_, &EngrSpin::AfterUpdate);
  Box()->setCursorPosition(2);  // 1.|234: hundreds of seconds
  QTest::mouseClick(spin_->SpinControl()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Value(), 1334);
  EXPECT_EQ(Box()->text(), "1.334");
  EXPECT_EQ(Box()->cursorPosition(), 2);
  QTest::mouseClick(spin_->SpinControl()->DownButton(), Qt::LeftButton);
  QTest::mouseClick(spin_->SpinControl()->DownButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Value(), 1134);
  EXPECT_EQ(updates.count(), 3);
  EXPECT_TRUE(Box()->hasFocus());  // the spin button does not take the focus

  // The arrow keys step like the buttons.
  Box()->setCursorPosition(0);
  QTest::keyClick(Box(), Qt::Key_Up);
  EXPECT_EQ(spin_->Value(), 2134);
  QTest::keyClick(Box(), Qt::Key_Down);
  QTest::keyClick(Box(), Qt::Key_Down);
  EXPECT_EQ(spin_->Value(), 134);
  // The prefix is gone; the cursor stays on the units digit of the mantissa.
  EXPECT_EQ(Box()->text(), "134.0");
  EXPECT_EQ(Box()->cursorPosition(), 2);
  EXPECT_EQ(spin_->UnitsLabel()->text(), "s");
}

TEST_F(EngrSpinTest, ASpinClickCommitsAPendingEditFirst) {
  QSignalSpy updates(spin_, &EngrSpin::AfterUpdate);
  Type("3");
  Box()->setCursorPosition(0);
  QTest::mouseClick(spin_->SpinControl()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Value(), 4);
  EXPECT_EQ(updates.count(), 2);  // the commit, then the step

  Type("x");
  QTest::mouseClick(spin_->SpinControl()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Value(), 4);
  EXPECT_EQ(ui_.beeps, 1);
}

TEST_F(EngrSpinTest, LockedRefusesEditsWithAnInformationBox) {
  spin_->SetValue(5);
  spin_->SetLocked(true);
  QTest::keyClicks(Box(), "9");
  EXPECT_EQ(Box()->text(), "5.000");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Value is locked and cannot be edited");
  EXPECT_EQ(ui_.messages[0].icon, MsgIcon::kInformation);
  EXPECT_EQ(ui_.messages[0].caption, "PgxFrontVI");
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(spin_->Value(), 5);

  QTest::mouseClick(spin_->SpinControl()->UpButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Value(), 5);
  EXPECT_EQ(ui_.messages.size(), 2u);

  spin_->LockControl(false);
  QTest::keyClicks(Box(), "0");
  EXPECT_EQ(ui_.messages.size(), 2u);
}

TEST_F(EngrSpinTest, LocaleDecimalSeparatorBothWays) {
  spin_->setLocale(QLocale(QLocale::German, QLocale::Germany));
  spin_->SetValue(1234.5678);
  EXPECT_EQ(Box()->text(), "1,234");
  Type("2,5");
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(spin_->Value(), 2500);
  Type("2.5");
  QTest::keyClick(Box(), Qt::Key_Return);
  EXPECT_EQ(spin_->Value(), 2500);
  EXPECT_EQ(ui_.beeps, 1);
  QTest::keyClick(Box(), Qt::Key_Escape);
  Box()->setCursorPosition(2);  // 2,|500
  QTest::keyClick(Box(), Qt::Key_Up);
  EXPECT_EQ(spin_->Value(), 2600);
}

TEST_F(EngrSpinTest, AValueThatCannotBeShownIsLogged) {
  QTemporaryDir dir;
  const QByteArray saved = qgetenv(kErrorLogEnv);
  qputenv(kErrorLogEnv, dir.filePath("err.txt").toUtf8());
  spin_->SetMax(INFINITY);
  spin_->SetValue(INFINITY);
  qputenv(kErrorLogEnv, saved);
  EXPECT_EQ(Box()->text(), "");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].icon, MsgIcon::kCritical);
  QFile log(dir.filePath("err.txt"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QByteArray record = log.readAll();
  EXPECT_TRUE(record.contains("  Error: 6 Overflow\r\n  Mod: EngrSpin; Proc: ConvertValue2Engr\r\n"));
}

TEST_F(EngrSpinTest, DataParametersAndTheValueArrayMode) {
  spin_->SetValue(5);
  EXPECT_TRUE(spin_->SetDataParameters(0, 1, 0.5, 1e-12));
  EXPECT_EQ(spin_->Value(), 1);
  spin_->SetValueArray("0.8E-9;1.6E-9");
  EXPECT_EQ(spin_->Value(), 1.6e-9);
  EXPECT_FALSE(spin_->SetDataParameters(0, 2, 0, 0));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Illegal Mode for call");
  EXPECT_EQ(spin_->Max(), 1);
  QTest::mouseClick(spin_->SpinControl()->DownButton(), Qt::LeftButton);
  EXPECT_EQ(spin_->Value(), 0.8e-9);
  EXPECT_EQ(Box()->text(), "800.0");
  EXPECT_EQ(spin_->UnitsLabel()->text(), "p");
}

TEST_F(EngrSpinTest, AuxValueInOtherUnits) {
  spin_->SetBaseUnit("s");
  spin_->SetReciprocal(true);
  spin_->SetAuxUnits("Hz");
  spin_->SetValue(1e-6);
  EXPECT_DOUBLE_EQ(spin_->AuxValue(), 1e6);
  EXPECT_EQ(Box()->toolTip(), "= 1.000 MHz");
  spin_->SetAuxValue(250);
  EXPECT_DOUBLE_EQ(spin_->Value(), 4e-3);
}

TEST_F(EngrSpinTest, DesignTimeLetsThrowAndLeaveThePropertyAlone) {
  spin_->SetUserMode(false);
  try {
    spin_->SetMaxExponent(4);
    ADD_FAILURE() << "no error";
  } catch (const pgx::auto_::com_error& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x800401F5u);
    EXPECT_STREQ(e.what(), "Exponent must be a multiple of 3");
  }
  EXPECT_EQ(spin_->MaxExponent(), 12);
  spin_->SetUserMode(true);
  spin_->SetMaxExponent(4);
  EXPECT_EQ(spin_->MaxExponent(), 3);
}

TEST(EngrSpinPersistenceTest, SavesKeysTypesAndDefaultsInOrder) {
  EngrSpin spin;
  MemoryPropertyBag bag;
  spin.SaveProperties(bag);
  const std::vector<std::pair<QString, QVariant>> expected = {
      {"BaseUnit", QString()},
      {"Caption", QString()},
      {"CaptionAlignment", QVariant::fromValue<qint32>(1)},
      {"CaptionWidth", QVariant::fromValue<qint16>(0)},
      {"DefaultValue", 0.0},
      {"Enabled", true},
      {"Locked", false},
      {"Max", 1e12},
      {"MaxExponent", QVariant::fromValue<qint32>(12)},
      {"Min", -1e12},
      {"MinExponent", QVariant::fromValue<qint32>(-12)},
      {"NumberFormat", QString("##0.0##")},
      {"SignificantDigits", QVariant::fromValue<qint16>(4)},
      {"SpinCtlVisible", true},
      {"ValueArray", QString()},
  };
  ASSERT_EQ(bag.Entries().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(bag.Entries()[i].first, expected[i].first) << i;
    EXPECT_EQ(bag.Entries()[i].second.metaType(), expected[i].second.metaType())
        << expected[i].first.toStdString();
    EXPECT_EQ(bag.Entries()[i].second, expected[i].second) << expected[i].first.toStdString();
  }
}

TEST(EngrSpinPersistenceTest, LoadsWhatWasSavedAndShowsTheDefaultValue) {
  EngrSpin source;
  source.SetBaseUnit("V");
  source.SetCaption("High");
  source.SetCaptionAlignment(EngrSpin::kAlignLeft);
  source.SetCaptionWidth(60);
  source.SetDefaultValue(2.5);
  source.SetLocked(true);
  source.SetMax(10);
  source.SetMaxExponent(0);
  source.SetMin(-10);
  source.SetMinExponent(-3);
  source.SetNumberFormat("0.00");
  source.SetSignificantDigits(5);
  source.SetSpinCtlVisible(false);
  source.setEnabled(false);
  MemoryPropertyBag bag;
  source.SaveProperties(bag);

  EngrSpin loaded;
  QSignalSpy changes(&loaded, &EngrSpin::PropertyChanged);
  loaded.LoadProperties(bag);
  EXPECT_EQ(changes.count(), 0);  // reading is not a change
  EXPECT_EQ(loaded.BaseUnit(), "V");
  EXPECT_EQ(loaded.Caption(), "High");
  EXPECT_EQ(loaded.CaptionAlignment(), EngrSpin::kAlignLeft);
  EXPECT_EQ(loaded.CaptionWidth(), 60);
  EXPECT_TRUE(loaded.Locked());
  EXPECT_FALSE(loaded.isEnabled());
  EXPECT_EQ(loaded.Max(), 10);
  EXPECT_EQ(loaded.MaxExponent(), 0);
  EXPECT_EQ(loaded.MinExponent(), -3);
  EXPECT_EQ(loaded.NumberFormat(), "0.00");
  EXPECT_EQ(loaded.SignificantDigits(), 5);
  EXPECT_FALSE(loaded.SpinCtlVisible());
  EXPECT_EQ(loaded.Value(), 2.5);
  EXPECT_EQ(loaded.TextBox()->text(), "2.5000");
  EXPECT_EQ(loaded.UnitsLabel()->text(), "V");
}

TEST(EngrSpinPersistenceTest, AStoredFormWithBadValuesStillLoads) {
  QTemporaryDir dir;
  QSettings settings(dir.filePath("form.ini"), QSettings::IniFormat);
  settings.setValue("esWidth/MaxExponent", "7");  // a text store gives back text
  settings.setValue("esWidth/SignificantDigits", "40");
  settings.setValue("esWidth/Max", "1e-3");
  SettingsPropertyBag bag(settings, "esWidth");
  EngrSpin spin;
  spin.SetUserMode(false);
  spin.LoadProperties(bag);
  EXPECT_EQ(spin.MaxExponent(), 6);
  EXPECT_EQ(spin.SignificantDigits(), 10);
  EXPECT_EQ(spin.Max(), 1e-3);
  EXPECT_EQ(spin.NumberFormat(), "##0.0##");  // absent: the default
  spin.SaveProperties(bag);
  EXPECT_EQ(settings.value("esWidth/SignificantDigits").toInt(), 10);
}

}  // namespace
}  // namespace pgx::panel
