// Objects live exactly as long as someone holds them: no reference cycle keeps a tree alive, and a client
// that keeps only a child keeps what the child needs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/module.h"
#include "automation/variant.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using ::testing::ElementsAre;
using testing::RecordedInstrument;

long LiveObjects() {
  return auto_::Module::ObjectCount();
}

TEST(Lifetime, ReleasingTheRootAndTheInstrumentLeavesNothing) {
  {
    RecordedInstrument instrument("M4030A,M4040A");
    auto_::ComPtr<IChannels> channels;
    ASSERT_EQ(instrument->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
    auto_::ComPtr<IErr> err;
    ASSERT_EQ(instrument->get_Err(err.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_GT(LiveObjects(), 5);
  }
  EXPECT_EQ(LiveObjects(), 0);
}

TEST(Lifetime, AChildAloneKeepsItsInstrumentAndSession) {
  driver::testing::RecordingDriver* driver = nullptr;
  auto_::ComPtr<IChannel> channel;
  {
    RecordedInstrument instrument("M4030A,M4040A");
    auto_::ComPtr<IChannels> channels;
    ASSERT_EQ(instrument->get_Channels(channels.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(channels->get_Item(2, channel.ReleaseAndGetAddressOf()), S_OK);
    channels = nullptr;
    instrument.driver.ClearCalls();
    instrument.instrument = nullptr;
    instrument.instruments = nullptr;
    instrument.root = nullptr;
    auto_::ComPtr<IInstrument> parent;
    ASSERT_EQ(channel->get_Parent(parent.ReleaseAndGetAddressOf()), S_OK);
    VARIANT_BOOL open = VARIANT_FALSE;
    EXPECT_EQ(parent->get_IsOpen(&open), S_OK);
    EXPECT_EQ(open, VARIANT_TRUE);
    EXPECT_TRUE(instrument.driver.CallsTo("pgxgen_close").empty());
    parent = nullptr;
    driver = &instrument.driver;
    channel = nullptr;  // the last reference: the instrument closes its session
    EXPECT_THAT(driver->CallsTo("pgxgen_close"), ElementsAre("pgxgen_close(1)"));
  }
  EXPECT_EQ(LiveObjects(), 0);
}

TEST(Lifetime, TheErrorObjectAloneKeepsItsInstrument) {
  auto_::ComPtr<IErr> err;
  {
    RecordedInstrument instrument;
    ASSERT_EQ(instrument->get_Err(err.ReleaseAndGetAddressOf()), S_OK);
    instrument.instrument = nullptr;
    instrument.instruments = nullptr;
    instrument.root = nullptr;
    instrument.driver.QueueInstrumentError(-113, "Undefined header");
    BSTR text = nullptr;
    ASSERT_EQ(err->get_InstrumentErrors(&text), S_OK);
    EXPECT_EQ(auto_::BstrView(text), u"Instr. Error [-113]: Undefined header");
    SysFreeString(text);
    err = nullptr;
  }
  EXPECT_EQ(LiveObjects(), 0);
}

TEST(Lifetime, ARefreshLeavesTheInstrumentsClientsHold) {
  {
    RecordedInstrument instrument;
    ASSERT_EQ(instrument.instruments->Refresh(), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(instrument->get_Name(&name), S_OK);  // no longer in the collection, still usable
    EXPECT_EQ(auto_::BstrView(name), u"VXI0::8::INSTR");
    SysFreeString(name);
    auto_::ComPtr<IInstrument> fresh;
    ASSERT_EQ(instrument.instruments->get_Item(auto_::Variant(LONG{1}), fresh.ReleaseAndGetAddressOf()),
              S_OK);
    EXPECT_NE(fresh.Get(), instrument.instrument.Get());
  }
  EXPECT_EQ(LiveObjects(), 0);
}

}  // namespace
}  // namespace pgx::server
