#include "automation/remote/type_description.h"

#include <algorithm>
#include <deque>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/dispatcher.h"
#include "automation/object.h"
#include "automation/remote/wire_variant.h"
#include "automation/typelib.h"

namespace pgx::remote {

using pgx::auto_::Bstr;
using pgx::auto_::ComPtr;
using pgx::auto_::Variant;

namespace {

// Interfaces a type derives from are followed this deep at most.
constexpr int kMaxBaseDepth = 8;

struct ParamData {
  std::string name;
  VARTYPE vt = VT_EMPTY;
  bool byref = false;
  std::string type_name;
  std::string idl;
  USHORT flags = 0;
  pgx::auto_::Variant default_value;
};

struct FuncData {
  std::string name;
  DISPID dispid = 0;
  INVOKEKIND invkind = INVOKE_FUNC;
  WORD flags = 0;
  std::string help;
  std::vector<ParamData> params;
};

// Default values are plain values; an object there cannot be sent.
class NoObjects final : public ObjectMarshal {
 public:
  HRESULT Export(IDispatch*, wire::Dispatch::Client&) override { return DISP_E_BADVARTYPE; }
  HRESULT Import(wire::Dispatch::Client, IDispatch**) override { return DISP_E_BADVARTYPE; }
};

std::string Utf8(BSTR text) {
  std::string out;
  if (!pgx::auto_::Utf16ToUtf8(pgx::auto_::BstrView(text), out)) out.clear();
  return out;
}

const char* IdlBaseName(VARTYPE vt) {
  switch (vt) {
    case VT_I2:
      return "short";
    case VT_I4:
      return "long";
    case VT_R4:
      return "float";
    case VT_R8:
      return "double";
    case VT_CY:
      return "CURRENCY";
    case VT_DATE:
      return "DATE";
    case VT_BSTR:
      return "BSTR";
    case VT_DISPATCH:
      return "IDispatch*";
    case VT_ERROR:
      return "SCODE";
    case VT_BOOL:
      return "VARIANT_BOOL";
    case VT_VARIANT:
      return "VARIANT";
    case VT_UNKNOWN:
      return "IUnknown*";
    case VT_I1:
      return "char";
    case VT_UI1:
      return "unsigned char";
    case VT_UI2:
      return "unsigned short";
    case VT_UI4:
      return "unsigned long";
    case VT_I8:
      return "hyper";
    case VT_UI8:
      return "unsigned hyper";
    case VT_INT:
      return "int";
    case VT_UINT:
      return "unsigned int";
    case VT_HRESULT:
      return "HRESULT";
    default:
      return "void";
  }
}

// The type of a parameter from its TYPEDESC, as the tables spell it.
void DescribeParamType(ITypeInfo* info, const TYPEDESC& desc, ParamData& p) {
  const TYPEDESC* t = &desc;
  int pointers = 0;
  while (t->vt == VT_PTR && t->lptdesc && pointers < 3) {
    t = t->lptdesc;
    ++pointers;
  }
  std::string base;
  if (t->vt == VT_USERDEFINED) {
    ComPtr<ITypeInfo> ref;
    TYPEKIND kind = TKIND_ALIAS;
    if (SUCCEEDED(info->GetRefTypeInfo(t->hreftype, ref.ReleaseAndGetAddressOf())) && ref) {
      BSTR name = nullptr;
      if (SUCCEEDED(ref->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr))) {
        p.type_name = Utf8(name);
      }
      SysFreeString(name);
      TYPEATTR* attr = nullptr;
      if (SUCCEEDED(ref->GetTypeAttr(&attr)) && attr) {
        kind = attr->typekind;
        ref->ReleaseTypeAttr(attr);
      }
    }
    base = p.type_name;
    switch (kind) {
      case TKIND_ENUM:
        p.vt = VT_I4;
        break;
      case TKIND_RECORD:
        p.vt = VT_RECORD;
        break;
      case TKIND_INTERFACE:
      case TKIND_DISPATCH:
      case TKIND_COCLASS:
        p.vt = VT_DISPATCH;
        if (pointers > 0) --pointers;  // an interface is always passed through a pointer
        base += "*";
        break;
      default:
        p.vt = VT_VARIANT;
        break;
    }
  } else if (t->vt == VT_SAFEARRAY && t->lptdesc) {
    p.vt = static_cast<VARTYPE>(VT_ARRAY | t->lptdesc->vt);
    base = std::string("SAFEARRAY(") + IdlBaseName(t->lptdesc->vt) + ")";
  } else {
    p.vt = t->vt;
    base = IdlBaseName(t->vt);
  }
  p.byref = pointers > 0;
  p.idl = base + std::string(static_cast<std::size_t>(pointers), '*');
}

HRESULT CollectFunctions(ITypeInfo* info, int depth, std::vector<FuncData>& out) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = info->GetTypeAttr(&attr);
  if (FAILED(hr) || !attr) return FAILED(hr) ? hr : E_UNEXPECTED;
  const WORD funcs = attr->cFuncs;
  const bool derives = attr->typekind == TKIND_INTERFACE && attr->cImplTypes > 0;
  info->ReleaseTypeAttr(attr);
  // Members of a base interface of the same library come first, as in the interface's slot order.
  if (derives && depth < kMaxBaseDepth) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    if (SUCCEEDED(info->GetRefTypeOfImplType(0, &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, base.ReleaseAndGetAddressOf())) && base) {
      hr = CollectFunctions(base.Get(), depth + 1, out);
      if (FAILED(hr)) return hr;
    }
  }
  for (WORD i = 0; i < funcs; ++i) {
    FUNCDESC* fd = nullptr;
    hr = info->GetFuncDesc(i, &fd);
    if (FAILED(hr) || !fd) return FAILED(hr) ? hr : E_UNEXPECTED;
    FuncData f;
    f.dispid = fd->memid;
    f.invkind = fd->invkind;
    f.flags = fd->wFuncFlags;
    std::vector<BSTR> names(static_cast<std::size_t>(fd->cParams) + 1, nullptr);
    UINT named = 0;
    info->GetNames(fd->memid, names.data(), static_cast<UINT>(names.size()), &named);
    BSTR doc = nullptr;
    info->GetDocumentation(fd->memid, nullptr, &doc, nullptr, nullptr);
    f.name = named > 0 ? Utf8(names[0]) : std::string();
    f.help = Utf8(doc);
    SysFreeString(doc);
    for (SHORT k = 0; k < fd->cParams; ++k) {
      const ELEMDESC& e = fd->lprgelemdescParam[k];
      ParamData& p = f.params.emplace_back();
      p.name =
          static_cast<UINT>(k) + 1 < named ? Utf8(names[static_cast<std::size_t>(k) + 1]) : std::string();
      p.flags = e.paramdesc.wParamFlags;
      DescribeParamType(info, e.tdesc, p);
      if ((p.flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex) {
        VariantCopy(&p.default_value, &e.paramdesc.pparamdescex->varDefaultValue);
      }
    }
    for (BSTR n : names) SysFreeString(n);
    info->ReleaseFuncDesc(fd);
    out.push_back(std::move(f));
  }
  return S_OK;
}

// The storage behind the tables of a rebuilt type: the ITypeInfo holds it alive as its owner.
class DescribedType final : public pgx::auto_::Object<DescribedType, IUnknown> {
 public:
  const char* Keep(std::string text) { return strings_.emplace_back(std::move(text)).c_str(); }
  const char16_t* Keep(std::u16string text) { return texts_.emplace_back(std::move(text)).c_str(); }

  std::deque<std::string> strings_;
  std::deque<std::u16string> texts_;
  std::deque<std::vector<pgx::auto_::ParamInfo>> params_;
  std::deque<std::vector<pgx::auto_::FuncInfo>> funcs_;
  std::deque<std::vector<pgx::auto_::EnumValueInfo>> values_;
  std::deque<std::vector<pgx::auto_::FieldInfo>> fields_;
  std::deque<std::vector<pgx::auto_::ImplTypeInfo>> impls_;
  std::vector<pgx::auto_::TypeInfoEntry> entries_;
  pgx::auto_::LibraryInfo library_{};
};

pgx::auto_::DefaultValue DefaultFrom(DescribedType& storage, wire::Variant::Reader v) {
  pgx::auto_::DefaultValue d{VT_EMPTY, 0, 0.0, nullptr, ""};
  switch (v.which()) {
    case wire::Variant::I2:
      d.vt = VT_I2;
      d.integer = v.getI2();
      break;
    case wire::Variant::I4:
      d.vt = VT_I4;
      d.integer = v.getI4();
      break;
    case wire::Variant::R4:
      d.vt = VT_R4;
      d.real = v.getR4();
      break;
    case wire::Variant::R8:
      d.vt = VT_R8;
      d.real = v.getR8();
      break;
    case wire::Variant::BSTR:
      d.vt = VT_BSTR;
      d.text = storage.Keep(Utf16FromBytes(v.getBstr()));
      break;
    case wire::Variant::BOOL:
      d.vt = VT_BOOL;
      d.integer = v.getBool() ? -1 : 0;
      break;
    case wire::Variant::UI1:
      d.vt = VT_UI1;
      d.integer = v.getUi1();
      break;
    case wire::Variant::UI2:
      d.vt = VT_UI2;
      d.integer = v.getUi2();
      break;
    case wire::Variant::UI4:
      d.vt = VT_UI4;
      d.integer = v.getUi4();
      break;
    default:
      break;
  }
  return d;
}

}  // namespace

namespace {

void WriteParam(const ParamData& p, wire::TypeDescription::Parameter::Builder pw, ObjectMarshal& no_objects) {
  pw.setName(p.name);
  pw.setVt(p.vt);
  pw.setByRef(p.byref);
  pw.setTypeName(p.type_name);
  pw.setIdl(p.idl);
  pw.setFlags(p.flags);
  EncodeVariant(p.default_value, pw.initDefault(), no_objects, DISP_E_BADVARTYPE);
}

std::string NameOf(ITypeInfo* info, MEMBERID memid, std::string* help = nullptr) {
  BSTR name = nullptr;
  BSTR doc = nullptr;
  info->GetDocumentation(memid, &name, help ? &doc : nullptr, nullptr, nullptr);
  std::string out = Utf8(name);
  if (help) *help = Utf8(doc);
  SysFreeString(name);
  SysFreeString(doc);
  return out;
}

HRESULT DescribeType(ITypeInfo* info, wire::TypeDescription::Builder out) {
  TYPEATTR* attr = nullptr;
  HRESULT hr = info->GetTypeAttr(&attr);
  if (FAILED(hr) || !attr) return FAILED(hr) ? hr : E_UNEXPECTED;
  const TYPEKIND kind = attr->typekind;
  const WORD vars = attr->cVars;
  const WORD impls = attr->cImplTypes;
  EncodeGuid(attr->guid, out.initGuid());
  out.setKind(static_cast<uint16_t>(kind));
  out.setFlags(attr->wTypeFlags);
  out.setMajor(attr->wMajorVerNum);
  out.setMinor(attr->wMinorVerNum);
  out.setSize(attr->cbSizeInstance);
  out.setAlignment(attr->cbAlignment);
  const WORD own = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  std::string help;
  out.setName(NameOf(info, MEMBERID_NIL, &help));
  out.setHelp(help);
  NoObjects no_objects;

  std::vector<FuncData> funcs;
  if (kind == TKIND_INTERFACE || kind == TKIND_DISPATCH) {
    hr = CollectFunctions(info, 0, funcs);
    if (FAILED(hr)) return hr;
  }
  out.setOwnFunctions(std::min<WORD>(own, static_cast<WORD>(funcs.size())));
  auto list = out.initFunctions(static_cast<unsigned>(funcs.size()));
  for (unsigned i = 0; i < funcs.size(); ++i) {
    const FuncData& f = funcs[i];
    auto w = list[i];
    w.setName(f.name);
    w.setDispid(f.dispid);
    w.setInvkind(static_cast<uint16_t>(f.invkind));
    w.setFlags(f.flags);
    w.setHelp(f.help);
    auto params = w.initParams(static_cast<unsigned>(f.params.size()));
    for (unsigned k = 0; k < f.params.size(); ++k) WriteParam(f.params[k], params[k], no_objects);
  }

  if (kind == TKIND_INTERFACE && impls > 0) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> base;
    if (SUCCEEDED(info->GetRefTypeOfImplType(0, &ref)) &&
        SUCCEEDED(info->GetRefTypeInfo(ref, base.ReleaseAndGetAddressOf())) && base) {
      out.setBase(NameOf(base.Get(), MEMBERID_NIL));
    }
  }
  if (kind == TKIND_COCLASS) {
    auto w = out.initImpls(impls);
    for (WORD i = 0; i < impls; ++i) {
      HREFTYPE ref = 0;
      ComPtr<ITypeInfo> impl;
      INT flags = 0;
      info->GetImplTypeFlags(i, &flags);
      w[i].setFlags(flags);
      if (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) &&
          SUCCEEDED(info->GetRefTypeInfo(ref, impl.ReleaseAndGetAddressOf())) && impl) {
        w[i].setName(NameOf(impl.Get(), MEMBERID_NIL));
        TYPEATTR* a = nullptr;
        if (SUCCEEDED(impl->GetTypeAttr(&a)) && a) {
          w[i].setDispinterface(a->typekind == TKIND_DISPATCH);
          impl->ReleaseTypeAttr(a);
        }
      }
    }
  }
  if (kind == TKIND_ENUM || kind == TKIND_RECORD) {
    std::vector<std::pair<std::string, std::string>> names;
    std::vector<LONG> values;
    std::vector<ParamData> types;
    std::vector<ULONG> offsets;
    for (WORD v = 0; v < vars; ++v) {
      VARDESC* desc = nullptr;
      if (FAILED(info->GetVarDesc(v, &desc)) || !desc) continue;
      std::string var_help;
      std::string name = NameOf(info, desc->memid, &var_help);
      names.emplace_back(name, var_help);
      if (kind == TKIND_ENUM) {
        Variant value;
        if (desc->lpvarValue) VariantChangeType(&value, desc->lpvarValue, 0, VT_I4);
        values.push_back(value.vt == VT_I4 ? value.lVal : 0);
      } else {
        ParamData& p = types.emplace_back();
        p.name = name;
        DescribeParamType(info, desc->elemdescVar.tdesc, p);
        offsets.push_back(desc->oInst);
      }
      info->ReleaseVarDesc(desc);
    }
    if (kind == TKIND_ENUM) {
      auto w = out.initValues(static_cast<unsigned>(values.size()));
      for (unsigned i = 0; i < values.size(); ++i) {
        w[i].setName(names[i].first);
        w[i].setValue(values[i]);
        w[i].setHelp(names[i].second);
      }
    } else {
      auto w = out.initFields(static_cast<unsigned>(types.size()));
      for (unsigned i = 0; i < types.size(); ++i) {
        w[i].setName(types[i].name);
        WriteParam(types[i], w[i].initType(), no_objects);
        w[i].setOffset(offsets[i]);
      }
    }
  }
  return S_OK;
}

}  // namespace

HRESULT DescribeTypeInfo(ITypeInfo* info, wire::Dispatch::GetTypeInfoResults::Builder out) noexcept {
  if (!info) return E_POINTER;
  try {
    ComPtr<ITypeLib> library;
    UINT index = 0;
    if (SUCCEEDED(info->GetContainingTypeLib(library.ReleaseAndGetAddressOf(), &index)) && library) {
      auto w = out.initLibrary();
      BSTR name = nullptr;
      BSTR doc = nullptr;
      library->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
      w.setName(Utf8(name));
      w.setHelp(Utf8(doc));
      SysFreeString(name);
      SysFreeString(doc);
      TLIBATTR* attr = nullptr;
      if (SUCCEEDED(library->GetLibAttr(&attr)) && attr) {
        EncodeGuid(attr->guid, w.initGuid());
        w.setMajor(attr->wMajorVerNum);
        w.setMinor(attr->wMinorVerNum);
        library->ReleaseTLibAttr(attr);
      }
      const UINT count = library->GetTypeInfoCount();
      if (index >= count || count > 0xFFFF) return TYPE_E_ELEMENTNOTFOUND;
      w.setIndex(static_cast<uint16_t>(index));
      auto types = w.initTypes(count);
      for (UINT i = 0; i < count; ++i) {
        ComPtr<ITypeInfo> type;
        HRESULT hr = library->GetTypeInfo(i, type.ReleaseAndGetAddressOf());
        if (FAILED(hr) || !type) return FAILED(hr) ? hr : E_UNEXPECTED;
        hr = DescribeType(type.Get(), types[i]);
        if (FAILED(hr)) return hr;
      }
      return S_OK;
    }
    return DescribeType(info, out.initType());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_SERVER_CANTMARSHAL_DATA;
  }
}

namespace {

// What a rebuilt type cannot do: run a member. Its tables describe the host's object.
HRESULT NoCall(void*, void* const*) {
  return E_NOTIMPL;
}

pgx::auto_::TypeRef TypeFrom(DescribedType& s, wire::TypeDescription::Parameter::Reader p) {
  pgx::auto_::TypeRef t{};
  t.vt = p.getVt();
  t.byref = p.getByRef() ? 1 : 0;
  t.idl = s.Keep(std::string(p.getIdl()));
  t.type_name = p.getTypeName().size() ? s.Keep(std::string(p.getTypeName())) : nullptr;
  t.iid = nullptr;
  return t;
}

void BuildEntry(DescribedType& s, wire::TypeDescription::Reader d, pgx::auto_::TypeInfoEntry& e) {
  auto funcs = d.getFunctions();
  if (funcs.size() > 0xFFFF) throw std::length_error("too many members");
  auto& func_list = s.funcs_.emplace_back();
  func_list.reserve(funcs.size());
  for (auto f : funcs) {
    auto params = f.getParams();
    if (params.size() > 0xFFFF) throw std::length_error("too many parameters");
    auto& list = s.params_.emplace_back();
    list.reserve(params.size());
    for (auto p : params) {
      pgx::auto_::ParamInfo info{};
      info.name = s.Keep(std::string(p.getName()));
      info.type = TypeFrom(s, p);
      info.flags = p.getFlags();
      info.default_value = DefaultFrom(s, p.getDefault());
      list.push_back(info);
    }
    pgx::auto_::FuncInfo info{};
    info.name = s.Keep(std::string(f.getName()));
    info.dispid = f.getDispid();
    info.invkind = static_cast<INVOKEKIND>(f.getInvkind());
    info.flags = f.getFlags();
    info.helpstring = s.Keep(std::string(f.getHelp()));
    info.params = list.data();
    info.param_count = static_cast<USHORT>(list.size());
    info.call = NoCall;
    func_list.push_back(info);
  }
  auto values = d.getValues();
  auto& value_list = s.values_.emplace_back();
  for (auto v : values) {
    value_list.push_back({s.Keep(std::string(v.getName())), v.getValue(), s.Keep(std::string(v.getHelp()))});
  }
  auto fields = d.getFields();
  auto& field_list = s.fields_.emplace_back();
  for (auto f : fields) {
    field_list.push_back({s.Keep(std::string(f.getName())), TypeFrom(s, f.getType()), f.getOffset(), 0});
  }
  auto impls = d.getImpls();
  auto& impl_list = s.impls_.emplace_back();
  for (auto i : impls) {
    impl_list.push_back({s.Keep(std::string(i.getName())), i.getFlags(), i.getDispinterface()});
  }
  if (values.size() > 0xFFFF || fields.size() > 0xFFFF || impls.size() > 0xFFFF) {
    throw std::length_error("too many elements");
  }
  e = pgx::auto_::TypeInfoEntry{};
  e.kind = static_cast<TYPEKIND>(d.getKind());
  if (e.kind < TKIND_ENUM || e.kind >= TKIND_MAX) e.kind = TKIND_ALIAS;
  e.name = s.Keep(std::string(d.getName()));
  e.has_guid = DecodeGuid(d.getGuid(), e.guid);
  e.flags = d.getFlags();
  e.helpstring = s.Keep(std::string(d.getHelp()));
  e.base = d.getBase().size() ? s.Keep(std::string(d.getBase())) : nullptr;
  e.funcs = func_list.data();
  e.func_count = static_cast<USHORT>(func_list.size());
  e.own_func_count = std::min<USHORT>(d.getOwnFunctions(), e.func_count);
  e.values = value_list.data();
  e.value_count = static_cast<USHORT>(value_list.size());
  e.fields = field_list.data();
  e.field_count = static_cast<USHORT>(field_list.size());
  e.impls = impl_list.data();
  e.impl_count = static_cast<USHORT>(impl_list.size());
  e.size = d.getSize();
  e.alignment = d.getAlignment();
}

}  // namespace

HRESULT TypeInfoFromDescription(wire::Dispatch::GetTypeInfoResults::Reader description,
                                ITypeInfo** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    ComPtr<DescribedType> storage = DescribedType::Make();
    DescribedType& s = *storage;
    pgx::auto_::LibraryInfo& l = s.library_;
    std::size_t index = 0;
    if (description.hasLibrary()) {
      auto library = description.getLibrary();
      auto types = library.getTypes();
      if (types.size() == 0 || types.size() > 0xFFFF || library.getIndex() >= types.size()) {
        return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
      }
      s.entries_.resize(types.size());
      for (unsigned i = 0; i < types.size(); ++i) BuildEntry(s, types[i], s.entries_[i]);
      l.name = s.Keep(std::string(library.getName()));
      DecodeGuid(library.getGuid(), l.libid);
      l.major = library.getMajor();
      l.minor = library.getMinor();
      l.helpstring = s.Keep(std::string(library.getHelp()));
      index = library.getIndex();
    } else {
      s.entries_.resize(1);
      BuildEntry(s, description.getType(), s.entries_[0]);
      l.name = "";
      l.helpstring = "";
    }
    l.types = s.entries_.data();
    l.type_count = static_cast<USHORT>(s.entries_.size());
    return pgx::auto_::CreateTypeInfo(l, s.entries_[index], static_cast<IUnknown*>(storage.Get()), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

}  // namespace pgx::remote
