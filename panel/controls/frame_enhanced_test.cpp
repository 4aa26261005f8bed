#include "panel/controls/frame_enhanced.h"

#include <gtest/gtest.h>

#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "panel/controls/utils.h"

namespace pgx::panel {
namespace {

TEST(FrameEnhancedTest, ValueIsTheTagOfTheSelectedOption) {
  FrameEnhanced grp("Upload TO Instrument");
  QRadioButton* all = grp.AddOption("From ALL changed pages", "All");
  grp.AddOption("From the visible page ONLY", "Visible");
  EXPECT_EQ(grp.Value(), "");
  EXPECT_EQ(grp.ListIndex(), -1);
  QSignalSpy changed(&grp, &FrameEnhanced::ValueChanged);

  EXPECT_TRUE(grp.SetValue("Visible"));
  EXPECT_EQ(grp.Value(), "Visible");
  EXPECT_EQ(grp.ListIndex(), 1);
  EXPECT_FALSE(grp.SetValue("Vis"));  // the whole tag
  EXPECT_EQ(grp.Value(), "Visible");
  grp.SetListIndex(0);
  EXPECT_TRUE(all->isChecked());
  EXPECT_EQ(grp.Value(), "All");
  ASSERT_EQ(changed.count(), 2);
  EXPECT_EQ(changed.at(1).at(0).toString(), "All");
}

TEST(FrameEnhancedTest, TheUsersClickSelectsAndIsReported) {
  FrameEnhanced grp("Download FROM Instrument");
  grp.AddOption(" To ALL pages", "All");
  QRadioButton* visible = grp.AddOption(" To the visible page ONLY", "Visible");
  grp.SetValue("All");
  grp.show();
  QSignalSpy clicked(&grp, &FrameEnhanced::OptionClicked);
  QTest::mouseClick(visible, Qt::LeftButton);
  EXPECT_EQ(grp.Value(), "Visible");
  ASSERT_EQ(clicked.count(), 1);
  EXPECT_EQ(clicked.at(0).at(0).toInt(), 1);
}

TEST(FrameEnhancedTest, OptionsPlacedByAFormCountInTheirOrder) {
  FrameEnhanced grp;
  auto* layout = new QVBoxLayout(&grp);
  auto* first = new QRadioButton("Normal", &grp);
  auto* second = new QRadioButton("Compl.", &grp);
  SetTag(first, "0");
  SetTag(second, "1");
  layout->addWidget(first);
  layout->addWidget(second);
  second->setChecked(true);
  EXPECT_EQ(grp.Options().size(), 2);
  EXPECT_EQ(grp.ListIndex(), 1);
  EXPECT_EQ(grp.Value(), "1");
  EXPECT_TRUE(grp.SetValue("0"));
  EXPECT_FALSE(second->isChecked());
}

TEST(FrameEnhancedTest, FocusGoesToTheSelectedOption) {
  QWidget window;
  auto* layout = new QVBoxLayout(&window);
  auto* grp = new FrameEnhanced("Trigger Mode", &window);
  QRadioButton* cont = grp->AddOption("Continuous", "0");
  QRadioButton* gated = grp->AddOption("Gated", "1");
  QRadioButton* triggered = grp->AddOption("Triggered", "2");
  layout->addWidget(grp);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  // None selected: the first option that can take the focus.
  cont->setEnabled(false);
  grp->SetFocusOnOpt();
  EXPECT_TRUE(gated->hasFocus());

  grp->SetValue("2");
  grp->SetFocusOnOpt();
  EXPECT_TRUE(triggered->hasFocus());
}

}  // namespace
}  // namespace pgx::panel
