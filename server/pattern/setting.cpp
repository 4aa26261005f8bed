#include "server/pattern/setting.h"

#include "driver/pgxgen.h"
#include "server/pattern/file_name.h"

namespace pgx::server {

namespace {

// The learn string is read into a buffer that grows until the answer fits, up to this size (the driver
// refuses larger answers anyway).
constexpr std::size_t kMaxLearnString = std::size_t{16} << 20;

}  // namespace

// A learn string cut to a buffer would restore a different setting (or none: the cut ends inside a
// command), so the buffer grows until the whole answer fits.
HRESULT Setting::GetValue(BSTR* value) noexcept {
  CallFrame frame("Setting.Value");
  if (!value) return ReportError(E_POINTER);
  TextBuffer answer;
  for (std::size_t size = TextBuffer::kAnswerSize;; size *= 4) {
    if (HRESULT hr = answer.Reserve(size); FAILED(hr)) return ReportError(hr);
    const auto capacity = static_cast<ViInt32>(answer.capacity());
    if (HRESULT hr = CheckStatus(pgxgen_cmdString_Q(GetSession(), "*LRN?", capacity, answer.Data()));
        FAILED(hr))
      return hr;
    answer.TakeWrittenText();
    if (answer.size() + 1 < answer.capacity() || answer.capacity() >= kMaxLearnString) break;
  }
  BSTR text = nullptr;
  if (HRESULT hr = answer.ToBstr(&text); FAILED(hr)) return ReportError(hr);
  *value = text;
  return S_OK;
}

STDMETHODIMP Setting::LoadFromFile(BSTR file_name) {
  CallFrame frame("Setting.LoadFromFile");
  TextBuffer name;
  if (HRESULT hr = NarrowFileName(file_name, name); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_settingFile(GetSession(), name.c_str()));
}

// The driver and the instrument judge the memory number.
STDMETHODIMP Setting::LoadFromMem(SHORT setting_number) {
  CallFrame frame("Setting.LoadFromMem");
  return CheckStatus(pgxgen_settingRecall(GetSession(), setting_number));
}

STDMETHODIMP Setting::SaveToFile(BSTR file_name) {
  CallFrame frame("Setting.SaveToFile");
  TextBuffer name;
  if (HRESULT hr = NarrowFileName(file_name, name); FAILED(hr)) return ReportError(hr);
  return CheckStatus(pgxgen_settingFile_Q(GetSession(), name.c_str()));
}

STDMETHODIMP Setting::SaveToMem(SHORT setting_number) {
  CallFrame frame("Setting.SaveToMem");
  return CheckStatus(pgxgen_settingStore(GetSession(), setting_number));
}

}  // namespace pgx::server
