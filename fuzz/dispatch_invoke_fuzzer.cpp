// Fuzz target: IDispatch on the test server module, whose type library has a member of every kind the
// generic dispatcher handles, called the way a late-bound client may call it.
//
// Input: a sequence of steps. A step is
//   [what] [member] [flags] [argument count] [named count] then each argument as [type] [value bytes...]
// `what`: its low four bits pick the interface (IWidget, IWide, IProbe), bits 0x10, 0x20 and 0x40 whether
// Invoke gets a result, an EXCEPINFO and an argument-error index; with 0x80 the step is a GetIDsOfNames call
// instead, [count] then each name as [length] [characters...].
//
// Beyond the sanitizers and the leak check:
//  - a failed Invoke hands out no result, DISP_E_EXCEPTION fills EXCEPINFO with a failure, and an argument
//    error names an argument that was passed;
//  - GetIDsOfNames reads names without regard to ASCII case.
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "automation/bstr.h"
#include "automation/comptr.h"
#include "automation/errorinfo.h"
#include "automation/interfaces.h"
#include "automation/module.h"
#include "automation/testing/fake_dispatch.h"
#include "automation/testing/testsrv_idl.h"
#include "automation/variant.h"

namespace {

using pgx::auto_::ComPtr;
using pgx::auto_::testing::FakeDispatch;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  template <class T>
  T value() {
    T out{};
    const std::size_t take = std::min(sizeof out, size_ - at_);
    std::memcpy(&out, data_ + at_, take);
    at_ += take;
    return out;
  }
  bool empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

ComPtr<IDispatch> g_interfaces[3];  // IWidget, IWide, IProbe of one Widget

const DISPID kMembers[] = {DISPID_VALUE,
                           DISPID_NEWENUM,
                           DISPID_PROPERTYPUT,
                           DISPID_UNKNOWN,
                           1,
                           2,
                           3,
                           4,
                           0x60020000,
                           0x60020001,
                           0x60020002,
                           0x60020003,
                           0x60020004,
                           0x60020005,
                           0x60020006,
                           0x60020007,
                           0x60020008,
                           0x60020009,
                           0x6002000a,
                           0x6002000b,
                           0x6002000c,
                           0x6002000d,
                           0x6002000e,
                           0x6002000f,
                           0x60020026,
                           0x60020027};

// What a caller passes and must free after the call: the arguments and the storage their references
// point to (which the callee may have replaced).
struct Arguments {
  std::vector<VARIANT> args;
  std::vector<DISPID> named;
  std::vector<VARIANT> referenced;  // reserved up front: references point into it

  explicit Arguments(std::size_t count) { referenced.reserve(count); }
  ~Arguments() {
    for (VARIANT& v : args) VariantClear(&v);
    for (VARIANT& v : referenced) VariantClear(&v);
  }
};

BSTR Text(Bytes& in) {
  std::u16string text;
  for (std::uint8_t n = in.byte() % 24; n > 0; --n) text += static_cast<char16_t>(in.byte());
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

// One argument value of a type the dispatcher meets in practice ([type]: its low six bits), or a reference
// to one (0x80: to the value itself; 0x80 and 0x40: to a variant that holds it).
void MakeArgument(VARIANT* v, Arguments& call, Bytes& in) {
  VariantInit(v);
  const std::uint8_t type = in.byte();
  VARIANT value;
  VariantInit(&value);
  switch ((type & 0x3F) % 14) {
    case 0:
      break;  // VT_EMPTY
    case 1:
      value.vt = VT_NULL;
      break;
    case 2:
      value.vt = VT_I2;
      value.iVal = in.value<SHORT>();
      break;
    case 3:
      value.vt = VT_I4;
      value.lVal = in.value<LONG>();
      break;
    case 4:
      value.vt = VT_R8;
      value.dblVal = in.value<double>();
      break;
    case 5:
      value.vt = VT_BSTR;
      value.bstrVal = Text(in);
      break;
    case 6:
      value.vt = VT_BOOL;
      value.boolVal = in.value<VARIANT_BOOL>();
      break;
    case 7:
      value.vt = VT_UI1;
      value.bVal = in.byte();
      break;
    case 8:  // a missing optional argument, or another error code
      value.vt = VT_ERROR;
      value.scode = in.byte() & 1 ? DISP_E_PARAMNOTFOUND : in.value<SCODE>();
      break;
    case 9: {  // an object: the widget itself, NULL, or one that answers a value
      value.vt = VT_DISPATCH;
      const std::uint8_t which = in.byte() % 3;
      if (which == 0) {
        value.pdispVal = g_interfaces[0].Get();
        value.pdispVal->AddRef();
      } else if (which == 1) {
        FakeDispatch* object = nullptr;
        if (FAILED(FakeDispatch::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(&object))))
          std::abort();
        object->value.vt = VT_I4;
        object->value.lVal = in.byte();
        value.pdispVal = object;
      }
      break;
    }
    case 10: {
      const std::uint8_t count = in.byte() % 6;
      SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, count);
      if (!array) std::abort();
      for (LONG i = 0; i < count; ++i) {
        std::uint8_t b = in.byte();
        SafeArrayPutElement(array, &i, &b);
      }
      value.vt = VT_ARRAY | VT_UI1;
      value.parray = array;
      break;
    }
    case 11: {  // a two-dimensional array, which no member takes
      SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
      value.vt = VT_ARRAY | VT_I4;
      value.parray = SafeArrayCreate(VT_I4, 2, bounds);
      if (!value.parray) std::abort();
      break;
    }
    case 12:
      value.vt = VT_R4;
      value.fltVal = in.value<float>();
      break;
    default:
      value.vt = VT_UI4;
      value.ulVal = in.value<ULONG>();
      break;
  }
  if (!(type & 0x80) || value.vt == VT_EMPTY) {
    *v = value;
    return;
  }
  // By reference: to the value itself, or to a variant that holds it.
  call.referenced.push_back(value);
  VARIANT& held = call.referenced.back();
  if (type & 0x40) {
    v->vt = VT_BYREF | VT_VARIANT;
    v->pvarVal = &held;
  } else {
    v->vt = VT_BYREF | held.vt;
    v->byref = &held.llVal;  // every value lives at the start of the union
  }
}

[[noreturn]] void fail(const char* what, DISPID member, WORD flags, HRESULT hr) {
  std::fprintf(stderr, "dispatch_invoke_fuzzer: %s (member %#x, flags %#x, HRESULT %#x)\n", what,
               static_cast<unsigned>(member), flags, static_cast<unsigned>(hr));
  std::abort();
}

void InvokeStep(IDispatch* target, std::uint8_t what, Bytes& in) {
  const std::uint8_t which = in.byte();
  const DISPID member = which == 0xFF ? in.value<DISPID>() : kMembers[which % std::size(kMembers)];
  const WORD flags = in.byte() & 0x0F;
  const std::size_t count = in.byte() % 7;
  const std::size_t named = std::min<std::size_t>(in.byte() % 4, count);

  Arguments call(count);
  call.args.resize(count);
  for (VARIANT& arg : call.args) MakeArgument(&arg, call, in);
  for (std::size_t i = 0; i < named; ++i) {
    const std::uint8_t id = in.byte();
    call.named.push_back(id & 0x80 ? DISPID_PROPERTYPUT : id % 12);
  }
  DISPPARAMS params{call.args.data(), call.named.empty() ? nullptr : call.named.data(),
                    static_cast<UINT>(count), static_cast<UINT>(named)};

  VARIANT result;
  VariantInit(&result);
  EXCEPINFO excep{};
  UINT arg_err = 0xFFFFFFFF;
  const HRESULT hr = target->Invoke(member, IID_NULL, 0, flags, &params, what & 0x10 ? &result : nullptr,
                                    what & 0x20 ? &excep : nullptr, what & 0x40 ? &arg_err : nullptr);
  if (FAILED(hr) && result.vt != VT_EMPTY) fail("a failed call handed out a result", member, flags, hr);
  if (hr == DISP_E_EXCEPTION && (what & 0x20)) {
    const HRESULT code = excep.scode ? excep.scode : static_cast<HRESULT>(excep.wCode);
    if (!FAILED(code) && excep.wCode == 0)
      fail("DISP_E_EXCEPTION with an EXCEPINFO of no failure", member, flags, hr);
  }
  if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) && (what & 0x40) && arg_err >= count)
    fail("an argument error names no argument that was passed", member, flags, hr);
  VariantClear(&result);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
}

void NamesStep(IDispatch* target, Bytes& in) {
  const UINT count = 1 + in.byte() % 3;
  std::vector<std::u16string> names(count), folded(count);
  for (UINT i = 0; i < count; ++i) {
    for (std::uint8_t n = in.byte() % 20; n > 0; --n) {
      const char16_t c = static_cast<char16_t>(in.byte());
      names[i] += c;
      folded[i] += c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
    }
  }
  auto lookup = [&](std::vector<std::u16string>& texts, std::vector<DISPID>& ids) {
    std::vector<LPOLESTR> pointers;
    for (std::u16string& t : texts) pointers.push_back(t.data());
    ids.assign(count, 12345);
    return target->GetIDsOfNames(IID_NULL, pointers.data(), count, 0, ids.data());
  };
  std::vector<DISPID> ids, folded_ids;
  const HRESULT hr = lookup(names, ids), hr_folded = lookup(folded, folded_ids);
  if (hr != hr_folded || ids != folded_ids) fail("the case of a name decides its DISPID", ids[0], 0, hr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  void* module = dlopen(PGX_TESTSRV_MODULE, RTLD_NOW | RTLD_LOCAL);
  if (!module) std::abort();
  auto get_class_object = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(module, "DllGetClassObject"));
  ComPtr<IClassFactory> factory;
  ComPtr<IUnknown> widget;
  if (!get_class_object ||
      FAILED(get_class_object(CLSID_Widget, IID_IClassFactory, factory.ReleaseAndGetAddressOfVoid())) ||
      FAILED(factory->CreateInstance(nullptr, IID_IUnknown, widget.ReleaseAndGetAddressOfVoid())))
    std::abort();
  const IID* iids[] = {&IID_IWidget, &IID_IWide, &IID_IProbe};
  for (std::size_t i = 0; i < std::size(iids); ++i) {
    if (FAILED(widget->QueryInterface(*iids[i], g_interfaces[i].ReleaseAndGetAddressOfVoid()))) std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  for (int steps = 0; !in.empty() && steps < 16; ++steps) {
    const std::uint8_t what = in.byte();
    IDispatch* target = g_interfaces[(what & 0x0F) % 3].Get();
    if (what & 0x80) {
      NamesStep(target, in);
    } else {
      InvokeStep(target, what, in);
    }
  }
  SetErrorInfo(0, nullptr);
  return 0;
}
