"""The table source of a library, <stem>_idl.cpp: the type-library tables (typelib.h) that the dispatcher,
ITypeInfo, IDL export and registration read, and the glue from each table entry to its C++ member."""

from typing import List

from idl_checked import (CheckedCoClass, CheckedDispInterface, CheckedEnum, CheckedField, CheckedInterface,
                         CheckedLibrary, CheckedMethod, CheckedParam, CheckedRecord, TypeUse)
from idl_cpp import INVKIND, cpp_decl, cpp_member_name, cpp_type, cstr, dispid_text, guid_init, u16str

_PARAM_FLAGS = (("in", "PARAMFLAG_FIN"), ("out", "PARAMFLAG_FOUT"), ("retval", "PARAMFLAG_FRETVAL"),
                ("optional", "PARAMFLAG_FOPT"))
_FUNC_FLAGS = (("restricted", "FUNCFLAG_FRESTRICTED"), ("hidden", "FUNCFLAG_FHIDDEN"),
               ("nonbrowsable", "FUNCFLAG_FNONBROWSABLE"), ("bindable", "FUNCFLAG_FBINDABLE"),
               ("requestedit", "FUNCFLAG_FREQUESTEDIT"), ("displaybind", "FUNCFLAG_FDISPLAYBIND"),
               ("defaultbind", "FUNCFLAG_FDEFAULTBIND"))
_TYPE_FLAGS = (("hidden", "TYPEFLAG_FHIDDEN"), ("dual", "TYPEFLAG_FDUAL"),
               ("nonextensible", "TYPEFLAG_FNONEXTENSIBLE"), ("oleautomation", "TYPEFLAG_FOLEAUTOMATION"),
               ("restricted", "TYPEFLAG_FRESTRICTED"), ("control", "TYPEFLAG_FCONTROL"),
               ("licensed", "TYPEFLAG_FLICENSED"), ("appobject", "TYPEFLAG_FAPPOBJECT"))
_VAR_FLAGS = (("readonly", "VARFLAG_FREADONLY"), ("hidden", "VARFLAG_FHIDDEN"), ("restricted", "VARFLAG_FRESTRICTED"))
_IMPL_FLAGS = (("default", "IMPLTYPEFLAG_FDEFAULT"), ("source", "IMPLTYPEFLAG_FSOURCE"),
               ("restricted", "IMPLTYPEFLAG_FRESTRICTED"))


def _flags(attrs, table, none="0") -> str:
    flags = [flag for attr, flag in table if attr in attrs]
    return " | ".join(flags) if flags else none


def type_ref(r: TypeUse) -> str:
    name = cstr(r.user.name) if r.user is not None else "nullptr"
    iid = f"&{r.iid_name}" if r.iid_name else "nullptr"
    return f"{{{r.vt}, {r.byref}, {cstr(r.idl)}, {name}, {iid}}}"


def field_type_ref(f: CheckedField) -> str:
    return f"{{{f.vt}, {f.pointers}, {cstr(f.type.idl())}, {cstr(f.type_name)}, nullptr}}"


def param_flags(p: CheckedParam) -> str:
    flags = [flag for attr, flag in _PARAM_FLAGS if p.has(attr)]
    if p.default is not None:
        flags.append("PARAMFLAG_FHASDEFAULT")
    return " | ".join(flags) if flags else "PARAMFLAG_NONE"


def default_init(p: CheckedParam) -> str:
    d = p.default
    if d is None:
        return "{}"
    if d.vt == "VT_BSTR":
        return f"{{VT_BSTR, 0, 0.0, {u16str(d.value)}, {cstr(d.idl)}}}"
    if d.vt in ("VT_R4", "VT_R8"):
        return f"{{{d.vt}, 0, {d.value!r}, nullptr, {cstr(d.idl)}}}"
    return f"{{{d.vt}, {d.value}, 0.0, nullptr, {cstr(d.idl)}}}"


def type_flags(t) -> str:
    flags = [flag for attr, flag in _TYPE_FLAGS if attr in t.attrs]
    if isinstance(t, CheckedCoClass) and "noncreatable" not in t.attrs:
        flags.append("TYPEFLAG_FCANCREATE")
    if isinstance(t, (CheckedInterface, CheckedDispInterface)) and t.dispatchable:
        flags.append("TYPEFLAG_FDISPATCHABLE")
    return " | ".join(flags) if flags else "0"


def tables(lib: CheckedLibrary, source_name: str, header_include: str) -> str:
    o: List[str] = []
    w = o.append
    w(f"// Generated from {source_name} by the IDL generator. Do not edit.")
    w(f'#include "{header_include}"')
    w("")
    w("namespace {")
    w("")
    w("using namespace pgx::auto_;")
    w("")
    entries = []
    for t in lib.types:
        if isinstance(t, CheckedEnum):
            w(f"constexpr EnumValueInfo k{t.name}_values[] = {{")
            for v in t.values:
                w(f"    {{{cstr(v.name)}, {v.value}, {cstr(v.helpstring)}}},")
            w("};")
            entries.append(_entry(t, "TKIND_ENUM", enums=f"k{t.name}_values", n_enums=len(t.values), size=4, align=4))
        elif isinstance(t, CheckedRecord):
            w(f"constexpr FieldInfo k{t.name}_fields[] = {{")
            for f in t.fields:
                w(f"    {{{cstr(f.name)}, {field_type_ref(f)}, offsetof({t.name}, {f.name}), {f.count}}},")
            w("};")
            entries.append(_entry(t, "TKIND_RECORD", fields=f"k{t.name}_fields", n_fields=len(t.fields),
                                  size=t.size, align=t.align))
        elif isinstance(t, (CheckedInterface, CheckedDispInterface)):
            methods = t.all_methods
            for m in methods:
                _params(t, m, w)
                if isinstance(t, CheckedInterface):
                    _thunk(t, m, w)
            n_vars = len(t.properties) if isinstance(t, CheckedDispInterface) else 0
            if n_vars:
                w(f"constexpr VarInfo k{t.name}_vars[] = {{")
                for p in t.properties:
                    w(f"    {{{cstr(p.name)}, {p.dispid}, {type_ref(p.type)}, {_flags(p.attrs, _VAR_FLAGS)}, "
                      f"{cstr(p.helpstring)}}},")
                w("};")
            if methods:
                w(f"constexpr FuncInfo k{t.name}_funcs[] = {{")
                for m in methods:
                    w(_func_info(t, m))
                w("};")
            kind = "TKIND_INTERFACE" if isinstance(t, CheckedInterface) else "TKIND_DISPATCH"
            base = t.base if isinstance(t, CheckedInterface) else None
            entries.append(_entry(t, kind, funcs=f"k{t.name}_funcs" if methods else "nullptr", n_funcs=len(methods),
                                  base=base, vars=f"k{t.name}_vars" if n_vars else "nullptr", n_vars=n_vars,
                                  size=8, align=8, own_funcs=len(t.methods)))
        elif isinstance(t, CheckedCoClass):
            w(f"constexpr ImplTypeInfo k{t.name}_impls[] = {{")
            for item in t.items:
                disp = "true" if item.is_dispinterface else "false"
                w(f"    {{{cstr(item.name)}, {_flags(item.attrs, _IMPL_FLAGS)}, {disp}}},")
            w("};")
            entries.append(_entry(t, "TKIND_COCLASS", impls=f"k{t.name}_impls", n_impls=len(t.items), size=0,
                                  align=0))
        w("")
    w("constexpr TypeInfoEntry kTypes[] = {")
    for e in entries:
        w(e)
    w("};")
    if lib.importlibs:
        w("constexpr const char* kImportLibs[] = {" + ", ".join(cstr(x) for x in lib.importlibs) + "};")
    major, minor = lib.version
    w("")
    w("}  // namespace")
    w("")
    w(f"const LibraryInfo& {lib.name}_TypeLibrary() {{")
    w(f"  static const LibraryInfo library = {{{cstr(lib.name)}, {guid_init(lib.uuid)}, {major}, {minor}, "
      f"{cstr(lib.helpstring)}, {'kImportLibs' if lib.importlibs else 'nullptr'}, {len(lib.importlibs)}, "
      f"kTypes, {len(entries)}}};")
    w("  return library;")
    w("}")
    w("")
    w("namespace pgx::auto_ {")
    for idx, t in enumerate(lib.types):
        if isinstance(t, (CheckedInterface, CheckedDispInterface)):
            w(f"const TypeInfoEntry& interface_type_info<{t.name}>::type() {{ return kTypes[{idx}]; }}")
    w("}  // namespace pgx::auto_")
    return "\n".join(o) + "\n"


def _entry(t, kind, funcs="nullptr", n_funcs=0, vars="nullptr", n_vars=0, enums="nullptr", n_enums=0,
           fields="nullptr", n_fields=0, impls="nullptr", n_impls=0, base=None, size=0, align=0, own_funcs=0):
    guid = guid_init(t.uuid) if t.uuid else "{}"
    tag = getattr(t, "tag", None)
    tag_text = f", {cstr(tag)}" if tag and tag != t.name else ""
    return (f"    {{{kind}, {cstr(t.name)}, {guid}, {'true' if t.uuid else 'false'}, {type_flags(t)}, "
            f"{cstr(t.helpstring)}, {cstr(base)}, {funcs}, {n_funcs}, {own_funcs}, {vars}, {n_vars}, "
            f"{enums}, {n_enums}, {fields}, {n_fields}, {impls}, {n_impls}, {size}, {align}{tag_text}}},")


def _params(itf, m: CheckedMethod, w):
    if not m.params:
        return
    w(f"constexpr ParamInfo k{itf.name}_{cpp_member_name(m)}_params[] = {{")
    for p in m.params:
        w(f"    {{{cstr(p.name)}, {type_ref(p.type)}, {param_flags(p)}, {default_init(p)}}},")
    w("};")


def _thunk(itf: CheckedInterface, m: CheckedMethod, w):
    args = []
    for k, p in enumerate(m.params):
        r = p.type
        slot = f"args[{k}]"
        if r.byref:
            args.append(f"static_cast<{cpp_decl(r)}>({slot})")
        elif r.kind == "interface":
            args.append(f"static_cast<{cpp_type(r)}*>(*static_cast<void* const*>({slot}))")
        else:
            args.append(f"*static_cast<{cpp_type(r)}*>({slot})")
    unused = "" if m.params else "/*args*/"
    sig = f"HRESULT {itf.name}_{cpp_member_name(m)}_call(void* self, void* const* {'args' if m.params else unused})"
    w(f"{sig} {{")
    w(f"  return static_cast<{itf.name}*>(self)->{cpp_member_name(m)}({', '.join(args)});")
    w("}")


def _func_info(itf, m: CheckedMethod) -> str:
    params = f"k{itf.name}_{cpp_member_name(m)}_params" if m.params else "nullptr"
    thunk = f"{itf.name}_{cpp_member_name(m)}_call" if isinstance(itf, CheckedInterface) else "nullptr"
    return (f"    {{{cstr(m.name)}, {dispid_text(m.dispid)}, {INVKIND[m.invkind]}, "
            f"{_flags(m.attrs, _FUNC_FLAGS)}, {cstr(m.helpstring)}, {params}, {len(m.params)}, {thunk}}},")
