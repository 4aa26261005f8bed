#include "server/testing/recorded_instrument.h"

#include <stdexcept>
#include <string>

#include "automation/errorinfo.h"
#include "automation/variant.h"
#include "server/core/pgx_gen.h"

namespace pgx::server::testing {

RecordedInstrument::RecordedInstrument(std::string_view front_ends) {
  if (FAILED(PgxGen::CreateInstance(IID_IPgxGen, reinterpret_cast<void**>(root.ReleaseAndGetAddressOf()))) ||
      FAILED(root->get_Instruments(instruments.ReleaseAndGetAddressOf())))
    throw std::runtime_error("no root object");
  auto_::Variant first(LONG{1});
  if (FAILED(instruments->get_Item(first, instrument.ReleaseAndGetAddressOf())) || !instrument)
    throw std::runtime_error("no instrument on the bench");
  if (!front_ends.empty()) {
    driver.Answer("*OPT?", front_ends);
    VARIANT_BOOL open = VARIANT_FALSE;
    if (FAILED(instrument->get_Open(VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE, &open)) || !open)
      throw std::runtime_error("the instrument did not open");
  }
  driver.ClearCalls();
  SetErrorInfo(0, nullptr);
}

RecordedInstrument::~RecordedInstrument() {
  instrument = nullptr;
  instruments = nullptr;
  root = nullptr;
}

auto_::ComPtr<IChannel> RecordedInstrument::Channel(LONG number) {
  auto_::ComPtr<IChannels> channels;
  auto_::ComPtr<IChannel> channel;
  if (FAILED(instrument->get_Channels(channels.ReleaseAndGetAddressOf())) || !channels ||
      FAILED(channels->get_Item(number, channel.ReleaseAndGetAddressOf())) || !channel)
    throw std::runtime_error("the instrument has no channel " + std::to_string(number));
  return channel;
}

std::u16string TakeErrorDescription(GUID* guid) {
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK || !info) return u"";
  BSTR text = nullptr;
  info->GetDescription(&text);
  if (guid) info->GetGUID(guid);
  std::u16string description(auto_::BstrView(text));
  SysFreeString(text);
  info->Release();
  return description;
}

std::u16string TakeErrorDescription() {
  return TakeErrorDescription(nullptr);
}

std::string TakeErrorText() {
  std::string text;
  auto_::Utf16ToUtf8(TakeErrorDescription(), text);
  return text;
}

}  // namespace pgx::server::testing
