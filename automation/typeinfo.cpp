// ITypeInfo over the type-library tables: enough for a client to list the members of a type, their
// DISPIDs, parameters, defaults and help strings, and to follow references to other types of the library.
#include <atomic>
#include <cctype>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "automation/dispatcher.h"
#include "automation/object.h"

namespace pgx::auto_ {
namespace {

// Members of enumerations, records and dispinterface properties are numbered from here.
constexpr MEMBERID kVarMemberBase = 0x40000000;

BSTR NewBstr(const char* text) {
  if (!text) return nullptr;
  std::u16string wide;
  if (!Utf8ToUtf16(text, wide)) return nullptr;
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// Storage that FUNCDESC/VARDESC/TYPEATTR point into; freed with the descriptor.
struct DescStorage {
  std::deque<TYPEDESC> typedescs;
  std::vector<ELEMDESC> elems;
  std::deque<PARAMDESCEX> defaults;
  VARIANT constant;
};

struct FuncDescHolder {
  FUNCDESC desc;  // first member: the holder is found again from the descriptor's address
  DescStorage storage;
};
struct VarDescHolder {
  VARDESC desc;
  DescStorage storage;
};

class TypeInfo final : public Object<TypeInfo, ITypeInfo> {
 public:
  TypeInfo(const LibraryInfo& library, const TypeInfoEntry& type, IUnknown* owner)
      : library_(library), type_(type), owner_(owner) {}

  STDMETHODIMP GetTypeAttr(TYPEATTR** out) override {
    if (!out) return E_INVALIDARG;
    auto* attr = new (std::nothrow) TYPEATTR{};
    if (!attr) return E_OUTOFMEMORY;
    attr->guid = type_.guid;
    attr->lcid = 0;
    attr->memidConstructor = MEMBERID_NIL;
    attr->memidDestructor = MEMBERID_NIL;
    attr->cbSizeInstance = type_.size;
    attr->typekind = type_.kind;
    attr->cFuncs = type_.own_func_count;
    attr->cVars = VarCount();
    attr->cImplTypes = ImplCount();
    attr->cbSizeVft =
        static_cast<WORD>(type_.kind == TKIND_INTERFACE ? (7 + type_.func_count) * sizeof(void*) : 0);
    attr->cbAlignment = type_.alignment;
    attr->wTypeFlags = type_.flags;
    attr->wMajorVerNum = library_.major;
    attr->wMinorVerNum = library_.minor;
    *out = attr;
    return S_OK;
  }
  STDMETHODIMP_(void) ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }

  STDMETHODIMP GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }

  STDMETHODIMP GetFuncDesc(UINT index, FUNCDESC** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= type_.own_func_count) return TYPE_E_ELEMENTNOTFOUND;
    const USHORT inherited = static_cast<USHORT>(type_.func_count - type_.own_func_count);
    const FuncInfo& f = type_.funcs[inherited + index];
    auto* h = new (std::nothrow) FuncDescHolder{};
    if (!h) return E_OUTOFMEMORY;
    try {
      FUNCDESC& d = h->desc;
      d.memid = f.dispid;
      d.funckind = type_.kind == TKIND_DISPATCH ? FUNC_DISPATCH : FUNC_PUREVIRTUAL;
      d.invkind = f.invkind;
      d.callconv = CC_STDCALL;
      d.cParams = static_cast<SHORT>(f.param_count);
      d.oVft = static_cast<SHORT>((7 + inherited + index) * sizeof(void*));
      d.wFuncFlags = f.flags;
      h->storage.elems.resize(f.param_count);
      SHORT optional = 0;
      for (USHORT p = 0; p < f.param_count; ++p) {
        const ParamInfo& param = f.params[p];
        ELEMDESC& e = h->storage.elems[p];
        e.tdesc = Describe(param.type, h->storage);
        e.paramdesc.wParamFlags = param.flags;
        e.paramdesc.pparamdescex = nullptr;
        if (param.is_optional()) ++optional;
        if (param.has_default()) {
          PARAMDESCEX& ex = h->storage.defaults.emplace_back();
          ex.cBytes = sizeof(PARAMDESCEX);
          VariantInit(&ex.varDefaultValue);
          DefaultValueToVariant(param.default_value, ex.varDefaultValue);
          e.paramdesc.pparamdescex = &ex;
        }
      }
      d.cParamsOpt = 0;  // no vararg-style optional VARIANTs are described this way
      (void)optional;
      d.lprgelemdescParam = f.param_count ? h->storage.elems.data() : nullptr;
      d.elemdescFunc.tdesc.vt = type_.kind == TKIND_DISPATCH ? VT_VOID : VT_HRESULT;
    } catch (const std::bad_alloc&) {
      ReleaseFuncDesc(&h->desc);
      return E_OUTOFMEMORY;
    }
    *out = &h->desc;
    return S_OK;
  }
  STDMETHODIMP_(void) ReleaseFuncDesc(FUNCDESC* desc) override {
    if (!desc) return;
    auto* h = reinterpret_cast<FuncDescHolder*>(desc);
    for (auto& ex : h->storage.defaults) VariantClear(&ex.varDefaultValue);
    delete h;
  }

  STDMETHODIMP GetVarDesc(UINT index, VARDESC** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= VarCount()) return TYPE_E_ELEMENTNOTFOUND;
    auto* h = new (std::nothrow) VarDescHolder{};
    if (!h) return E_OUTOFMEMORY;
    try {
      VARDESC& d = h->desc;
      d.memid = kVarMemberBase + static_cast<MEMBERID>(index);
      VariantInit(&h->storage.constant);
      if (type_.kind == TKIND_ENUM) {
        d.varkind = VAR_CONST;
        h->storage.constant.vt = VT_I4;
        h->storage.constant.lVal = type_.values[index].value;
        d.lpvarValue = &h->storage.constant;
        d.elemdescVar.tdesc.vt = VT_I4;
      } else if (type_.kind == TKIND_RECORD) {
        const FieldInfo& field = type_.fields[index];
        d.varkind = VAR_PERINSTANCE;
        d.oInst = static_cast<ULONG>(field.offset);
        d.elemdescVar.tdesc = Describe(field.type, h->storage);
      } else {
        const VarInfo& var = type_.vars[index];
        d.memid = var.dispid;
        d.varkind = VAR_DISPATCH;
        d.wVarFlags = var.flags;
        d.elemdescVar.tdesc = Describe(var.type, h->storage);
      }
    } catch (const std::bad_alloc&) {
      delete h;
      return E_OUTOFMEMORY;
    }
    *out = &h->desc;
    return S_OK;
  }
  STDMETHODIMP_(void) ReleaseVarDesc(VARDESC* desc) override {
    delete reinterpret_cast<VarDescHolder*>(desc);
  }

  STDMETHODIMP GetNames(MEMBERID memid, BSTR* names, UINT max_names, UINT* count) override {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    if (const FuncInfo* f = FindFunc(memid)) {
      if (max_names == 0) return S_OK;
      names[(*count)++] = NewBstr(f->name);
      for (USHORT p = 0; p < f->param_count && *count < max_names; ++p) {
        // A put's value parameter has no name a caller could use.
        if (f->invkind != INVOKE_FUNC && f->invkind != INVOKE_PROPERTYGET && p + 1 == f->param_count) break;
        names[(*count)++] = NewBstr(f->params[p].name);
      }
      return S_OK;
    }
    if (const char* name = VarName(memid)) {
      if (max_names > 0) names[(*count)++] = NewBstr(name);
      return S_OK;
    }
    return TYPE_E_ELEMENTNOTFOUND;
  }

  STDMETHODIMP GetRefTypeOfImplType(UINT index, HREFTYPE* out) override {
    if (!out) return E_INVALIDARG;
    if (index >= ImplCount()) return TYPE_E_ELEMENTNOTFOUND;
    const char* name = type_.kind == TKIND_COCLASS ? type_.impls[index].name : type_.base;
    const TypeInfoEntry* target = library_.Find(name);
    if (!target) return TYPE_E_ELEMENTNOTFOUND;  // IDispatch / IUnknown are not part of the library
    *out = library_.IndexOf(target);
    return S_OK;
  }

  STDMETHODIMP GetImplTypeFlags(UINT index, INT* flags) override {
    if (!flags) return E_INVALIDARG;
    if (index >= ImplCount()) return TYPE_E_ELEMENTNOTFOUND;
    *flags = type_.kind == TKIND_COCLASS ? type_.impls[index].flags : 0;
    return S_OK;
  }

  STDMETHODIMP GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    if (type_.kind != TKIND_INTERFACE && type_.kind != TKIND_DISPATCH) return E_NOTIMPL;
    const DispatchTable* table = Table();
    return table ? table->GetIDsOfNames(names, count, ids) : E_OUTOFMEMORY;
  }

  STDMETHODIMP Invoke(PVOID instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* excep, UINT* arg_err) override {
    if (type_.kind != TKIND_INTERFACE) return E_NOTIMPL;
    const DispatchTable* table = Table();
    return table ? table->Invoke(instance, memid, flags, params, result, excep, arg_err) : E_OUTOFMEMORY;
  }

  STDMETHODIMP GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* context,
                                BSTR* help_file) override {
    const char* n = nullptr;
    const char* h = nullptr;
    if (memid == MEMBERID_NIL) {
      n = type_.name;
      h = type_.helpstring;
    } else if (const FuncInfo* f = FindFunc(memid)) {
      n = f->name;
      h = f->helpstring;
    } else if (const char* v = VarName(memid)) {
      n = v;
      h = VarHelp(memid);
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    if (name) *name = NewBstr(n);
    if (doc) *doc = NewBstr(h);
    if (context) *context = 0;
    if (help_file) *help_file = nullptr;
    return S_OK;
  }

  STDMETHODIMP GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }

  STDMETHODIMP GetRefTypeInfo(HREFTYPE ref, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (ref >= library_.type_count) return TYPE_E_ELEMENTNOTFOUND;
    return CreateTypeInfo(library_, library_.types[ref], owner_.Get(), out);
  }

  STDMETHODIMP AddressOfMember(MEMBERID, INVOKEKIND, PVOID* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID, PVOID* out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetMops(MEMBERID, BSTR* out) override {
    if (out) *out = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetContainingTypeLib(ITypeLib** out, UINT* index) override {
    if (!out) return E_INVALIDARG;
    if (index) *index = library_.IndexOf(&type_);
    return CreateTypeLib(library_, owner_.Get(), out);
  }

 private:
  WORD VarCount() const {
    switch (type_.kind) {
      case TKIND_ENUM:
        return type_.value_count;
      case TKIND_RECORD:
        return type_.field_count;
      case TKIND_DISPATCH:
        return type_.var_count;
      default:
        return 0;
    }
  }
  WORD ImplCount() const {
    if (type_.kind == TKIND_COCLASS) return type_.impl_count;
    if (type_.kind == TKIND_INTERFACE && type_.base) return 1;
    return 0;
  }
  const FuncInfo* FindFunc(MEMBERID memid) const {
    for (USHORT i = 0; i < type_.func_count; ++i) {
      if (type_.funcs[i].dispid == memid) return &type_.funcs[i];
    }
    return nullptr;
  }
  const char* VarName(MEMBERID memid) const {
    if (type_.kind == TKIND_DISPATCH) {
      for (USHORT i = 0; i < type_.var_count; ++i) {
        if (type_.vars[i].dispid == memid) return type_.vars[i].name;
      }
      return nullptr;
    }
    MEMBERID i = memid - kVarMemberBase;
    if (i < 0 || i >= VarCount()) return nullptr;
    return type_.kind == TKIND_ENUM ? type_.values[i].name : type_.fields[i].name;
  }
  const char* VarHelp(MEMBERID memid) const {
    if (type_.kind == TKIND_DISPATCH) {
      for (USHORT i = 0; i < type_.var_count; ++i) {
        if (type_.vars[i].dispid == memid) return type_.vars[i].helpstring;
      }
      return nullptr;
    }
    MEMBERID i = memid - kVarMemberBase;
    return type_.kind == TKIND_ENUM && i >= 0 && i < VarCount() ? type_.values[i].helpstring : nullptr;
  }

  // The TYPEDESC of a table type: VT_PTR for each indirection, VT_USERDEFINED for the library's own types,
  // VT_SAFEARRAY for arrays.
  TYPEDESC Describe(const TypeRef& ref, DescStorage& storage) const {
    TYPEDESC base{};
    const TypeInfoEntry* user = ref.type_name ? library_.Find(ref.type_name) : nullptr;
    if (user) {
      base.vt = VT_USERDEFINED;
      base.hreftype = library_.IndexOf(user);
      if (user->kind == TKIND_INTERFACE || user->kind == TKIND_DISPATCH) {
        TYPEDESC& inner = storage.typedescs.emplace_back(base);
        base = TYPEDESC{};
        base.vt = VT_PTR;
        base.lptdesc = &inner;
      }
    } else if (ref.vt & VT_ARRAY) {
      TYPEDESC& element = storage.typedescs.emplace_back();
      element.vt = static_cast<VARTYPE>(ref.vt & ~VT_ARRAY);
      base.vt = VT_SAFEARRAY;
      base.lptdesc = &element;
    } else {
      base.vt = ref.vt;
    }
    if (ref.byref) {
      TYPEDESC& inner = storage.typedescs.emplace_back(base);
      base = TYPEDESC{};
      base.vt = VT_PTR;
      base.lptdesc = &inner;
    }
    return base;
  }

  const DispatchTable* Table() noexcept {
    try {
      std::call_once(table_once_, [this] { table_ = std::make_unique<DispatchTable>(type_); });
      return table_.get();
    } catch (...) {
      return nullptr;
    }
  }

  const LibraryInfo& library_;
  const TypeInfoEntry& type_;
  ComPtr<IUnknown> owner_;  // keeps the module of the tables loaded
  std::once_flag table_once_;
  std::unique_ptr<DispatchTable> table_;
};

// The private interface through which the runtime finds the tables behind one of its own type libraries.
// QueryInterface for it adds a reference to the type library.
constexpr IID IID_ILibraryTables = {
    0x5B8E1C2A, 0x3D47, 0x4F60, {0x9A, 0x1E, 0x70, 0x2C, 0x4B, 0x81, 0xD3, 0x6F}};
struct ILibraryTables {
  virtual const LibraryInfo* Tables() const = 0;
};

bool SameName(const char* a, const OLECHAR* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b) {
    if (*b > 0x7F || std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<int>(*b)))
      return false;
  }
  return *a == 0 && *b == 0;
}

// ITypeLib over a library's tables: its types by index or GUID, its attributes and documentation.
class TypeLib final : public Object<TypeLib, ITypeLib>, public ILibraryTables {
 public:
  TypeLib(const LibraryInfo& library, IUnknown* owner) : library_(library), owner_(owner) {}

  STDMETHODIMP_(UINT) GetTypeInfoCount() override { return library_.type_count; }
  STDMETHODIMP GetTypeInfo(UINT index, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= library_.type_count) return TYPE_E_ELEMENTNOTFOUND;
    return CreateTypeInfo(library_, library_.types[index], owner_.Get(), out);
  }
  STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    if (index >= library_.type_count) return TYPE_E_ELEMENTNOTFOUND;
    *kind = library_.types[index].kind;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    const TypeInfoEntry* type = library_.FindGuid(guid);
    if (!type) return TYPE_E_ELEMENTNOTFOUND;
    return CreateTypeInfo(library_, *type, owner_.Get(), out);
  }
  STDMETHODIMP GetLibAttr(TLIBATTR** out) override {
    if (!out) return E_INVALIDARG;
    auto* attr = new (std::nothrow) TLIBATTR{};
    if (!attr) return E_OUTOFMEMORY;
    attr->guid = library_.libid;
    attr->syskind = SYS_WIN64;
    attr->wMajorVerNum = library_.major;
    attr->wMinorVerNum = library_.minor;
    *out = attr;
    return S_OK;
  }
  STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }
  STDMETHODIMP GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  // Index -1 is the library itself.
  STDMETHODIMP GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context, BSTR* help_file) override {
    const char* n = library_.name;
    const char* h = library_.helpstring;
    if (index >= 0) {
      if (index >= library_.type_count) return TYPE_E_ELEMENTNOTFOUND;
      n = library_.types[index].name;
      h = library_.types[index].helpstring;
    }
    if (name) *name = NewBstr(n);
    if (doc) *doc = NewBstr(h);
    if (context) *context = 0;
    if (help_file) *help_file = nullptr;
    return S_OK;
  }
  // Whether a type or a member of one has this name, in any case.
  STDMETHODIMP IsName(LPOLESTR name, ULONG, BOOL* found) override {
    if (!name || !found) return E_INVALIDARG;
    *found = FALSE;
    for (USHORT i = 0; i < library_.type_count && !*found; ++i) *found = Names(library_.types[i], name);
    return S_OK;
  }
  // The types that are or have a member of this name; `rgMemId` gets the member's id (MEMBERID_NIL for
  // the type itself).
  STDMETHODIMP FindName(LPOLESTR name, ULONG, ITypeInfo** infos, MEMBERID* ids, USHORT* count) override {
    if (!name || !infos || !ids || !count) return E_INVALIDARG;
    USHORT found = 0;
    for (USHORT i = 0; i < library_.type_count && found < *count; ++i) {
      const TypeInfoEntry& type = library_.types[i];
      MEMBERID id = MEMBERID_NIL;
      if (!Names(type, name, &id)) continue;
      if (FAILED(CreateTypeInfo(library_, type, owner_.Get(), &infos[found]))) break;
      ids[found++] = id;
    }
    *count = found;
    return S_OK;
  }

  const LibraryInfo* Tables() const override { return &library_; }
  void* FindExtraInterface(REFIID riid) {
    return riid == IID_ILibraryTables ? static_cast<ILibraryTables*>(this) : nullptr;
  }

 private:
  static bool Names(const TypeInfoEntry& type, const OLECHAR* name, MEMBERID* id = nullptr) {
    if (SameName(type.name, name)) return true;
    for (USHORT f = 0; f < type.func_count; ++f) {
      if (SameName(type.funcs[f].name, name)) {
        if (id) *id = type.funcs[f].dispid;
        return true;
      }
    }
    for (USHORT v = 0; v < type.var_count; ++v) {
      if (SameName(type.vars[v].name, name)) {
        if (id) *id = type.vars[v].dispid;
        return true;
      }
    }
    for (USHORT v = 0; v < type.value_count; ++v) {
      if (SameName(type.values[v].name, name)) {
        if (id) *id = kVarMemberBase + v;
        return true;
      }
    }
    for (USHORT v = 0; v < type.field_count; ++v) {
      if (SameName(type.fields[v].name, name)) {
        if (id) *id = kVarMemberBase + v;
        return true;
      }
    }
    return false;
  }

  const LibraryInfo& library_;
  ComPtr<IUnknown> owner_;
};

}  // namespace

HRESULT CreateTypeLib(const LibraryInfo& library, IUnknown* owner, ITypeLib** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    ComPtr<TypeLib> lib = TypeLib::Make(library, owner);
    return lib->QueryInterface(IID_ITypeLib, reinterpret_cast<void**>(out));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

const LibraryInfo* TablesOf(ITypeLib* typelib) noexcept {
  if (!typelib) return nullptr;
  void* tables = nullptr;
  if (FAILED(typelib->QueryInterface(IID_ILibraryTables, &tables)) || !tables) return nullptr;
  const LibraryInfo* info = static_cast<ILibraryTables*>(tables)->Tables();
  typelib->Release();
  return info;
}

HRESULT CreateTypeInfo(const LibraryInfo& library, const TypeInfoEntry& type, IUnknown* owner,
                       ITypeInfo** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    ComPtr<TypeInfo> info = TypeInfo::Make(library, type, owner);
    *out = info.Get();
    info.Detach();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

const TypeInfoEntry* LibraryInfo::Find(std::string_view type_name) const {
  for (USHORT i = 0; i < type_count; ++i) {
    if (type_name == types[i].name) return &types[i];
  }
  return nullptr;
}

const TypeInfoEntry* LibraryInfo::FindGuid(REFGUID guid) const {
  for (USHORT i = 0; i < type_count; ++i) {
    if (types[i].has_guid && types[i].guid == guid) return &types[i];
  }
  return nullptr;
}

}  // namespace pgx::auto_
