#include "apps/pgx/type_library.h"

#include <algorithm>
#include <cctype>

#include "automation/bstr.h"

namespace pgx::cli {
namespace {

using auto_::ComPtr;

std::string Documented(ITypeInfo* info, MEMBERID id, std::string* help = nullptr) {
  BSTR name = nullptr, doc = nullptr;
  if (FAILED(info->GetDocumentation(id, &name, help ? &doc : nullptr, nullptr, nullptr))) return {};
  std::string out = Utf8(name);
  if (help) *help = Utf8(doc);
  SysFreeString(name);
  SysFreeString(doc);
  return out;
}

// The type information an object gives (empty when it gives none).
ComPtr<ITypeInfo> TypeInfoOf(IDispatch* object) {
  ComPtr<ITypeInfo> info;
  UINT count = 0;
  if (!object || FAILED(object->GetTypeInfoCount(&count)) || count == 0 ||
      FAILED(object->GetTypeInfo(0, 0, info.ReleaseAndGetAddressOf())))
    return {};
  return info;
}

std::string BaseIdl(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
      return "char";
    case VT_I2:
      return "short";
    case VT_I4:
      return "long";
    case VT_I8:
      return "hyper";
    case VT_UI1:
      return "unsigned char";
    case VT_UI2:
      return "unsigned short";
    case VT_UI4:
      return "unsigned long";
    case VT_UI8:
      return "unsigned hyper";
    case VT_INT:
      return "int";
    case VT_UINT:
      return "unsigned int";
    case VT_R4:
      return "float";
    case VT_R8:
      return "double";
    case VT_BOOL:
      return "VARIANT_BOOL";
    case VT_BSTR:
      return "BSTR";
    case VT_VARIANT:
      return "VARIANT";
    case VT_DISPATCH:
      return "IDispatch*";
    case VT_UNKNOWN:
      return "IUnknown*";
    case VT_DATE:
      return "DATE";
    case VT_CY:
      return "CURRENCY";
    case VT_ERROR:
      return "SCODE";
    case VT_HRESULT:
      return "HRESULT";
    case VT_VOID:
      return "void";
    default:
      return "VARTYPE " + std::to_string(vt);
  }
}

// The type a TYPEDESC names, with its pointers counted: an interface is always reached through one
// pointer of its own, so only pointers beyond that one make a parameter by-reference.
TypeDesc Describe(const TYPEDESC& td, ITypeInfo* context) {
  int pointers = 0;
  const TYPEDESC* t = &td;
  while (t->vt == VT_PTR && t->lptdesc) {
    ++pointers;
    t = t->lptdesc;
  }
  TypeDesc d;
  if (t->vt == VT_SAFEARRAY && t->lptdesc) {
    d.vt = static_cast<VARTYPE>(VT_ARRAY | Describe(*t->lptdesc, context).vt);
  } else if (t->vt == VT_USERDEFINED) {
    ComPtr<ITypeInfo> user;
    TYPEATTR* attr = nullptr;
    if (context && SUCCEEDED(context->GetRefTypeInfo(t->hreftype, user.ReleaseAndGetAddressOf())) &&
        SUCCEEDED(user->GetTypeAttr(&attr))) {
      d.kind = attr->typekind;
      d.name = Documented(user.Get(), MEMBERID_NIL);
      switch (attr->typekind) {
        case TKIND_ENUM:
          d.vt = VT_I4;
          break;
        case TKIND_INTERFACE:
        case TKIND_DISPATCH:
        case TKIND_COCLASS:
          d.vt = VT_DISPATCH;
          if (pointers > 0) --pointers;
          break;
        case TKIND_RECORD:
          d.vt = VT_RECORD;
          break;
        case TKIND_ALIAS: {
          TypeDesc aliased = Describe(attr->tdescAlias, user.Get());
          d.vt = aliased.vt;
          break;
        }
        default:
          break;
      }
      user->ReleaseTypeAttr(attr);
    }
  } else {
    d.vt = t->vt;
  }
  d.byref = pointers > 0;
  return d;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && Lower(a) == Lower(b);
}

std::string Utf8(BSTR text) {
  std::string out;
  if (text && FAILED(auto_::BstrToUtf8(text, &out))) out.assign(1, '?');
  return out;
}

std::string TypeDesc::Idl() const {
  std::string base;
  if (vt & VT_ARRAY) {
    base = "SAFEARRAY(" + BaseIdl(static_cast<VARTYPE>(vt & ~VT_ARRAY)) + ")";
  } else if (!name.empty()) {
    base = IsObject() ? name + "*" : name;
  } else if (vt == VT_EMPTY) {
    base = "void";
  } else {
    base = BaseIdl(vt);
  }
  return byref ? base + "*" : base;
}

std::string ParamDesc::Idl() const {
  std::vector<std::string> attributes;
  if (In()) attributes.push_back("in");
  if (Out()) attributes.push_back("out");
  if (Retval()) attributes.push_back("retval");
  if (flags & PARAMFLAG_FOPT) attributes.push_back("optional");
  if (default_value) {
    auto_::Variant text;
    std::string shown = "?";
    if (default_value->vt == VT_BSTR) {
      shown = "\"" + Utf8(default_value->bstrVal) + "\"";
    } else if (SUCCEEDED(VariantChangeType(&text, &*default_value, 0, VT_BSTR))) {
      shown = Utf8(text.bstrVal);
    }
    attributes.push_back("defaultvalue(" + shown + ")");
  }
  std::string out = "[";
  for (std::size_t i = 0; i < attributes.size(); ++i) out += (i ? ", " : "") + attributes[i];
  return out + "] " + type.Idl() + " " + name;
}

std::vector<ParamDesc> MemberForm::Arguments() const {
  std::vector<ParamDesc> out;
  for (std::size_t i = 0; i < params.size(); ++i) {
    if (params[i].Retval()) continue;
    if (IsPut() && i + 1 == params.size()) continue;
    out.push_back(params[i]);
  }
  return out;
}

TypeDesc MemberForm::Result() const {
  for (const ParamDesc& p : params) {
    if (p.Retval()) {
      TypeDesc t = p.type;
      t.byref = false;
      return t;
    }
  }
  return {};
}

const ParamDesc* MemberForm::PutValue() const {
  return IsPut() && !params.empty() ? &params.back() : nullptr;
}

InterfaceInfo::InterfaceInfo(ComPtr<ITypeInfo> info) : info_(std::move(info)) {
  if (!info_) return;
  name_ = Documented(info_.Get(), MEMBERID_NIL, &help_);
  TYPEATTR* attr = nullptr;
  if (FAILED(info_->GetTypeAttr(&attr))) return;
  kind_ = attr->typekind;
  flags_ = attr->wTypeFlags;
  const WORD count = attr->cFuncs;
  info_->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info_->GetFuncDesc(i, &f))) continue;
    MemberForm form;
    form.id = f->memid;
    form.invkind = f->invkind;
    form.flags = f->wFuncFlags;
    form.name = Documented(info_.Get(), f->memid, &form.help);
    BSTR names[64] = {};
    UINT named = 0;
    info_->GetNames(f->memid, names, 64, &named);
    for (SHORT p = 0; p < f->cParams; ++p) {
      const ELEMDESC& e = f->lprgelemdescParam[p];
      ParamDesc param;
      param.type = Describe(e.tdesc, info_.Get());
      param.flags = e.paramdesc.wParamFlags;
      if ((param.flags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
        param.default_value.emplace(e.paramdesc.pparamdescex->varDefaultValue);
      // A put's value has no name of its own.
      param.name = static_cast<UINT>(p + 1) < named && !(form.IsPut() && p + 1 == f->cParams)
                       ? Utf8(names[p + 1])
                       : "Value";
      form.params.push_back(std::move(param));
    }
    for (UINT n = 0; n < named; ++n) SysFreeString(names[n]);
    info_->ReleaseFuncDesc(f);
    members_.push_back(std::move(form));
  }
}

InterfaceInfo InterfaceInfo::Of(IDispatch* object) {
  ComPtr<ITypeInfo> info = TypeInfoOf(object);
  if (!info) return {};
  return InterfaceInfo(std::move(info));
}

std::optional<std::string> InterfaceInfo::NameOf(IDispatch* object) {
  ComPtr<ITypeInfo> info = TypeInfoOf(object);
  if (!info) return std::nullopt;
  return Documented(info.Get(), MEMBERID_NIL);
}

std::vector<const MemberForm*> InterfaceInfo::Find(std::string_view name) const {
  std::vector<const MemberForm*> out;
  for (const MemberForm& m : members_) {
    if (SameName(m.name, name)) out.push_back(&m);
  }
  return out;
}

std::vector<const MemberForm*> InterfaceInfo::Find(DISPID id) const {
  std::vector<const MemberForm*> out;
  for (const MemberForm& m : members_) {
    if (m.id == id) out.push_back(&m);
  }
  return out;
}

std::vector<std::string> InterfaceInfo::Closest(std::string_view name) const {
  const std::string wanted = Lower(name);
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (const MemberForm& m : members_) {
    if (m.Hidden()) continue;
    const std::string candidate = Lower(m.name);
    std::size_t distance = EditDistance(wanted, candidate);
    if (candidate.rfind(wanted, 0) == 0 || wanted.rfind(candidate, 0) == 0)
      distance = std::min<std::size_t>(distance, 1);
    if (distance <= std::max<std::size_t>(2, wanted.size() / 3) &&
        std::none_of(scored.begin(), scored.end(), [&](const auto& s) { return s.second == m.name; }))
      scored.emplace_back(distance, m.name);
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (std::size_t i = 0; i < scored.size() && i < 3; ++i) out.push_back(scored[i].second);
  return out;
}

Library Library::Of(IDispatch* object) {
  Library library;
  ComPtr<ITypeInfo> info = TypeInfoOf(object);
  if (!info) return library;
  UINT index = 0;
  if (FAILED(info->GetContainingTypeLib(library.lib_.ReleaseAndGetAddressOf(), &index)) || !library.lib_)
    return {};
  ITypeLib* lib = library.lib_.Get();
  BSTR name = nullptr, help = nullptr;
  if (SUCCEEDED(lib->GetDocumentation(-1, &name, &help, nullptr, nullptr))) {
    library.name_ = Utf8(name);
    library.help_ = Utf8(help);
  }
  SysFreeString(name);
  SysFreeString(help);
  const UINT types = lib->GetTypeInfoCount();
  for (UINT i = 0; i < types; ++i) {
    Type type;
    if (FAILED(lib->GetTypeInfo(i, type.info.ReleaseAndGetAddressOf())) ||
        FAILED(lib->GetTypeInfoType(i, &type.kind)))
      continue;
    type.name = Documented(type.info.Get(), MEMBERID_NIL, &type.help);
    if (type.kind == TKIND_ENUM) {
      TYPEATTR* attr = nullptr;
      if (SUCCEEDED(type.info->GetTypeAttr(&attr))) {
        const WORD vars = attr->cVars;
        type.info->ReleaseTypeAttr(attr);
        for (UINT v = 0; v < vars; ++v) {
          VARDESC* desc = nullptr;
          if (FAILED(type.info->GetVarDesc(v, &desc))) continue;
          if (desc->varkind == VAR_CONST && desc->lpvarValue) {
            auto_::Variant value;
            if (SUCCEEDED(VariantChangeType(&value, desc->lpvarValue, 0, VT_I4)))
              library.constants_.push_back({Documented(type.info.Get(), desc->memid), value.lVal, type.name});
          }
          type.info->ReleaseVarDesc(desc);
        }
      }
    }
    library.types_.push_back(std::move(type));
  }
  return library;
}

const Library::Type* Library::FindType(std::string_view name) const {
  for (const Type& t : types_) {
    if (SameName(t.name, name)) return &t;
  }
  // "Instrument" for IInstrument, and a record by its tag or its name (_ViAttributeInfo, ViAttributeInfo).
  for (const Type& t : types_) {
    if (t.name.size() == name.size() + 1 && (t.name[0] == 'I' || t.name[0] == '_') &&
        SameName(std::string_view(t.name).substr(1), name))
      return &t;
    if (name.size() == t.name.size() + 1 && name[0] == '_' && SameName(name.substr(1), t.name)) return &t;
  }
  return nullptr;
}

const Constant* Library::FindConstant(std::string_view name) const {
  for (const Constant& c : constants_) {
    if (SameName(c.name, name)) return &c;
  }
  return nullptr;
}

std::vector<const Constant*> Library::ConstantsOf(std::string_view enumeration) const {
  std::vector<const Constant*> out;
  for (const Constant& c : constants_) {
    if (c.enumeration == enumeration) out.push_back(&c);
  }
  return out;
}

bool Library::IsSentinel(const Constant& constant) const {
  const std::vector<const Constant*> all = ConstantsOf(constant.enumeration);
  if (all.empty()) return false;
  if (all.back() == &constant) return constant.name.ends_with("End");
  if (all.front() != &constant || !constant.name.ends_with("Start")) return false;
  return std::any_of(all.begin() + 1, all.end(),
                     [&](const Constant* c) { return c->value == constant.value; });
}

std::string Library::NameOf(std::string_view enumeration, LONG value) const {
  const Constant* sentinel = nullptr;
  for (const Constant* c : ConstantsOf(enumeration)) {
    if (c->value != value) continue;
    if (!IsSentinel(*c)) return c->name;
    if (!sentinel) sentinel = c;
  }
  return sentinel ? sentinel->name : std::string();
}

std::vector<Field> Library::Fields(std::string_view record, ULONG* size) const {
  std::vector<Field> fields;
  const Type* type = FindType(record);
  if (!type || type->kind != TKIND_RECORD) return fields;
  TYPEATTR* attr = nullptr;
  if (FAILED(type->info->GetTypeAttr(&attr))) return fields;
  const WORD vars = attr->cVars;
  if (size) *size = attr->cbSizeInstance;
  type->info->ReleaseTypeAttr(attr);
  for (UINT v = 0; v < vars; ++v) {
    VARDESC* desc = nullptr;
    if (FAILED(type->info->GetVarDesc(v, &desc))) continue;
    fields.push_back({Documented(type->info.Get(), desc->memid), desc->oInst,
                      Describe(desc->elemdescVar.tdesc, type->info.Get())});
    type->info->ReleaseVarDesc(desc);
  }
  return fields;
}

}  // namespace pgx::cli
