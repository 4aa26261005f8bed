// Channel discovery from the instrument's "*OPT?" answer, and the collection's members.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "automation/comptr.h"
#include "server/channel/channels.h"
#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using testing::RecordedInstrument;

struct Discovery {
  const char* name;
  const char* answer;
  int count;
  const char* slot1;
  const char* slot2;
};

class ChannelDiscovery : public ::testing::TestWithParam<Discovery> {};

TEST_P(ChannelDiscovery, ReadsTheFrontEndsOfBothSlots) {
  const Discovery& c = GetParam();
  RecordedInstrument instrument(c.answer);
  auto_::ComPtr<IChannels> itf;
  ASSERT_EQ(instrument->get_Channels(itf.ReleaseAndGetAddressOf()), S_OK);
  LONG count = -1;
  ASSERT_EQ(itf->get_Count(&count), S_OK);
  EXPECT_EQ(count, c.count);
  auto* channels = static_cast<Channels*>(itf.Get());
  EXPECT_EQ(channels->FrontEndName(0), c.slot1);
  EXPECT_EQ(channels->FrontEndName(1), c.slot2);
}

INSTANTIATE_TEST_SUITE_P(Answers, ChannelDiscovery,
                         ::testing::Values(Discovery{"Two", "M4030A,M4040A", 2, "M4030A", "M4040A"},
                                           Discovery{"NoComma", "M4030A", 1, "M4030A", ""},
                                           Discovery{"BlankSecondField", "M4030A ,  ", 1, "M4030A", ""},
                                           Discovery{"TwoWords", "M4030A REV2,Q520A", 2, "M4030A", "Q520A"},
                                           Discovery{"SemicolonEndsTheField", "M4030A;X,M4040A", 1, "M4030A",
                                                     ""},
                                           Discovery{"BlankFirstField", "  ,M4040A", 1, "", "M4040A"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Channels, AnInstrumentWithoutFrontEndsHasNoChannels) {
  RecordedInstrument instrument(" , ");
  auto_::ComPtr<IChannels> channels;
  ASSERT_EQ(instrument->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
  LONG count = -1;
  EXPECT_EQ(channels->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  IChannel* channel = nullptr;
  EXPECT_EQ(channels->get_Item(1, &channel), E_INVALIDARG);
  IUnknown* items = nullptr;
  EXPECT_EQ(channels->get__NewEnum(&items), kErrRefreshFailed);
  EXPECT_EQ(items, nullptr);
}

TEST(Channels, ItemsAreNumberedFromOne) {
  RecordedInstrument instrument("M4030A,M4040A");
  auto_::ComPtr<IChannels> channels;
  ASSERT_EQ(instrument->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
  auto_::ComPtr<IChannel> second;
  ASSERT_EQ(channels->get_Item(2, second.ReleaseAndGetAddressOf()), S_OK);
  LONG number = 0;
  EXPECT_EQ(second->get_Number(&number), S_OK);
  EXPECT_EQ(number, 2);
  IChannel* none = nullptr;
  EXPECT_EQ(channels->get_Item(0, &none), E_INVALIDARG);
  EXPECT_EQ(channels->get_Item(3, &none), E_INVALIDARG);
  EXPECT_EQ(channels->get_Item(std::numeric_limits<LONG>::min(), &none), E_INVALIDARG);
  EXPECT_EQ(channels->get_Item(std::numeric_limits<LONG>::max(), &none), E_INVALIDARG);
  auto_::ComPtr<IInstrument> parent;
  ASSERT_EQ(second->get_Parent(parent.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(parent.Get(), instrument.instrument.Get());
}

TEST(Channels, RefreshMakesNewChannelsAndLeavesTheOldOnesUsable) {
  RecordedInstrument instrument("M4030A,M4040A");
  auto_::ComPtr<IChannels> channels;
  ASSERT_EQ(instrument->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
  auto_::ComPtr<IChannel> before;
  ASSERT_EQ(channels->get_Item(1, before.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(channels->Refresh(), S_OK);
  LONG count = 0;
  EXPECT_EQ(channels->get_Count(&count), S_OK);
  EXPECT_EQ(count, 2);
  auto_::ComPtr<IChannel> after;
  ASSERT_EQ(channels->get_Item(1, after.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_NE(before.Get(), after.Get());
  LONG number = 0;
  EXPECT_EQ(before->get_Number(&number), S_OK);
  EXPECT_EQ(number, 1);
}

TEST(Channels, AFailedDiscoveryFailsCount) {
  RecordedInstrument instrument("");
  instrument.driver.Fail(driver::testing::Scpi{"*OPT?"}, VI_ERROR_TMO);
  auto_::ComPtr<IChannels> channels;
  ASSERT_EQ(instrument->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
  LONG count = -1;
  EXPECT_EQ(channels->get_Count(&count), kErrDriver);
}

TEST(Channels, EnumerateTheChannels) {
  RecordedInstrument instrument("M4030A,M4040A");
  auto_::ComPtr<IChannels> channels;
  ASSERT_EQ(instrument->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
  auto_::ComPtr<IUnknown> unknown;
  ASSERT_EQ(channels->get__NewEnum(unknown.ReleaseAndGetAddressOf()), S_OK);
  auto_::ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(unknown.As(&items), S_OK);
  VARIANT item[3];
  ULONG fetched = 0;
  EXPECT_EQ(items->Next(3, item, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  for (ULONG i = 0; i < fetched; ++i) {
    EXPECT_EQ(item[i].vt, VT_DISPATCH);
    VariantClear(&item[i]);
  }
}

}  // namespace
}  // namespace pgx::server
