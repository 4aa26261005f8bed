#include "automation/idl_export.h"

#include <cstdio>
#include <sstream>
#include <vector>

#include "automation/dispatcher.h"

namespace pgx::auto_ {
namespace {

std::string Quote(const char* text) {
  std::string out = "\"";
  for (const char* c = text; *c; ++c) {
    switch (*c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += *c;
    }
  }
  return out + "\"";
}

std::string Uuid(const GUID& g) {
  std::string s = GuidToString(g);  // "{...}"
  return s.substr(1, s.size() - 2);
}

std::string Hex(DISPID id) {
  if (id > -256 && id < 256) return std::to_string(id);
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(id));
  return buf;
}

// "[a, b, c] " or "" for no attributes.
std::string Attributes(const std::vector<std::string>& attrs) {
  if (attrs.empty()) return "";
  std::string out = "[";
  for (std::size_t i = 0; i < attrs.size(); ++i) out += (i ? ", " : "") + attrs[i];
  return out + "] ";
}

void TypeAttributes(const TypeInfoEntry& t, std::vector<std::string>& attrs) {
  if (t.has_guid) attrs.push_back("uuid(" + Uuid(t.guid) + ")");
  struct Flag {
    WORD flag;
    const char* name;
  };
  static const Flag kFlags[] = {{TYPEFLAG_FDUAL, "dual"},
                                {TYPEFLAG_FOLEAUTOMATION, "oleautomation"},
                                {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
                                {TYPEFLAG_FHIDDEN, "hidden"},
                                {TYPEFLAG_FRESTRICTED, "restricted"},
                                {TYPEFLAG_FCONTROL, "control"},
                                {TYPEFLAG_FLICENSED, "licensed"},
                                {TYPEFLAG_FAPPOBJECT, "appobject"}};
  for (const Flag& f : kFlags) {
    if (t.flags & f.flag) attrs.push_back(f.name);
  }
  if (t.kind == TKIND_COCLASS && !(t.flags & TYPEFLAG_FCANCREATE)) attrs.push_back("noncreatable");
  if (t.helpstring) attrs.push_back("helpstring(" + Quote(t.helpstring) + ")");
}

void Params(std::ostringstream& out, const FuncInfo& f) {
  out << '(';
  for (USHORT p = 0; p < f.param_count; ++p) {
    const ParamInfo& param = f.params[p];
    std::vector<std::string> attrs;
    if (param.flags & PARAMFLAG_FIN) attrs.push_back("in");
    if (param.flags & PARAMFLAG_FOUT) attrs.push_back("out");
    if (param.flags & PARAMFLAG_FRETVAL) attrs.push_back("retval");
    if (param.flags & PARAMFLAG_FOPT) attrs.push_back("optional");
    if (param.flags & PARAMFLAG_FHASDEFAULT)
      attrs.push_back(std::string("defaultvalue(") + param.default_value.idl + ")");
    out << (p ? ", " : "") << Attributes(attrs) << param.type.idl << ' ' << param.name;
  }
  out << ')';
}

void FuncAttributes(const FuncInfo& f, std::vector<std::string>& attrs) {
  attrs.push_back("id(" + Hex(f.dispid) + ")");
  switch (f.invkind) {
    case INVOKE_PROPERTYGET:
      attrs.push_back("propget");
      break;
    case INVOKE_PROPERTYPUT:
      attrs.push_back("propput");
      break;
    case INVOKE_PROPERTYPUTREF:
      attrs.push_back("propputref");
      break;
    default:
      break;
  }
  struct Flag {
    WORD flag;
    const char* name;
  };
  static const Flag kFlags[] = {{FUNCFLAG_FHIDDEN, "hidden"},
                                {FUNCFLAG_FRESTRICTED, "restricted"},
                                {FUNCFLAG_FNONBROWSABLE, "nonbrowsable"},
                                {FUNCFLAG_FBINDABLE, "bindable"},
                                {FUNCFLAG_FREQUESTEDIT, "requestedit"},
                                {FUNCFLAG_FDISPLAYBIND, "displaybind"},
                                {FUNCFLAG_FDEFAULTBIND, "defaultbind"}};
  for (const Flag& fl : kFlags) {
    if (f.flags & fl.flag) attrs.push_back(fl.name);
  }
  if (f.helpstring) attrs.push_back("helpstring(" + Quote(f.helpstring) + ")");
}

}  // namespace

std::string ExportIdl(const LibraryInfo& lib) {
  std::ostringstream out;
  std::vector<std::string> lib_attrs{
      "uuid(" + Uuid(lib.libid) + ")",
      "version(" + std::to_string(lib.major) + "." + std::to_string(lib.minor) + ")"};
  if (lib.helpstring) lib_attrs.push_back("helpstring(" + Quote(lib.helpstring) + ")");
  out << Attributes(lib_attrs) << "\nlibrary " << lib.name << " {\n";
  for (USHORT i = 0; i < lib.importlib_count; ++i)
    out << "  importlib(" << Quote(lib.importlibs[i]) << ");\n";
  for (USHORT i = 0; i < lib.type_count; ++i) {
    const TypeInfoEntry& t = lib.types[i];
    std::vector<std::string> attrs;
    TypeAttributes(t, attrs);
    out << '\n';
    switch (t.kind) {
      case TKIND_ENUM:
        out << "  typedef " << Attributes(attrs) << "enum " << (t.tag ? t.tag : t.name) << " {\n";
        for (USHORT v = 0; v < t.value_count; ++v) {
          const EnumValueInfo& e = t.values[v];
          out << "    ";
          if (e.helpstring) out << "[helpstring(" << Quote(e.helpstring) << ")] ";
          out << e.name << " = " << e.value << (v + 1 < t.value_count ? ",\n" : "\n");
        }
        out << "  } " << t.name << ";\n";
        break;
      case TKIND_RECORD:
        out << "  typedef " << Attributes(attrs) << "struct " << (t.tag ? t.tag : t.name) << " {\n";
        for (USHORT f = 0; f < t.field_count; ++f) {
          const FieldInfo& field = t.fields[f];
          out << "    " << field.type.idl << ' ' << field.name;
          if (field.array_count) out << '[' << field.array_count << ']';
          out << ";\n";
        }
        out << "  } " << t.name << ";\n";
        break;
      case TKIND_INTERFACE: {
        attrs.insert(attrs.begin(), "object");
        out << "  " << Attributes(attrs) << "\n  interface " << t.name << " : "
            << (t.base ? t.base : "IUnknown") << " {\n";
        for (USHORT f = static_cast<USHORT>(t.func_count - t.own_func_count); f < t.func_count; ++f) {
          std::vector<std::string> fattrs;
          FuncAttributes(t.funcs[f], fattrs);
          out << "    " << Attributes(fattrs) << "HRESULT " << t.funcs[f].name;
          Params(out, t.funcs[f]);
          out << ";\n";
        }
        out << "  };\n";
        break;
      }
      case TKIND_DISPATCH:
        out << "  " << Attributes(attrs) << "\n  dispinterface " << t.name << " {\n    properties:\n";
        for (USHORT v = 0; v < t.var_count; ++v) {
          const VarInfo& var = t.vars[v];
          std::vector<std::string> vattrs{"id(" + Hex(var.dispid) + ")"};
          if (var.flags & VARFLAG_FREADONLY) vattrs.push_back("readonly");
          if (var.flags & VARFLAG_FHIDDEN) vattrs.push_back("hidden");
          if (var.flags & VARFLAG_FRESTRICTED) vattrs.push_back("restricted");
          if (var.helpstring) vattrs.push_back("helpstring(" + Quote(var.helpstring) + ")");
          out << "      " << Attributes(vattrs) << var.type.idl << ' ' << var.name << ";\n";
        }
        out << "    methods:\n";
        for (USHORT f = 0; f < t.func_count; ++f) {
          std::vector<std::string> fattrs;
          FuncAttributes(t.funcs[f], fattrs);
          out << "      " << Attributes(fattrs) << "void " << t.funcs[f].name;
          Params(out, t.funcs[f]);
          out << ";\n";
        }
        out << "  };\n";
        break;
      case TKIND_COCLASS:
        out << "  " << Attributes(attrs) << "\n  coclass " << t.name << " {\n";
        for (USHORT m = 0; m < t.impl_count; ++m) {
          const ImplTypeInfo& impl = t.impls[m];
          std::vector<std::string> iattrs;
          if (impl.flags & IMPLTYPEFLAG_FDEFAULT) iattrs.push_back("default");
          if (impl.flags & IMPLTYPEFLAG_FSOURCE) iattrs.push_back("source");
          if (impl.flags & IMPLTYPEFLAG_FRESTRICTED) iattrs.push_back("restricted");
          out << "    " << Attributes(iattrs) << (impl.dispinterface ? "dispinterface " : "interface ")
              << impl.name << ";\n";
        }
        out << "  };\n";
        break;
      default:
        break;
    }
  }
  out << "};\n";
  return out.str();
}

HRESULT ExportIdl(ITypeLib* typelib, std::string& idl) noexcept {
  const LibraryInfo* library = TablesOf(typelib);
  if (!library) return E_NOINTERFACE;
  try {
    idl = ExportIdl(*library);
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace pgx::auto_
