#include "server/session/instruments.h"

#include <cstring>

#include "automation/enum_variant.h"
#include "driver/pgxgen.h"
#include "server/core/messages.h"
#include "server/session/err.h"
#include "server/session/instrument.h"

namespace pgx::server {

namespace {

// The VISA attributes of a resource, in the order they are read, with the field of the record each fills.
struct AttributeField {
  ViAttr attribute;
  std::size_t offset;
};
constexpr AttributeField kAttributeFields[] = {
    {VI_ATTR_RSRC_IMPL_VERSION, offsetof(ViAttributeInfo, RsrcImplVersion)},
    {VI_ATTR_RSRC_LOCK_STATE, offsetof(ViAttributeInfo, RsrcLockState)},
    {VI_ATTR_RSRC_SPEC_VERSION, offsetof(ViAttributeInfo, RsrcSpecVersion)},
    {VI_ATTR_INTF_NUM, offsetof(ViAttributeInfo, IntfNum)},
    {VI_ATTR_INTF_TYPE, offsetof(ViAttributeInfo, IntfType)},
    {VI_ATTR_GPIB_PRIMARY_ADDR, offsetof(ViAttributeInfo, GpibPriAddr)},
    {VI_ATTR_GPIB_SECONDARY_ADDR, offsetof(ViAttributeInfo, GpibSecAddr)},
    {VI_ATTR_SLOT, offsetof(ViAttributeInfo, Slot)},
    {VI_ATTR_VXI_LA, offsetof(ViAttributeInfo, VxiLa)},
    {VI_ATTR_MODEL_CODE, offsetof(ViAttributeInfo, ModelCode)},
};
constexpr ViUInt16 kManufacturerId = 4095;
constexpr ViUInt32 kOpenTimeout = 2500;

// Closes a VISA session or resource manager on every path.
class ViCloser {
 public:
  explicit ViCloser(ViObject object) : object_(object) {}
  ~ViCloser() { viClose(object_); }
  ViCloser(const ViCloser&) = delete;
  ViCloser& operator=(const ViCloser&) = delete;

 private:
  ViObject object_;
};

}  // namespace

Instruments::Instruments() noexcept = default;
Instruments::~Instruments() = default;

Err* Instruments::FindErrorObject() noexcept {
  if (!err_) err_.Create(this);
  return err_.get();
}

void Instruments::Clear() noexcept {
  CallFrame frame("Instruments::Clear");
  entries_.clear();
  initialised_ = false;
}

// Makes room for the instruments of `expected` resources. Any number of resources is accepted: a machine
// with many serial ports must still list its pulse generators.
HRESULT Instruments::Init(ViUInt32 expected) noexcept {
  CallFrame frame("Instruments::Init");
  Clear();
  if (expected < 1) return ReportError(E_INVALIDARG);
  try {
    entries_.reserve(expected);
  } catch (...) {
    return ReportError(E_OUTOFMEMORY);
  }
  initialised_ = true;
  return S_OK;
}

HRESULT Instruments::Add(Instrument** added) noexcept {
  CallFrame frame("Instruments::Add");
  if (!initialised_) return ReportError(kErrRefreshFailed);
  try {
    entries_.push_back(std::make_unique<ChildHolder<Instrument>>());
  } catch (...) {
    return ReportError(kErrRefreshFailed);
  }
  if (HRESULT hr = entries_.back()->Create(Parent()); FAILED(hr)) {
    entries_.pop_back();
    return ReportError(hr);
  }
  *added = entries_.back()->get();
  return S_OK;
}

HRESULT Instruments::GetInstrumentAtIndex(LONG index, Instrument** out) noexcept {
  CallFrame frame("Instruments::GetInstrumentAtIndex");
  if (!initialised_) return ReportError(kErrRefreshFailed);
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return ReportError(E_INVALIDARG);
  *out = entries_[index]->get();
  return S_OK;
}

HRESULT Instruments::LoadResourceInfo(ViSession manager, const char* resource_name) noexcept {
  CallFrame frame("Instruments::LoadResourceInfo");
  // Only what the driver opens with an identity check is a pulse generator; a warning counts as no. A
  // session the driver opened with a warning is closed all the same, or every Refresh would leak one.
  ViSession session = 0;
  const ViStatus identified = pgxgen_init(resource_name, 1, 0, &session);
  if (identified >= VI_SUCCESS && session != 0) pgxgen_close(session);
  if (identified != VI_SUCCESS) return S_OK;

  ViAttributeInfo attributes{};
  ViSession resource = 0;
  if (HRESULT hr = CheckStatus(viOpen(manager, resource_name, VI_NO_LOCK, kOpenTimeout, &resource));
      FAILED(hr))
    return hr;
  {
    ViCloser close_resource(resource);
    attributes.ManfId = kManufacturerId;
    for (const AttributeField& field : kAttributeFields) {
      ViStatus status =
          viGetAttribute(resource, field.attribute, reinterpret_cast<char*>(&attributes) + field.offset);
      if (status != VI_SUCCESS && status != VI_ERROR_NSUP_ATTR) return CheckStatus(status);
    }
  }
  Instrument* instrument = nullptr;
  if (HRESULT hr = Add(&instrument); FAILED(hr)) return hr;
  if (HRESULT hr = GetInstrumentAtIndex(static_cast<LONG>(entries_.size()) - 1, &instrument); FAILED(hr))
    return hr;
  return ReportError(instrument->SetResource(resource_name, attributes));
}

STDMETHODIMP Instruments::Refresh() {
  CallFrame frame("Instruments.Refresh");
  ViSession manager = 0;
  if (HRESULT hr = CheckStatus(viOpenDefaultRM(&manager)); FAILED(hr)) return hr;
  ViCloser close_manager(manager);
  refreshed_ = true;
  Clear();
  ViFindList list = 0;
  ViUInt32 count = 0;
  char description[VI_FIND_BUFLEN] = {};
  if (HRESULT hr = CheckStatus(viFindRsrc(manager, "?*INSTR", &list, &count, description)); FAILED(hr))
    return hr;
  if (count == 0) return S_OK;
  if (HRESULT hr = Init(count); FAILED(hr)) return hr;
  for (ViUInt32 i = 0; i < count; ++i) {
    description[sizeof description - 1] = '\0';
    if (HRESULT hr = LoadResourceInfo(manager, description); FAILED(hr)) return hr;
    if (i + 1 < count) {
      if (HRESULT hr = CheckStatus(viFindNext(list, description)); FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

STDMETHODIMP Instruments::get_Count(LONG* value) {
  CallFrame frame("Instruments.Count");
  if (!value) return ReportError(E_POINTER);
  if (!refreshed_) {
    if (HRESULT hr = Refresh(); FAILED(hr)) return ReportError(hr);
  }
  *value = static_cast<LONG>(entries_.size());
  return S_OK;
}

STDMETHODIMP Instruments::get_Item(VARIANT index, IInstrument** value) {
  CallFrame frame("Instruments.Item");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  // Like Count, Item looks for the instruments first when nobody has yet: Item(1) of a bus with
  // instruments is never "nothing".
  if (!refreshed_) {
    if (HRESULT hr = Refresh(); FAILED(hr)) return ReportError(hr);
  }
  const VARIANT* key = &index;
  if (key->vt == (VT_VARIANT | VT_BYREF) && key->pvarVal) key = key->pvarVal;
  Instrument* found = nullptr;
  switch (key->vt) {
    case VT_I2:
    case VT_I4:
    case VT_I2 | VT_BYREF:
    case VT_I4 | VT_BYREF: {
      LONG number = key->vt == VT_I2                ? key->iVal
                    : key->vt == VT_I4              ? key->lVal
                    : key->vt == (VT_I2 | VT_BYREF) ? *key->piVal
                                                    : *key->plVal;
      if (number >= 1 && static_cast<std::size_t>(number) <= entries_.size())
        found = entries_[number - 1]->get();
      break;
    }
    case VT_BSTR:
    case VT_BSTR | VT_BYREF: {
      BSTR name = key->vt == VT_BSTR ? key->bstrVal : *key->pbstrVal;
      for (const auto& entry : entries_) {
        BSTR own = nullptr;
        if (SUCCEEDED(entry->get()->get_Name(&own)) && auto_::BstrView(own) == auto_::BstrView(name)) {
          found = entry->get();
        }
        SysFreeString(own);
        if (found) break;
      }
      break;
    }
    default:
      break;
  }
  if (!found) return S_OK;
  *value = found->GetInterface();
  (*value)->AddRef();
  return S_OK;
}

STDMETHODIMP Instruments::get__NewEnum(IUnknown** value) {
  CallFrame frame("Instruments._NewEnum");
  if (!value) return ReportError(E_POINTER);
  *value = nullptr;
  // Like Count and Item: For Each over a collection nobody has refreshed yet still sees the instruments.
  if (!refreshed_) {
    if (HRESULT hr = Refresh(); FAILED(hr)) return ReportError(hr);
  }
  std::vector<VARIANT> items;
  try {
    items.resize(entries_.size());
  } catch (...) {
    return ReportError(E_OUTOFMEMORY);
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    VariantInit(&items[i]);
    items[i].vt = VT_DISPATCH;
    items[i].pdispVal = entries_[i]->get()->GetDispatch();  // borrowed: the enumerator copies it
  }
  IEnumVARIANT* enumerator = nullptr;
  if (HRESULT hr = auto_::CreateEnumVariant(std::span<const VARIANT>(items), &enumerator); FAILED(hr))
    return ReportError(hr);
  *value = enumerator;
  return S_OK;
}

STDMETHODIMP Instruments::get_Err(IErr** value) {
  CallFrame frame("Instruments.Err");
  return GetChild(err_, value);
}

}  // namespace pgx::server
