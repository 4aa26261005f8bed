#include "automation/remote/type_description.h"

#include <deque>
#include <new>
#include <string>
#include <vector>

#include "automation/dispatcher.h"
#include "automation/object.h"
#include "automation/remote/wire_variant.h"
#include "automation/typelib.h"

namespace pgx::remote {

using pgx::auto_::Bstr;
using pgx::auto_::ComPtr;

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
  std::vector<pgx::auto_::FuncInfo> funcs_;
  pgx::auto_::TypeInfoEntry entry_{};
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

HRESULT DescribeTypeInfo(ITypeInfo* info, wire::TypeDescription::Builder out) noexcept {
  if (!info) return E_POINTER;
  try {
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (FAILED(hr) || !attr) return FAILED(hr) ? hr : E_UNEXPECTED;
    EncodeGuid(attr->guid, out.initGuid());
    out.setKind(static_cast<uint16_t>(attr->typekind));
    out.setFlags(attr->wTypeFlags);
    out.setMajor(attr->wMajorVerNum);
    out.setMinor(attr->wMinorVerNum);
    info->ReleaseTypeAttr(attr);
    BSTR name = nullptr;
    BSTR doc = nullptr;
    info->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr);
    out.setName(Utf8(name));
    out.setHelp(Utf8(doc));
    SysFreeString(name);
    SysFreeString(doc);
    std::vector<FuncData> funcs;
    hr = CollectFunctions(info, 0, funcs);
    if (FAILED(hr)) return hr;
    auto list = out.initFunctions(static_cast<unsigned>(funcs.size()));
    NoObjects no_objects;
    for (unsigned i = 0; i < funcs.size(); ++i) {
      const FuncData& f = funcs[i];
      auto w = list[i];
      w.setName(f.name);
      w.setDispid(f.dispid);
      w.setInvkind(static_cast<uint16_t>(f.invkind));
      w.setFlags(f.flags);
      w.setHelp(f.help);
      auto params = w.initParams(static_cast<unsigned>(f.params.size()));
      for (unsigned k = 0; k < f.params.size(); ++k) {
        const ParamData& p = f.params[k];
        auto pw = params[k];
        pw.setName(p.name);
        pw.setVt(p.vt);
        pw.setByRef(p.byref);
        pw.setTypeName(p.type_name);
        pw.setIdl(p.idl);
        pw.setFlags(p.flags);
        EncodeVariant(p.default_value, pw.initDefault(), no_objects, DISP_E_BADVARTYPE);
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_SERVER_CANTMARSHAL_DATA;
  }
}

HRESULT TypeInfoFromDescription(wire::TypeDescription::Reader description, ITypeInfo** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    ComPtr<DescribedType> storage = DescribedType::Make();
    DescribedType& s = *storage;
    auto funcs = description.getFunctions();
    if (funcs.size() > 0xFFFF) return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
    s.funcs_.reserve(funcs.size());
    for (auto f : funcs) {
      auto params = f.getParams();
      if (params.size() > 0xFFFF) return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
      auto& list = s.params_.emplace_back();
      list.reserve(params.size());
      for (auto p : params) {
        pgx::auto_::ParamInfo info{};
        info.name = s.Keep(std::string(p.getName()));
        info.type.vt = p.getVt();
        info.type.byref = p.getByRef() ? 1 : 0;
        info.type.idl = s.Keep(std::string(p.getIdl()));
        info.type.type_name = p.getTypeName().size() ? s.Keep(std::string(p.getTypeName())) : nullptr;
        info.type.iid = nullptr;
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
      info.call = nullptr;
      s.funcs_.push_back(info);
    }
    pgx::auto_::TypeInfoEntry& e = s.entry_;
    // A description of what the host's object answers; it describes and never invokes.
    e.kind = TKIND_DISPATCH;
    e.name = s.Keep(std::string(description.getName()));
    e.has_guid = DecodeGuid(description.getGuid(), e.guid);
    e.flags = description.getFlags();
    e.helpstring = s.Keep(std::string(description.getHelp()));
    e.funcs = s.funcs_.data();
    e.func_count = static_cast<USHORT>(s.funcs_.size());
    e.own_func_count = e.func_count;
    pgx::auto_::LibraryInfo& l = s.library_;
    l.name = s.Keep(std::string(description.getLibrary()));
    l.major = description.getMajor();
    l.minor = description.getMinor();
    l.helpstring = "";
    l.types = &e;
    l.type_count = 1;
    return pgx::auto_::CreateTypeInfo(l, e, static_cast<IUnknown*>(storage.Get()), out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return RPC_E_CLIENT_CANTUNMARSHAL_DATA;
  }
}

}  // namespace pgx::remote
