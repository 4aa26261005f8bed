#include "server/channel/channels.h"

#include <vector>

#include "automation/enum_variant.h"
#include "server/channel/channel.h"
#include "server/core/messages.h"
#include "server/core/text_buffer.h"

namespace pgx::server {

namespace {

bool IsFieldCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ';
}

// The run of letters, digits and blanks at the start of `text`.
std::string_view LeadingField(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && IsFieldCharacter(text[n])) ++n;
  return text.substr(0, n);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

Channels::Channels() noexcept = default;
Channels::~Channels() = default;

void Channels::Clear() noexcept {
  CallFrame frame("Channels::Clear");
  for (ChildHolder<Channel>& channel : channels_) channel.Reset();
  filled_ = false;
  channel_count_ = 0;
}

// The answer to "*OPT?" names the front-ends of slot 1 and slot 2, separated by a comma: "M4030A,M4040A". A
// field is the run of letters, digits and blanks before (or after) the comma; any other character ends it.
// A blank field leaves its slot out; a field of several words names its model by the first.
HRESULT Channels::GetFrontEnds() noexcept {
  CallFrame frame("Channels::GetFrontEnds");
  TextBuffer answer;
  if (HRESULT hr = QueryText("*OPT?", answer); FAILED(hr)) return hr;
  front_end_count_ = 0;
  std::string_view fields[kMaxFrontEnds];
  fields[0] = LeadingField(answer.view());
  if (!fields[0].empty()) {
    std::string_view rest = answer.view().substr(fields[0].size());
    if (!rest.empty() && rest.front() == ',') fields[1] = LeadingField(rest.substr(1));
  }
  for (int slot = 0; slot < kMaxFrontEnds; ++slot) {
    std::string_view field = TrimBlanks(fields[slot]);
    if (field.empty()) continue;
    ++front_end_count_;
    try {
      front_end_names_[slot] = field.substr(0, field.find(' '));
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  return S_OK;
}

STDMETHODIMP Channels::Refresh() {
  CallFrame frame("Channels.Refresh");
  Clear();
  if (HRESULT hr = GetFrontEnds(); FAILED(hr)) return ReportError(hr);
  if (front_end_count_ == 0) return S_OK;
  filled_ = true;
  for (int slot = 0; slot < front_end_count_; ++slot) {
    if (HRESULT hr = channels_[slot].Create(Parent()); FAILED(hr)) return ReportError(hr);
    if (HRESULT hr = channels_[slot]->Init(slot, front_end_names_[slot].c_str()); FAILED(hr)) {
      channels_[slot].Reset();
      return ReportError(hr);
    }
    ++channel_count_;
  }
  return S_OK;
}

HRESULT Channels::FillOnDemand() noexcept {
  if (channel_count_ != 0) return S_OK;
  return GetInterface()->Refresh();
}

STDMETHODIMP Channels::get_Count(LONG* value) {
  CallFrame frame("Channels.Count");
  if (!value) return ReportError(E_POINTER);
  if (HRESULT hr = FillOnDemand(); FAILED(hr)) return ReportError(hr);
  *value = channel_count_;
  return S_OK;
}

HRESULT Channels::GetChannelAtIndex(LONGLONG index, IChannel** out) noexcept {
  CallFrame frame("Channels::GetChannelAtIndex");
  // An index outside the channels is the caller's error even when there are none.
  if (index < 0 || index >= channel_count_) return E_INVALIDARG;
  if (!filled_) return kErrRefreshFailed;
  return channels_[index]->QueryInterface(IID_IChannel, reinterpret_cast<void**>(out));
}

STDMETHODIMP Channels::get_Item(LONG index, IChannel** value) {
  CallFrame frame("Channels.Item");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  if (HRESULT hr = FillOnDemand(); FAILED(hr)) return ReportError(hr);
  // Widened first: no index a client passes can overflow on the way to the zero-based one.
  return ReportError(GetChannelAtIndex(LONGLONG{index} - 1, value));
}

STDMETHODIMP Channels::get__NewEnum(IUnknown** value) {
  CallFrame frame("Channels._NewEnum");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  LONG count = 0;
  if (HRESULT hr = GetInterface()->get_Count(&count); FAILED(hr)) return hr;
  if (!filled_) return ReportError(kErrRefreshFailed);
  VARIANT items[kMaxFrontEnds];
  for (int i = 0; i < channel_count_; ++i) {
    VariantInit(&items[i]);
    items[i].vt = VT_DISPATCH;
    items[i].pdispVal = channels_[i]->GetDispatch();  // borrowed: the enumerator copies it
  }
  IEnumVARIANT* enumerator = nullptr;
  HRESULT hr = auto_::CreateEnumVariant(std::span<const VARIANT>(items, channel_count_), &enumerator);
  if (FAILED(hr)) return ReportError(hr);
  *value = enumerator;
  return S_OK;
}

}  // namespace pgx::server
