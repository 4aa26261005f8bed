#include "panel/controls/cbo_enhanced.h"

#include <gtest/gtest.h>

namespace pgx::panel {
namespace {

// The arming sources of a page, with their enumeration values as data.
void FillSources(CboEnhanced& cbo) {
  cbo.AddItemData(0, "Immediate");
  cbo.AddItemData(1, "External");
  cbo.AddItemData(7, "VXI ECLT 0");
  cbo.AddItemData(-5, "Manual");
}

TEST(CboEnhancedTest, EntriesCarryTheirData) {
  CboEnhanced cbo;
  EXPECT_EQ(cbo.GetCurrItemData(), -1);  // empty
  FillSources(cbo);
  cbo.AddItemData(7, "VXI ECLT 0 again");
  EXPECT_EQ(cbo.GetCurrItemData(), 0);
  EXPECT_TRUE(cbo.SetListIndexByItemData(7));
  EXPECT_EQ(cbo.currentIndex(), 2);  // the first entry with the datum
  EXPECT_TRUE(cbo.SetListIndexByItemData(-5));
  EXPECT_EQ(cbo.GetCurrItemData(), -5);
  EXPECT_FALSE(cbo.SetListIndexByItemData(3));
  EXPECT_EQ(cbo.currentText(), "Manual");
  cbo.setCurrentIndex(-1);
  EXPECT_EQ(cbo.GetCurrItemData(99), 99);
  cbo.Clear();
  EXPECT_EQ(cbo.count(), 0);
}

TEST(CboEnhancedTest, SlotsRememberASelectionEach) {
  CboEnhanced cbo;
  FillSources(cbo);
  cbo.setCurrentIndex(2);
  cbo.SaveListIndex(1);
  cbo.setCurrentIndex(0);
  cbo.SaveListIndex(2);
  cbo.setCurrentIndex(3);

  EXPECT_TRUE(cbo.RecallListIndex(1));
  EXPECT_EQ(cbo.currentIndex(), 2);
  EXPECT_TRUE(cbo.RecallListIndex(2));
  EXPECT_EQ(cbo.currentIndex(), 0);
  EXPECT_FALSE(cbo.RecallListIndex(3));  // never saved
  EXPECT_EQ(cbo.currentIndex(), 0);

  // The slots outlive a refill; an index the shorter list no longer has is not recalled.
  cbo.Clear();
  cbo.AddItemData(0, "Immediate");
  cbo.AddItemData(1, "External");
  EXPECT_FALSE(cbo.RecallListIndex(1));
  EXPECT_EQ(cbo.currentIndex(), 0);
  cbo.setCurrentIndex(1);
  EXPECT_TRUE(cbo.RecallListIndex(2));
  EXPECT_EQ(cbo.currentIndex(), 0);
}

TEST(CboEnhancedTest, EnableAndRecallKeepsTheUsersChoiceAcrossADisabledSpell) {
  CboEnhanced cbo;
  FillSources(cbo);
  cbo.setCurrentIndex(1);
  cbo.EnableAndRecall(4, false);
  EXPECT_FALSE(cbo.isEnabled());
  cbo.setCurrentIndex(3);  // a download writes while the list is disabled
  cbo.EnableAndRecall(4, false);
  cbo.EnableAndRecall(4, true);
  EXPECT_TRUE(cbo.isEnabled());
  EXPECT_EQ(cbo.currentIndex(), 1);
  cbo.setCurrentIndex(2);
  cbo.EnableAndRecall(4, true);  // already enabled: nothing recalled
  EXPECT_EQ(cbo.currentIndex(), 2);
}

}  // namespace
}  // namespace pgx::panel
