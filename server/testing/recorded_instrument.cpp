#include "server/testing/recorded_instrument.h"

#include <gtest/gtest.h>

#include "automation/bstr.h"
#include "automation/errorinfo.h"
#include "server/core/pgx_gen.h"

namespace pgx::server::testing {

void RecordedInstrument::ExpectOk(HRESULT hr, const char* what) {
  EXPECT_EQ(hr, S_OK) << what << ": " << TakeErrorDescription();
}

RecordedInstrument::RecordedInstrument(std::string_view front_ends) {
  driver_.Answer("*OPT?", front_ends);
  ExpectOk(PgxGen::CreateInstance(IID_IPgxGen, root_.ReleaseAndGetAddressOfVoid()), "PgxGen");
  if (!root_) return;
  auto_::ComPtr<IInstruments> instruments;
  ExpectOk(root_->get_Instruments(instruments.ReleaseAndGetAddressOf()), "PgxGen.Instruments");
  if (!instruments) return;
  VARIANT first;
  VariantInit(&first);
  first.vt = VT_I4;
  first.lVal = 1;
  ExpectOk(instruments->get_Item(first, instrument_.ReleaseAndGetAddressOf()), "Instruments.Item");
  if (!instrument_) return;
  VARIANT_BOOL opened = VARIANT_FALSE;
  ExpectOk(instrument_->get_Open(VARIANT_TRUE, VARIANT_FALSE, VARIANT_FALSE, &opened), "Instrument.Open");
  EXPECT_EQ(opened, VARIANT_TRUE);
  driver_.ClearCalls();
}

RecordedInstrument::~RecordedInstrument() {
  instrument_ = nullptr;
  root_ = nullptr;
}

auto_::ComPtr<IChannel> RecordedInstrument::Channel(LONG number) {
  auto_::ComPtr<IChannel> channel;
  if (!instrument_) return channel;
  auto_::ComPtr<IChannels> channels;
  ExpectOk(instrument_->get_Channels(channels.ReleaseAndGetAddressOf()), "Instrument.Channels");
  if (!channels) return channel;
  ExpectOk(channels->get_Item(number, channel.ReleaseAndGetAddressOf()), "Channels.Item");
  return channel;
}

std::string RecordedInstrument::TakeErrorDescription() {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return {};
  BSTR description = nullptr;
  info->GetDescription(&description);
  info->Release();
  return auto_::Bstr::Attach(description).ToUtf8();
}

}  // namespace pgx::server::testing
