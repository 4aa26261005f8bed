// A small in-process server module built on the runtime: the proof that a generated library, the generic
// dispatcher, the registry and activation work together. Its IDL (testsrv.idl) has a member of every kind
// the dispatcher handles.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "automation/activation.h"
#include "automation/com_error.h"
#include "automation/dispatcher.h"
#include "automation/enum_variant.h"
#include "automation/errorinfo.h"
#include "automation/module.h"
#include "automation/object.h"
#include "automation/registration.h"
#include "automation/safearray.h"
#include "automation/testing/testsrv_idl.h"

namespace {

using pgx::auto_::Bstr;
using pgx::auto_::ComPtr;
using pgx::auto_::IDispatchImpl;
using pgx::auto_::Object;
using pgx::auto_::RaiseError;

constexpr const char16_t* kSource = u"TestSrv.Widget";

class Child final : public Object<Child, IDispatchImpl<IChild>> {
 public:
  Child(LONG index, IDispatch* parent) : index_(index), parent_(parent) {}

  STDMETHODIMP get_Index(LONG* value) override {
    if (!value) return E_POINTER;
    *value = index_;
    return S_OK;
  }
  STDMETHODIMP get_Parent(IDispatch** value) override {
    if (!value) return E_POINTER;
    return parent_.CopyTo(value);
  }
  STDMETHODIMP Items(IEnumVARIANT** items) override {
    if (!items) return E_POINTER;
    *items = nullptr;
    VARIANT values[2];
    for (LONG i = 0; i < 2; ++i) {
      values[i].vt = VT_I4;
      values[i].lVal = index_ + i;
    }
    return pgx::auto_::CreateEnumVariant(values, items);
  }
  IDispatch* parent() const { return parent_.Get(); }

 private:
  LONG index_;
  ComPtr<IDispatch> parent_;
};

// Bytes as an instrument may send them: "été" in Latin-1, which is not UTF-8.
constexpr const char* kLatin1Text = "\xE9t\xE9";
// The HRESULT of IProbe::Throw's com_error.
constexpr HRESULT kProbeError = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);

class Widget final : public Object<Widget, IDispatchImpl<IWidget>, IDispatchImpl<IWide>,
                                   IDispatchImpl<IProbe>, ISupportErrorInfo> {
 public:
  Widget() : name_(u"widget") {}

  STDMETHODIMP get_Name(BSTR* value) override {
    if (!value) return E_POINTER;
    *value = name_.Copy();
    return S_OK;
  }
  STDMETHODIMP put_Name(BSTR value) override {
    name_ = Bstr(pgx::auto_::BstrView(value));
    return S_OK;
  }
  STDMETHODIMP get_Count(LONG* value) override {
    if (!value) return E_POINTER;
    *value = count_;
    return S_OK;
  }
  STDMETHODIMP put_Count(LONG value) override {
    count_ = value;
    return S_OK;
  }
  STDMETHODIMP get_Level(TestColor output, DOUBLE* value) override {
    if (!value) return E_POINTER;
    if (output < TestColorRed || output > TestColorBlue) return Fail(E_INVALIDARG, u"No such output");
    *value = levels_[output];
    return S_OK;
  }
  STDMETHODIMP put_Level(TestColor output, DOUBLE value) override {
    if (output < TestColorRed || output > TestColorBlue) return Fail(E_INVALIDARG, u"No such output");
    levels_[output] = value;
    return S_OK;
  }
  STDMETHODIMP Format(LONG number, DOUBLE scale, BSTR suffix, BSTR* text) override {
    if (!text) return E_POINTER;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g ", number * scale);
    std::u16string out;
    pgx::auto_::Utf8ToUtf16(buf, out);
    out += pgx::auto_::BstrView(suffix);
    *text = SysAllocStringLen(out.data(), static_cast<UINT>(out.size()));
    return S_OK;
  }
  STDMETHODIMP Divide(LONG dividend, LONG divisor, LONG* quotient, LONG* remainder) override {
    if (!quotient) return E_POINTER;
    if (divisor == 0) return Fail(E_INVALIDARG, u"Division by zero");
    // The one quotient a LONG cannot hold.
    if (dividend == std::numeric_limits<LONG>::min() && divisor == -1)
      return Fail(DISP_E_OVERFLOW, u"Overflow");
    // The remainder is added to what the caller passed in, so tests see both directions.
    const long long sum = (remainder ? static_cast<long long>(*remainder) : 0) + dividend % divisor;
    if (remainder && (sum < std::numeric_limits<LONG>::min() || sum > std::numeric_limits<LONG>::max()))
      return Fail(DISP_E_OVERFLOW, u"Overflow");
    *quotient = dividend / divisor;
    if (remainder) *remainder = static_cast<LONG>(sum);
    return S_OK;
  }
  STDMETHODIMP get_Mode(LONG* length, TestColor* value) override {
    if (!value) return E_POINTER;
    *value = mode_;
    if (length) *length = length_;
    return S_OK;
  }
  STDMETHODIMP put_Mode(LONG* length, TestColor value) override {
    if (value < TestColorStart || value >= TestColorEnd) return Fail(E_INVALIDARG, u"Mode out of range");
    mode_ = value;
    if (length) length_ = *length;
    return S_OK;
  }
  STDMETHODIMP Fill(BYTE seed, SAFEARRAY** bytes) override {
    if (!bytes) return E_POINTER;
    if (!*bytes) {
      *bytes = SafeArrayCreateVector(VT_UI1, 0, 4);
      if (!*bytes) return E_OUTOFMEMORY;
    }
    if (SafeArrayGetDim(*bytes) != 1)
      return Fail(E_INVALIDARG, u"Only single-dimension arrays are permitted");
    pgx::auto_::SafeArrayData<BYTE> data(*bytes);
    if (FAILED(data.status())) return data.status();
    ULONG count = pgx::auto_::SafeArrayElementCount(*bytes);
    for (ULONG i = 0; i < count; ++i) data[i] = static_cast<BYTE>(seed + i);
    return S_OK;
  }
  STDMETHODIMP get_Child(IChild** value) override {
    if (!value) return E_POINTER;
    *value = nullptr;
    // Not cached: a cached child that holds its parent would keep both alive for ever.
    return Child::CreateInstance(IID_IChild, reinterpret_cast<void**>(value), 0,
                                 static_cast<IDispatch*>(static_cast<IWidget*>(this)));
  }
  STDMETHODIMP get_Item(VARIANT index, IChild** value) override {
    if (!value) return E_POINTER;
    *value = nullptr;
    VARIANT n;
    VariantInit(&n);
    if (FAILED(VariantChangeType(&n, &index, 0, VT_I4)))
      return Fail(DISP_E_TYPEMISMATCH, u"Index must be a number");
    if (n.lVal < 1 || n.lVal > 3) return Fail(E_INVALIDARG, u"Index out of range");
    return Child::CreateInstance(IID_IChild, reinterpret_cast<void**>(value), n.lVal,
                                 static_cast<IDispatch*>(static_cast<IWidget*>(this)));
  }
  STDMETHODIMP get__NewEnum(IUnknown** value) override {
    if (!value) return E_POINTER;
    *value = nullptr;
    VARIANT items[3];
    HRESULT hr = S_OK;
    for (LONG i = 0; i < 3; ++i) {
      VariantInit(&items[i]);
      VARIANT index;
      index.vt = VT_I4;
      index.lVal = i + 1;
      IChild* child = nullptr;
      if (SUCCEEDED(hr)) hr = get_Item(index, &child);
      items[i].vt = VT_DISPATCH;
      items[i].pdispVal = child;
    }
    IEnumVARIANT* e = nullptr;
    if (SUCCEEDED(hr)) hr = pgx::auto_::CreateEnumVariant(items, &e);
    for (auto& v : items) VariantClear(&v);
    *value = e;
    return hr;
  }
  STDMETHODIMP Fail(LONG code, VARIANT description) override {
    std::u16string text = u"Failure requested";
    if (description.vt == VT_BSTR) text = pgx::auto_::BstrView(description.bstrVal);
    return RaiseError(code, IID_IWidget, kSource, text);
  }
  STDMETHODIMP GetAttributes(TestAttributes* attributes) override {
    if (!attributes) return E_POINTER;
    *attributes = TestAttributes{0x00100000, 0, 0x00500000, 4095, 0, 2, 7, -1, 3, 24, 0x1234};
    return S_OK;
  }
  STDMETHODIMP Adopt(IChild* child, VARIANT_BOOL* same) override {
    if (!same) return E_POINTER;
    *same = VARIANT_FALSE;
    if (!child) return Fail(E_POINTER, u"No child given");
    ComPtr<IDispatch> parent;
    HRESULT hr = child->get_Parent(parent.ReleaseAndGetAddressOf());
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> a, b;
    if (parent) parent->QueryInterface(IID_IUnknown, a.ReleaseAndGetAddressOfVoid());
    QueryInterface(IID_IUnknown, b.ReleaseAndGetAddressOfVoid());
    *same = a && a == b ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP Flags(VARIANT_BOOL enable, TestColor color, LONG* result) override {
    if (!result) return E_POINTER;
    *result = (enable ? 100 : 0) + color;
    return S_OK;
  }
  STDMETHODIMP get_Enabled(VARIANT_BOOL* value) override {
    if (!value) return E_POINTER;
    *value = enabled_;
    return S_OK;
  }
  STDMETHODIMP put_Enabled(VARIANT_BOOL value) override {
    enabled_ = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP Echo(VARIANT value, VARIANT* copy) override {
    if (!copy) return E_POINTER;
    VariantInit(copy);
    return VariantCopyInd(copy, &value);
  }
  STDMETHODIMP Mix(LONG count, DOUBLE factor, BSTR text, DOUBLE* sum) override {
    if (!sum) return E_POINTER;
    *sum = count * factor + SysStringLen(text);
    return S_OK;
  }

#define PGX_WIDE_MEMBER(n)                           \
  STDMETHODIMP get_Member##n(LONG* value) override { \
    if (!value) return E_POINTER;                    \
    *value = 1##n - 100;                             \
    return S_OK;                                     \
  }
  PGX_WIDE_MEMBER(00)
  PGX_WIDE_MEMBER(01)
  PGX_WIDE_MEMBER(02)
  PGX_WIDE_MEMBER(03)
  PGX_WIDE_MEMBER(04)
  PGX_WIDE_MEMBER(05)
  PGX_WIDE_MEMBER(06)
  PGX_WIDE_MEMBER(07)
  PGX_WIDE_MEMBER(08)
  PGX_WIDE_MEMBER(09)
  PGX_WIDE_MEMBER(10)
  PGX_WIDE_MEMBER(11)
  PGX_WIDE_MEMBER(12)
  PGX_WIDE_MEMBER(13)
  PGX_WIDE_MEMBER(14)
  PGX_WIDE_MEMBER(15)
  PGX_WIDE_MEMBER(16)
  PGX_WIDE_MEMBER(17)
  PGX_WIDE_MEMBER(18)
  PGX_WIDE_MEMBER(19)
  PGX_WIDE_MEMBER(20)
  PGX_WIDE_MEMBER(21)
  PGX_WIDE_MEMBER(22)
  PGX_WIDE_MEMBER(23)
  PGX_WIDE_MEMBER(24)
  PGX_WIDE_MEMBER(25)
  PGX_WIDE_MEMBER(26)
  PGX_WIDE_MEMBER(27)
  PGX_WIDE_MEMBER(28)
  PGX_WIDE_MEMBER(29)
  PGX_WIDE_MEMBER(30)
  PGX_WIDE_MEMBER(31)
  PGX_WIDE_MEMBER(32)
  PGX_WIDE_MEMBER(33)
  PGX_WIDE_MEMBER(34)
  PGX_WIDE_MEMBER(35)
  PGX_WIDE_MEMBER(36)
  PGX_WIDE_MEMBER(37)
  PGX_WIDE_MEMBER(38)
#undef PGX_WIDE_MEMBER

  STDMETHODIMP MeasureTriggerLevels(LONG input, DOUBLE* level) override {
    if (!level) return E_POINTER;
    *level = input * 0.5;
    return S_OK;
  }

  STDMETHODIMP InstrumentText(BSTR* text) override {
    if (!text) return E_POINTER;
    *text = Bstr::FromUtf8OrLatin1(kLatin1Text).Detach();
    return S_OK;
  }
  STDMETHODIMP StrictText(BSTR* text) override {
    if (!text) return E_POINTER;
    *text = Bstr::FromUtf8(kLatin1Text).Detach();
    return S_OK;
  }
  // Throws after handing out a result, which the caller must not receive (and which must not leak).
  STDMETHODIMP Throw(TestThrow kind, BSTR* partial) override {
    if (!partial) return E_POINTER;
    *partial = SysAllocString(u"partial");
    switch (kind) {
      case TestThrowComError:
        RaiseError(kProbeError, IID_IProbe, kSource, u"The instrument went away");
        pgx::auto_::IssueError(kProbeError);
      case TestThrowComErrorWithoutInfo:
        throw pgx::auto_::com_error(kProbeError);
      case TestThrowComErrorOfSuccess:
        throw pgx::auto_::com_error(S_FALSE);
      case TestThrowRuntimeError:
        throw std::runtime_error("Lost the plot");
      case TestThrowLatin1RuntimeError:
        throw std::runtime_error(kLatin1Text);
      case TestThrowBadAlloc:
        throw std::bad_alloc();
      case TestThrowNonStandard:
        throw 42;
    }
    return S_OK;
  }

  STDMETHODIMP Defaults(SHORT i2, LONG i4, FLOAT r4, DOUBLE r8, BSTR text, VARIANT_BOOL boolean, BYTE ui1,
                        USHORT ui2, ULONG ui4, VARIANT* values) override {
    if (!values) return E_POINTER;
    VariantInit(values);
    constexpr ULONG kCount = 9;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, kCount);
    if (!array) return E_OUTOFMEMORY;
    {
      pgx::auto_::SafeArrayData<VARIANT> items(array);
      if (FAILED(items.status())) {
        SafeArrayDestroy(array);
        return items.status();
      }
      items[0].vt = VT_I2;
      items[0].iVal = i2;
      items[1].vt = VT_I4;
      items[1].lVal = i4;
      items[2].vt = VT_R4;
      items[2].fltVal = r4;
      items[3].vt = VT_R8;
      items[3].dblVal = r8;
      items[4].vt = VT_BSTR;
      items[4].bstrVal = SysAllocStringLen(text, SysStringLen(text));
      items[5].vt = VT_BOOL;
      items[5].boolVal = boolean;
      items[6].vt = VT_UI1;
      items[6].bVal = ui1;
      items[7].vt = VT_UI2;
      items[7].uiVal = ui2;
      items[8].vt = VT_UI4;
      items[8].ulVal = ui4;
    }
    values->vt = VT_ARRAY | VT_VARIANT;
    values->parray = array;
    return S_OK;
  }

  STDMETHODIMP Pause(LONG milliseconds, LONG* waited) override {
    if (!waited) return E_POINTER;
    if (milliseconds < 0 || milliseconds > 60000) return Fail(E_INVALIDARG, u"Pause out of range");
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    *waited = milliseconds;
    return S_OK;
  }

  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return riid == IID_IWidget || riid == IID_IWide || riid == IID_IProbe ? S_OK : S_FALSE;
  }

 private:
  HRESULT Fail(HRESULT hr, const char16_t* text) {
    return RaiseError(hr, IID_IWidget, kSource, text);
  }

  Bstr name_;
  LONG count_ = 0;
  double levels_[3] = {0, 0, 0};
  TestColor mode_ = TestColorEnd;
  LONG length_ = 0;
  VARIANT_BOOL enabled_ = VARIANT_TRUE;
};

pgx::auto_::ClassRegistration Registration() {
  return {CLSID_Widget,
          u"Widget Class",
          u"TestSrv.Widget.1",
          u"TestSrv.Widget",
          u"Apartment",
          pgx::auto_::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)),
          &TestSrvLib_TypeLibrary(),
          {{u"Control", u""}, {u"MiscStatus", u"0"}, {u"MiscStatus\\1", u"132497"}}};
}

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_Widget) return CLASS_E_CLASSNOTAVAILABLE;
  static pgx::auto_::ClassFactory<Widget> factory;
  return factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT DllCanUnloadNow() {
  return pgx::auto_::Module::CanUnloadNow();
}

extern "C" HRESULT DllRegisterServer() {
  try {
    const pgx::auto_::ClassRegistration reg = Registration();
    pgx::auto_::RegistryTransaction registration;
    pgx::auto_::RegisterClassKeys(registration, reg);
    pgx::auto_::RegisterTypeLibrary(registration, TestSrvLib_TypeLibrary(), reg.module_path);
    return pgx::auto_::CommitRegistration(registration);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT DllUnregisterServer() {
  try {
    pgx::auto_::RegistryTransaction unregistration;
    pgx::auto_::UnregisterClassKeys(unregistration, Registration());
    pgx::auto_::UnregisterTypeLibrary(unregistration, TestSrvLib_TypeLibrary());
    return pgx::auto_::CommitRegistration(unregistration);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}
