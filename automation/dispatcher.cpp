#include "automation/dispatcher.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "automation/com_error.h"
#include "automation/errorinfo.h"
#include "automation/safearray.h"
#include "automation/vartype_info.h"

namespace pgx::auto_ {
namespace {

constexpr char16_t FoldChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// FNV-1a over the case-folded characters; stops at the NUL or after `limit` characters.
std::uint32_t HashFolded(const OLECHAR* text, std::size_t& length) {
  std::uint32_t h = 2166136261u;
  std::size_t n = 0;
  for (; text[n]; ++n) {
    h = (h ^ FoldChar(text[n])) * 16777619u;
  }
  length = n;
  return h;
}

// Bytes of the value of a non-BYREF variant type, as stored in the union (where a VARIANT does not fit).
std::size_t ValueSize(VARTYPE vt) {
  if (vt & VT_ARRAY) return sizeof(SAFEARRAY*);
  return vt == VT_VARIANT ? 0 : detail::ValueBytes(vt);
}

// A non-owning by-value view of a BYREF variant (one level), so it can be coerced. False when the
// reference is NULL or the type cannot be viewed.
bool ViewByRef(const VARIANT& in, VARIANT& out) {
  VARTYPE vt = static_cast<VARTYPE>(in.vt & ~VT_BYREF);
  std::size_t size = ValueSize(vt);
  if (!in.byref || size == 0) return false;
  out.vt = vt;
  out.llVal = 0;
  std::memcpy(&out.llVal, in.byref, size);
  return true;
}

bool IsMissing(const VARIANT* a) {
  return !a || (a->vt == VT_ERROR && a->scode == DISP_E_PARAMNOTFOUND);
}

// Storage of the arguments of one call: inline for the usual few parameters, on the heap beyond.
constexpr std::size_t kInlineParams = 12;

struct Slot {
  VARIANT value;         // coerced value or the storage a pointer parameter points to
  const VARIANT* bound;  // the caller's argument, NULL when not given
  UINT index;            // its position in rgvarg
  bool owned;            // value must be cleared after the call
  VARIANT* writeback;    // caller's BYREF variant to receive the value after the call
};

// Inline storage for the usual few parameters, the heap beyond; data() is resolved once.
template <class T>
class SmallArray {
 public:
  explicit SmallArray(std::size_t n) {
    if (n > kInlineParams) {
      heap_.reset(new T[n]);
      data_ = heap_.get();
    }
  }
  T& operator[](std::size_t i) { return data_[i]; }
  T* data() { return data_; }

 private:
  T inline_[kInlineParams];
  std::unique_ptr<T[]> heap_;
  T* data_ = inline_;
};

// Whether clearing a variant of this type can free anything.
bool NeedsClear(VARTYPE vt) {
  if (vt & (VT_ARRAY | VT_BYREF)) return !(vt & VT_BYREF);
  return vt == VT_BSTR || vt == VT_DISPATCH || vt == VT_UNKNOWN || vt == VT_VARIANT || vt == VT_RECORD;
}

// Lossless conversions between the numeric types, done here without the general coercion. False when
// the pair is not one of them.
bool WidenScalar(const VARIANT& from, VARTYPE to, VARIANT& out) {
  double real;
  long long integer;
  switch (from.vt) {
    case VT_UI1:
      integer = from.bVal;
      break;
    case VT_I2:
      integer = from.iVal;
      break;
    case VT_I4:
      integer = from.lVal;
      break;
    case VT_R4:
      if (to != VT_R8) return false;
      out.vt = VT_R8;
      out.dblVal = from.fltVal;
      return true;
    default:
      return false;
  }
  real = static_cast<double>(integer);
  switch (to) {
    case VT_I2:
      if (from.vt != VT_UI1) return false;
      out.iVal = static_cast<SHORT>(integer);
      break;
    case VT_I4:
      if (from.vt == VT_I4) return false;
      out.lVal = static_cast<LONG>(integer);
      break;
    case VT_R8:
      out.dblVal = real;
      break;
    case VT_R4:
      if (from.vt == VT_I4) return false;  // not every long is a float
      out.fltVal = static_cast<FLOAT>(real);
      break;
    default:
      return false;
  }
  out.vt = to;
  return true;
}

void SetDefault(const ParamInfo& p, VARIANT& v, bool& owned) {
  DefaultValueToVariant(p.default_value, v);
  owned = v.vt == VT_BSTR;
  // A default of another type than the parameter's (2 for a double) is coerced to it.
  VARTYPE want = p.type.vt;
  if (want != VT_VARIANT && want != v.vt) {
    VARIANT converted;
    VariantInit(&converted);
    if (SUCCEEDED(VariantChangeType(&converted, &v, 0, want))) {
      if (owned) VariantClear(&v);
      v = converted;
      owned = converted.vt == VT_BSTR;
    }
  }
}

// Writes `value` (of the parameter's type) into the caller's BYREF variant, coerced to its type.
HRESULT WriteBack(VARIANT& value, VARIANT* target) {
  VARTYPE vt = static_cast<VARTYPE>(target->vt & ~VT_BYREF);
  if (vt == VT_VARIANT) {
    if (!target->pvarVal) return E_POINTER;
    VariantClear(target->pvarVal);
    *target->pvarVal = value;
    value.vt = VT_EMPTY;
    return S_OK;
  }
  std::size_t size = ValueSize(vt);
  if (!target->byref || size == 0) return DISP_E_TYPEMISMATCH;
  VARIANT converted;
  VariantInit(&converted);
  HRESULT hr = VariantChangeType(&converted, &value, 0, vt);
  if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  VARIANT old;
  old.vt = vt;
  old.llVal = 0;
  std::memcpy(&old.llVal, target->byref, size);
  VariantClear(&old);
  std::memcpy(target->byref, &converted.llVal, size);
  return S_OK;
}

// Calls the member; one that throws fails like one that returns the exception's HRESULT, with its
// description as the thread's error information.
HRESULT CallMember(const FuncInfo& f, void* self, void* const* args) noexcept {
  try {
    return f.call(self, args);
  } catch (...) {
    return HresultFromCurrentException();
  }
}

void FillException(HRESULT hr, EXCEPINFO* excep) {
  if (!excep) return;
  *excep = EXCEPINFO{};
  excep->scode = hr;
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) == S_OK && info) {
    info->GetSource(&excep->bstrSource);
    info->GetDescription(&excep->bstrDescription);
    info->GetHelpFile(&excep->bstrHelpFile);
    info->GetHelpContext(&excep->dwHelpContext);
    info->Release();
  }
  if (!excep->bstrDescription) {
    std::u16string text = SystemMessageTextW(hr);
    if (!text.empty())
      excep->bstrDescription = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  }
}

}  // namespace

DispatchTable::DispatchTable(const TypeInfoEntry& type) : type_(type) {
  std::map<DISPID, ById> ids;
  for (USHORT i = 0; i < type.func_count; ++i) {
    const FuncInfo& f = type.funcs[i];
    ById& e = ids[f.dispid];
    e.id = f.dispid;
    auto index = static_cast<std::int16_t>(i);
    switch (f.invkind) {
      case INVOKE_FUNC:
        e.method = index;
        break;
      case INVOKE_PROPERTYGET:
        e.get = index;
        break;
      case INVOKE_PROPERTYPUT:
        e.put = index;
        break;
      case INVOKE_PROPERTYPUTREF:
        e.putref = index;
        break;
    }
    std::u16string folded;
    for (const char* c = f.name; *c; ++c)
      folded += FoldChar(static_cast<char16_t>(static_cast<unsigned char>(*c)));
    if (std::none_of(names_.begin(), names_.end(), [&](const Name& n) { return n.folded == folded; })) {
      names_.push_back({std::move(folded), f.dispid});
    }
  }
  for (auto& [id, e] : ids) by_id_.push_back(e);
  std::size_t size = 8;
  while (size < names_.size() * 2) size *= 2;
  slots_.resize(size);
  mask_ = static_cast<std::uint32_t>(size - 1);
  for (std::size_t n = 0; n < names_.size(); ++n) {
    std::size_t length = 0;
    std::uint32_t h = HashFolded(names_[n].folded.c_str(), length);
    std::uint32_t i = h & mask_;
    while (slots_[i].name >= 0) i = (i + 1) & mask_;
    slots_[i] = {h, static_cast<std::int32_t>(n)};
  }
}

const DispatchTable::Name* DispatchTable::LookupName(const OLECHAR* text) const noexcept {
  std::size_t length = 0;
  std::uint32_t h = HashFolded(text, length);
  for (std::uint32_t i = h & mask_;; i = (i + 1) & mask_) {
    const NameSlot& s = slots_[i];
    if (s.name < 0) return nullptr;
    if (s.hash != h) continue;
    const Name& n = names_[static_cast<std::size_t>(s.name)];
    if (n.folded.size() != length) continue;
    std::size_t k = 0;
    while (k < length && FoldChar(text[k]) == n.folded[k]) ++k;
    if (k == length) return &n;
  }
}

DISPID DispatchTable::FindName(const OLECHAR* name) const noexcept {
  if (!name) return DISPID_UNKNOWN;
  const Name* n = LookupName(name);
  return n ? n->id : DISPID_UNKNOWN;
}

HRESULT DispatchTable::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) const noexcept {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  const Name* member = names[0] ? LookupName(names[0]) : nullptr;
  if (!member) return DISP_E_UNKNOWNNAME;
  ids[0] = member->id;
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    if (!names[i]) {
      hr = DISP_E_UNKNOWNNAME;
      continue;
    }
    std::u16string_view wanted(names[i]);
    // Parameter names of every entry with this DISPID (a get and its put), first match wins.
    for (USHORT f = 0; f < type_.func_count && ids[i] == DISPID_UNKNOWN; ++f) {
      const FuncInfo& fn = type_.funcs[f];
      if (fn.dispid != member->id) continue;
      for (USHORT p = 0; p < fn.param_count; ++p) {
        const char* pname = fn.params[p].name;
        std::size_t len = std::strlen(pname);
        if (len != wanted.size()) continue;
        std::size_t k = 0;
        while (k < len && FoldChar(wanted[k]) == FoldChar(static_cast<char16_t>(pname[k]))) ++k;
        if (k == len) {
          ids[i] = p;
          break;
        }
      }
    }
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

const DispatchTable::ById* DispatchTable::FindId(DISPID id) const noexcept {
  auto it =
      std::lower_bound(by_id_.begin(), by_id_.end(), id, [](const ById& e, DISPID v) { return e.id < v; });
  return (it != by_id_.end() && it->id == id) ? &*it : nullptr;
}

const FuncInfo* DispatchTable::FindMember(DISPID id, WORD flags) const noexcept {
  const ById* e = FindId(id);
  if (!e) return nullptr;
  int index = -1;
  if (flags & DISPATCH_PROPERTYPUTREF) {
    index = e->putref >= 0 ? e->putref : e->put;
  } else if (flags & DISPATCH_PROPERTYPUT) {
    index = e->put >= 0 ? e->put : e->putref;
  } else {
    if ((flags & DISPATCH_METHOD) && e->method >= 0) {
      index = e->method;
    } else if ((flags & DISPATCH_PROPERTYGET) && e->get >= 0) {
      index = e->get;
    }
  }
  return index >= 0 ? &type_.funcs[index] : nullptr;
}

HRESULT DispatchTable::Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* excep, UINT* arg_err) const noexcept {
  DISPPARAMS empty{nullptr, nullptr, 0, 0};
  if (!params) params = &empty;
  if ((params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs ||
      (params->cNamedArgs && !params->rgdispidNamedArgs)) {
    return E_INVALIDARG;
  }
  if (!self) return E_POINTER;
  const bool is_put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  const FuncInfo* f = FindMember(id, flags);
  if (!f || !f->call) return DISP_E_MEMBERNOTFOUND;

  const USHORT n = f->param_count;
  const bool has_retval = n > 0 && f->params[n - 1].is_retval();
  const USHORT inputs = static_cast<USHORT>(has_retval ? n - 1 : n);
  const USHORT positional_capacity = static_cast<USHORT>(is_put && inputs > 0 ? inputs - 1 : inputs);

  try {
    SmallArray<Slot> slots(n);
    SmallArray<void*> pointers(n);
    for (USHORT k = 0; k < n; ++k) {
      slots[k].bound = nullptr;
      slots[k].value.vt = VT_EMPTY;
      slots[k].value.llVal = 0;
      slots[k].owned = false;
      slots[k].writeback = nullptr;
    }
    auto set_arg_err = [&](UINT index) {
      if (arg_err) *arg_err = index;
    };

    // Named arguments come first in rgvarg.
    bool value_given = false;
    for (UINT i = 0; i < params->cNamedArgs; ++i) {
      DISPID named = params->rgdispidNamedArgs[i];
      USHORT k;
      if (named == DISPID_PROPERTYPUT) {
        if (!is_put || inputs == 0) {
          set_arg_err(i);
          return DISP_E_PARAMNOTFOUND;
        }
        k = static_cast<USHORT>(inputs - 1);
        value_given = true;
      } else if (named >= 0 && named < positional_capacity) {
        k = static_cast<USHORT>(named);
      } else {
        set_arg_err(i);
        return DISP_E_PARAMNOTFOUND;
      }
      if (slots[k].bound) {
        set_arg_err(i);
        return DISP_E_PARAMNOTFOUND;
      }
      slots[k].bound = &params->rgvarg[i];
      slots[k].index = i;
    }
    if (is_put && !value_given) return DISP_E_PARAMNOTOPTIONAL;
    const UINT positional = params->cArgs - params->cNamedArgs;
    if (positional > positional_capacity) return DISP_E_BADPARAMCOUNT;
    for (UINT j = 0; j < positional; ++j) {
      UINT index = params->cArgs - 1 - j;
      if (slots[j].bound) {
        set_arg_err(index);
        return DISP_E_PARAMNOTFOUND;
      }
      slots[j].bound = &params->rgvarg[index];
      slots[j].index = index;
    }

    // Coercion of every parameter into its slot.
    HRESULT hr = S_OK;
    auto cleanup = [&] {
      for (USHORT k = 0; k < n; ++k) {
        if (slots[k].owned && NeedsClear(slots[k].value.vt)) VariantClear(&slots[k].value);
      }
    };
    for (USHORT k = 0; k < n && SUCCEEDED(hr); ++k) {
      const ParamInfo& p = f->params[k];
      Slot& slot = slots[k];
      VARIANT& v = slot.value;
      const VARTYPE want = p.type.vt;
      void* data = &v.llVal;
      if (p.is_retval()) {
        v.vt = want == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : want;
        pointers[k] = want == VT_VARIANT ? static_cast<void*>(&v) : data;
        slot.owned = true;  // whatever the member returns is released unless handed to the caller
        continue;
      }
      const VARIANT* given = slots[k].bound;
      // A VARIANT passed by reference stands for the variant it refers to.
      const VARIANT* arg = given;
      if (arg && arg->vt == (VT_BYREF | VT_VARIANT)) {
        if (!arg->pvarVal) {
          set_arg_err(slots[k].index);
          hr = DISP_E_TYPEMISMATCH;
          break;
        }
        arg = arg->pvarVal;
      }
      if (IsMissing(arg)) {
        if (!p.is_optional()) {
          hr = DISP_E_PARAMNOTOPTIONAL;
          break;
        }
        if (p.has_default()) {
          SetDefault(p, v, slot.owned);
          pointers[k] = want == VT_VARIANT ? static_cast<void*>(&v) : data;
        } else if (want == VT_VARIANT) {
          v.vt = VT_ERROR;
          v.scode = DISP_E_PARAMNOTFOUND;
          pointers[k] = &v;
        } else {
          pointers[k] = nullptr;  // an omitted optional pointer parameter
        }
        continue;
      }
      if (want == VT_VARIANT) {
        if (!p.type.byref) {
          v = *arg;  // borrowed for the call
          pointers[k] = &v;
        } else if (given->vt == (VT_BYREF | VT_VARIANT)) {
          pointers[k] = given->pvarVal;
        } else {
          hr = VariantCopy(&v, arg);
          slot.owned = true;
          pointers[k] = &v;
        }
        continue;
      }
      if (want == VT_RECORD) {
        if ((arg->vt & ~VT_BYREF) != VT_RECORD || !arg->brecVal.pvRecord) {
          set_arg_err(slots[k].index);
          hr = DISP_E_TYPEMISMATCH;
          break;
        }
        pointers[k] = arg->brecVal.pvRecord;
        continue;
      }
      const bool specific_interface = (want == VT_DISPATCH || want == VT_UNKNOWN) && p.type.iid &&
                                      *p.type.iid != IID_IDispatch && *p.type.iid != IID_IUnknown;
      // The caller's own storage when it already has the parameter's type.
      if (p.type.byref && arg->vt == (VT_BYREF | want) && !specific_interface) {
        pointers[k] = arg->byref;
        continue;
      }
      if (!p.type.byref && arg->vt == want && !specific_interface && want != VT_DISPATCH &&
          want != VT_UNKNOWN) {
        pointers[k] = const_cast<LONGLONG*>(&arg->llVal);
        continue;
      }
      VARIANT view;
      const VARIANT* source = arg;
      if (arg->vt & VT_BYREF) {
        if (!ViewByRef(*arg, view)) {
          set_arg_err(slots[k].index);
          hr = DISP_E_TYPEMISMATCH;
          break;
        }
        source = &view;
      }
      if (p.type.byref && !p.is_in()) {
        v.vt = want;  // [out] only: starts empty
      } else if (want == VT_DISPATCH || want == VT_UNKNOWN) {
        if (source->vt != VT_DISPATCH && source->vt != VT_UNKNOWN && source->vt != VT_EMPTY &&
            source->vt != VT_NULL) {
          set_arg_err(slots[k].index);
          hr = DISP_E_TYPEMISMATCH;
          break;
        }
        IUnknown* unknown =
            (source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN) ? source->punkVal : nullptr;
        v.vt = want;
        v.punkVal = nullptr;
        if (unknown) {
          const IID& iid = p.type.iid ? *p.type.iid : (want == VT_DISPATCH ? IID_IDispatch : IID_IUnknown);
          void* itf = nullptr;
          if (FAILED(unknown->QueryInterface(iid, &itf))) {
            set_arg_err(slots[k].index);
            hr = DISP_E_TYPEMISMATCH;
            break;
          }
          v.punkVal = static_cast<IUnknown*>(itf);
          slot.owned = true;
        }
      } else if (want & VT_ARRAY) {
        if (source->vt != want) {
          set_arg_err(slots[k].index);
          hr = DISP_E_TYPEMISMATCH;
          break;
        }
        v.vt = want;
        v.parray = nullptr;
        if (source->parray && FAILED(SafeArrayCopy(source->parray, &v.parray))) {
          hr = E_OUTOFMEMORY;
          break;
        }
        slot.owned = true;
      } else if (WidenScalar(*source, want, v)) {
        // done without the general coercion
      } else {
        VariantInit(&v);
        if (FAILED(VariantChangeType(&v, source, 0, want))) {
          set_arg_err(slots[k].index);
          hr = DISP_E_TYPEMISMATCH;
          break;
        }
        slot.owned = v.vt == VT_BSTR;
      }
      pointers[k] = data;
      if (p.type.byref && p.is_out() && (given->vt & VT_BYREF)) slot.writeback = const_cast<VARIANT*>(given);
    }
    if (FAILED(hr)) {
      cleanup();
      return hr;
    }

    SetErrorInfo(0, nullptr);
    hr = CallMember(*f, self, pointers.data());
    // Local storage behind a pointer parameter now owns whatever the member left there.
    for (USHORT k = 0; k < inputs; ++k) {
      void* p = pointers[k];
      if (f->params[k].type.byref && (p == &slots[k].value || p == &slots[k].value.llVal))
        slots[k].owned = true;
    }
    if (FAILED(hr)) {
      cleanup();
      FillException(hr, excep);
      return DISP_E_EXCEPTION;
    }

    HRESULT write_hr = S_OK;
    for (USHORT k = 0; k < inputs; ++k) {
      Slot& slot = slots[k];
      if (!slot.writeback) continue;
      if (FAILED(WriteBack(slot.value, slot.writeback)) && SUCCEEDED(write_hr)) {
        set_arg_err(slots[k].index);
        write_hr = DISP_E_TYPEMISMATCH;
      }
    }
    if (has_retval && SUCCEEDED(write_hr)) {  // a failed call hands out nothing
      Slot& slot = slots[n - 1];
      if (result) {
        *result = slot.value;
        slot.value.vt = VT_EMPTY;
      }
    }
    cleanup();
    return write_hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace pgx::auto_
