"""C++ output of the IDL generator: interface declarations, constants, enums, records, type-library tables,
the glue from table entries to C++ members, and client wrappers that call by DISPID through IDispatch."""

from typing import List

from idl_model import (CoClass, DispInterface, Enum, Interface, Library, Method, Param, Record, Resolved,
                       all_methods, cpp_string_literal, derives_from_dispatch, record_layout)


def guid_init(text: str) -> str:
    h = text.replace("-", "")
    d4 = ", ".join(f"0x{h[16 + 2 * i:18 + 2 * i]}" for i in range(8))
    return f"{{0x{h[0:8]}, 0x{h[8:12]}, 0x{h[12:16]}, {{{d4}}}}}"


def cstr(s) -> str:
    return "nullptr" if s is None else cpp_string_literal(s)


def u16str(s) -> str:
    return "nullptr" if s is None else "u" + cpp_string_literal(s)


INVKIND = {"method": "INVOKE_FUNC", "propget": "INVOKE_PROPERTYGET", "propput": "INVOKE_PROPERTYPUT",
           "propputref": "INVOKE_PROPERTYPUTREF"}
CPP_PREFIX = {"method": "", "propget": "get_", "propput": "put_", "propputref": "putref_"}
VT_SUFFIX = {"VT_I2": "I2", "VT_I4": "I4", "VT_R4": "R4", "VT_R8": "R8", "VT_UI1": "UI1", "VT_UI2": "UI2",
             "VT_UI4": "UI4", "VT_BSTR": "BSTR", "VT_BOOL": "BOOL", "VT_VARIANT": "VARIANT",
             "VT_DISPATCH": "DISPATCH", "VT_UNKNOWN": "UNKNOWN"}


def dispid_text(dispid: int) -> str:
    return str(dispid) if -256 < dispid < 256 else f"{dispid:#x}"


def cpp_member_name(m: Method) -> str:
    return CPP_PREFIX[m.invkind] + m.name


def type_ref(r: Resolved) -> str:
    name = cstr(r.user.name) if r.user is not None else "nullptr"
    iid = f"&{r.iid_name}" if r.iid_name else "nullptr"
    return f"{{{r.vt}, {r.byref}, {cstr(r.spec.idl())}, {name}, {iid}}}"


def param_flags(p: Param) -> str:
    flags = []
    for attr, flag in (("in", "PARAMFLAG_FIN"), ("out", "PARAMFLAG_FOUT"), ("retval", "PARAMFLAG_FRETVAL"),
                       ("optional", "PARAMFLAG_FOPT")):
        if p.has(attr):
            flags.append(flag)
    if p.default is not None:
        flags.append("PARAMFLAG_FHASDEFAULT")
    return " | ".join(flags) if flags else "PARAMFLAG_NONE"


def default_init(p: Param) -> str:
    d = p.default
    if d is None:
        return "{}"
    r = p.resolved
    base = r.spec.base
    if d.kind == "str":
        return f"{{VT_BSTR, 0, 0.0, {u16str(d.value)}, {cstr(d.idl)}}}"
    if d.kind == "real" or base in ("float", "double"):
        vt = "VT_R4" if base == "float" else "VT_R8"
        return f"{{{vt}, 0, {float(d.value)!r}, nullptr, {cstr(d.idl)}}}"
    vt = {"short": "VT_I2", "VARIANT_BOOL": "VT_BOOL", "unsigned char": "VT_UI1", "unsigned short": "VT_UI2",
          "unsigned long": "VT_UI4"}.get(base, "VT_I4")
    return f"{{{vt}, {int(d.value)}, 0.0, nullptr, {cstr(d.idl)}}}"


def func_flags(m: Method) -> str:
    flags = []
    for attr, flag in (("restricted", "FUNCFLAG_FRESTRICTED"), ("hidden", "FUNCFLAG_FHIDDEN"),
                       ("nonbrowsable", "FUNCFLAG_FNONBROWSABLE"), ("bindable", "FUNCFLAG_FBINDABLE"),
                       ("requestedit", "FUNCFLAG_FREQUESTEDIT"), ("displaybind", "FUNCFLAG_FDISPLAYBIND"),
                       ("defaultbind", "FUNCFLAG_FDEFAULTBIND")):
        if attr in m.attrs:
            flags.append(flag)
    return " | ".join(flags) if flags else "0"


def type_flags(t, lib: Library) -> str:
    flags = []
    table = (("hidden", "TYPEFLAG_FHIDDEN"), ("dual", "TYPEFLAG_FDUAL"), ("nonextensible", "TYPEFLAG_FNONEXTENSIBLE"),
             ("oleautomation", "TYPEFLAG_FOLEAUTOMATION"), ("restricted", "TYPEFLAG_FRESTRICTED"),
             ("control", "TYPEFLAG_FCONTROL"), ("licensed", "TYPEFLAG_FLICENSED"),
             ("appobject", "TYPEFLAG_FAPPOBJECT"))
    for attr, flag in table:
        if attr in t.attrs:
            flags.append(flag)
    if isinstance(t, CoClass) and "noncreatable" not in t.attrs:
        flags.append("TYPEFLAG_FCANCREATE")
    if isinstance(t, DispInterface) or (isinstance(t, Interface) and derives_from_dispatch(lib, t)):
        flags.append("TYPEFLAG_FDISPATCHABLE")
    return " | ".join(flags) if flags else "0"


class Generator:
    def __init__(self, lib: Library, source_name: str):
        self.lib = lib
        self.source_name = source_name
        self.ns = lib.name

    # ------------------------------------------------------------------------------------------------------------
    # Header

    def header(self) -> str:
        lib = self.lib
        o: List[str] = []
        w = o.append
        w(f"// Generated from {self.source_name} by the IDL generator. Do not edit.")
        w("#pragma once")
        w("")
        w("#include <cstddef>")
        w("")
        w('#include "automation/client.h"')
        w('#include "automation/typelib.h"')
        w("")
        w(f"inline constexpr GUID LIBID_{lib.name} = {guid_init(lib.uuid)};")
        w("")
        itfs = [t for t in lib.types if isinstance(t, (Interface, DispInterface))]
        for t in itfs:
            w(f"class {t.name};")
        if itfs:
            w("")
        for t in lib.types:
            if isinstance(t, Enum):
                self.emit_enum(t, w)
            elif isinstance(t, Record):
                self.emit_record(t, w)
        for t in lib.types:
            if isinstance(t, Interface):
                self.emit_interface(t, w)
            elif isinstance(t, DispInterface):
                w(f"inline constexpr IID DIID_{t.name} = {guid_init(t.uuid)};")
                w(f"inline constexpr IID IID_{t.name} = DIID_{t.name};")
                w(f"// {t.helpstring or t.name}: an event interface, called through IDispatch::Invoke only.")
                w(f"class {t.name} : public IDispatch {{}};")
                w("")
            elif isinstance(t, CoClass):
                w(f"inline constexpr CLSID CLSID_{t.name} = {guid_init(t.uuid)};")
                w("")
        w(f"// The type library of {lib.name}, with every table below.")
        w(f"const pgx::auto_::LibraryInfo& {lib.name}_TypeLibrary();")
        w("")
        for t in itfs:
            base = t.base if isinstance(t, Interface) else "IDispatch"
            w(f"PGX_DEFINE_INTERFACE_ID({t.name}, {base}, IID_{t.name});")
        w("namespace pgx::auto_ {")
        for t in itfs:
            w(f"template <> struct interface_type_info<{t.name}> {{")
            w("  static const TypeInfoEntry& type();")
            w(f"  static const LibraryInfo& library() {{ return {lib.name}_TypeLibrary(); }}")
            w("};")
        w("}  // namespace pgx::auto_")
        w("")
        self.emit_wrappers(w)
        return "\n".join(o) + "\n"

    def emit_enum(self, e: Enum, w):
        if e.helpstring:
            w(f"// {e.helpstring}")
        tag = e.tag if e.tag and e.tag != e.name else None
        w(f"enum {tag or e.name} : LONG {{")
        for v in e.values:
            comment = f"  // {v.helpstring}" if v.helpstring else ""
            w(f"  {v.name} = {v.value},{comment}")
        w("};")
        if tag:
            w(f"using {e.name} = {tag};")
        w("")

    def emit_record(self, r: Record, w):
        offsets, size, _ = record_layout(self.lib, r)
        if r.helpstring:
            w(f"// {r.helpstring}")
        tag = r.tag if r.tag and r.tag != r.name else None
        w(f"struct {tag or r.name} {{")
        for f in r.fields:
            cpp = self.field_cpp(f)
            w(f"  {cpp} {f.name}{f'[{f.count}]' if f.count else ''};")
        w("};")
        if tag:
            w(f"using {r.name} = {tag};")
        w(f"static_assert(sizeof({r.name}) == {size}, \"layout of {r.name}\");")
        for f, off in zip(r.fields, offsets):
            w(f"static_assert(offsetof({r.name}, {f.name}) == {off}, \"offset of {r.name}::{f.name}\");")
        w("")

    def field_cpp(self, f) -> str:
        spec = f.type
        if spec.base == "SAFEARRAY":
            return "SAFEARRAY*" + "*" * spec.pointers
        from idl_model import BASE_TYPES
        if spec.base in BASE_TYPES:
            return BASE_TYPES[spec.base][0] + "*" * spec.pointers
        return spec.base + "*" * spec.pointers

    def emit_interface(self, itf: Interface, w):
        w(f"inline constexpr IID IID_{itf.name} = {guid_init(itf.uuid)};")
        if itf.helpstring:
            w(f"// {itf.helpstring}")
        w(f"class {itf.name} : public {itf.base} {{")
        w(" public:")
        for m in itf.methods:
            params = ", ".join(f"{p.resolved.cpp_decl()} {p.name}" for p in m.params)
            w(f"  STDMETHOD({cpp_member_name(m)})({params}) = 0;")
        w("};")
        w("")

    # ------------------------------------------------------------------------------------------------------------
    # Client wrappers: call every member by DISPID through IDispatch.

    def emit_wrappers(self, w):
        lib = self.lib
        dispatchable = [t for t in lib.types
                        if isinstance(t, DispInterface) or (isinstance(t, Interface) and derives_from_dispatch(lib, t))]
        w("// Client wrappers: typed calls by DISPID through IDispatch, which throw com_error on failure.")
        w(f"namespace {self.ns} {{")
        for t in dispatchable:
            w(f"class {t.name}Ptr;")
        w("")
        bodies: List[str] = []
        for t in dispatchable:
            w(f"class {t.name}Ptr : public pgx::auto_::DispatchPtr {{")
            w(" public:")
            w("  using DispatchPtr::DispatchPtr;")
            w(f"  static constexpr const IID& iid = IID_{t.name};")
            methods = all_methods(lib, t) if isinstance(t, Interface) else t.methods
            for m in methods:
                self.emit_wrapper_method(t, m, w, bodies.append)
            if isinstance(t, DispInterface):
                for p in t.properties:
                    r = Resolved(lib, p.type)
                    rt = self.wrapper_return_type(r)
                    w(f"  {rt} Get{p.name}() const;")
                    bodies.append(f"inline {rt} {t.name}Ptr::Get{p.name}() const {{")
                    bodies.append("  VARIANT result_;")
                    bodies.append(f"  Invoke({dispid_text(p.dispid)}, DISPATCH_PROPERTYGET, nullptr, 0, &result_);")
                    bodies.append(f"  return {self.wrapper_take(r, 'result_')};")
                    bodies.append("}")
            w("};")
            w("")
        for line in bodies:
            w(line)
        w(f"}}  // namespace {self.ns}")

    def wrapper_param_type(self, p: Param) -> str:
        r = p.resolved
        if r.byref:
            return r.cpp_decl()
        if r.kind == "interface":
            return r.cpp_decl()
        if r.spec.base == "BSTR":
            return "BSTR"
        if r.spec.base == "VARIANT":
            return "const VARIANT&"
        return r.cpp

    def wrapper_return_type(self, r: Resolved) -> str:
        if r.kind == "interface":
            if r.vt == "VT_DISPATCH" and r.user is not None:
                return f"{r.user.name}Ptr"
            return "pgx::auto_::ComPtr<IDispatch>" if r.vt == "VT_DISPATCH" else "pgx::auto_::ComPtr<IUnknown>"
        if r.kind == "safearray":
            return "pgx::auto_::SafeArray"
        if r.spec.base == "BSTR":
            return "pgx::auto_::Bstr"
        if r.spec.base == "VARIANT":
            return "pgx::auto_::Variant"
        return r.cpp

    def wrapper_take(self, r: Resolved, var: str) -> str:
        if r.kind == "enum":
            return f"static_cast<{r.cpp}>(pgx::auto_::client::TakeI4({var}))"
        if r.kind == "interface":
            rt = self.wrapper_return_type(r)
            fn = "TakeDISPATCH" if r.vt == "VT_DISPATCH" else "TakeUNKNOWN"
            return f"{rt}(pgx::auto_::client::{fn}({var}))"
        if r.kind == "safearray":
            return f"pgx::auto_::client::TakeArray({var}, {r.vt})"
        if r.kind == "record":
            raise ValueError("records cannot be returned")
        return f"pgx::auto_::client::Take{VT_SUFFIX[r.vt]}({var})"

    def wrapper_default(self, p: Param) -> str:
        r = p.resolved
        d = p.default
        if d is None:
            if r.byref:
                return " = nullptr"
            return " = pgx::auto_::client::Missing()"  # optional VARIANT
        if r.spec.base == "VARIANT":
            return " = pgx::auto_::client::Missing()"
        if r.byref:
            return " = nullptr"
        if r.spec.base == "BSTR":
            return ""  # handled through an overload below
        if r.kind == "enum":
            return f" = static_cast<{r.cpp}>({int(d.value)})"
        if d.kind == "real":
            return f" = {float(d.value)!r}"
        return f" = {int(d.value)}"

    def emit_wrapper_method(self, t, m: Method, w, body):
        kind = m.invkind
        inputs = [p for p in m.params if not p.has("retval")]
        retval = next((p for p in m.params if p.has("retval")), None)
        if any(p.resolved.kind == "record" for p in m.params):
            w(f"  // {m.name}: takes a record and is reachable early-bound only.")
            return
        name = {"method": m.name, "propget": "Get" + m.name, "propput": "Put" + m.name,
                "propputref": "PutRef" + m.name}[kind]
        # C++ default arguments need every later parameter defaulted too.
        can_default = True
        defaults = []
        for p in reversed(inputs):
            if can_default and p.has("optional") and not (p.default is not None and p.resolved.spec.base == "BSTR"
                                                          and not p.resolved.byref):
                defaults.append(self.wrapper_default(p))
            else:
                can_default = False
                defaults.append("")
        defaults.reverse()
        decls = [f"{self.wrapper_param_type(p)} {p.name}{dflt}" for p, dflt in zip(inputs, defaults)]
        plain = [f"{self.wrapper_param_type(p)} {p.name}" for p in inputs]
        rt = self.wrapper_return_type(retval.resolved) if retval else "void"
        flags = {"method": "DISPATCH_METHOD", "propget": "DISPATCH_PROPERTYGET", "propput": "DISPATCH_PROPERTYPUT",
                 "propputref": "DISPATCH_PROPERTYPUTREF"}[kind]
        if kind == "method" and retval:
            flags = "DISPATCH_METHOD | DISPATCH_PROPERTYGET"
        w(f"  {rt} {name}({', '.join(decls)}) const;")
        body(f"inline {rt} {t.name}Ptr::{name}({', '.join(plain)}) const {{")
        n = len(inputs)
        if n:
            body(f"  VARIANT args_[{n}];")
        for k, p in enumerate(inputs):
            slot = f"args_[{n - 1 - k}]"
            r = p.resolved
            if r.byref:
                if r.kind == "safearray":
                    call = f"pgx::auto_::client::RefArray({slot}, {p.name}, {r.vt})"
                elif r.kind == "enum":
                    call = f"pgx::auto_::client::RefI4({slot}, reinterpret_cast<LONG*>({p.name}))"
                elif r.kind == "interface":
                    fn = "RefDISPATCH" if r.vt == "VT_DISPATCH" else "RefUNKNOWN"
                    cast = "IDispatch**" if r.vt == "VT_DISPATCH" else "IUnknown**"
                    call = f"pgx::auto_::client::{fn}({slot}, reinterpret_cast<{cast}>({p.name}))"
                else:
                    call = f"pgx::auto_::client::Ref{VT_SUFFIX[r.vt]}({slot}, {p.name})"
                if p.has("optional"):
                    call = f"if ({p.name}) {call}; else pgx::auto_::client::SetMissing({slot})"
                body(f"  {call};")
            elif r.kind == "enum":
                body(f"  pgx::auto_::client::SetI4({slot}, static_cast<LONG>({p.name}));")
            elif r.kind == "interface":
                fn = "SetDISPATCH" if r.vt == "VT_DISPATCH" else "SetUNKNOWN"
                body(f"  pgx::auto_::client::{fn}({slot}, {p.name});")
            else:
                body(f"  pgx::auto_::client::Set{VT_SUFFIX[r.vt]}({slot}, {p.name});")
        args = "args_" if n else "nullptr"
        if retval:
            body("  VARIANT result_;")
            body(f"  Invoke({dispid_text(m.dispid)}, {flags}, {args}, {n}, &result_);")
            body(f"  return {self.wrapper_take(retval.resolved, 'result_')};")
        else:
            body(f"  Invoke({dispid_text(m.dispid)}, {flags}, {args}, {n}, nullptr);")
        body("}")
        # A defaulted BSTR parameter: an overload without it (and without everything after it).
        for cut, p in enumerate(inputs):
            if p.default is not None and p.resolved.spec.base == "BSTR" and not p.resolved.byref and all(
                    q.has("optional") for q in inputs[cut:]):
                head_defaults = []
                trailing = True
                for q in reversed(inputs[:cut]):
                    ok = trailing and q.has("optional") and not (q.default is not None and
                                                                 q.resolved.spec.base == "BSTR" and not q.resolved.byref)
                    head_defaults.append(self.wrapper_default(q) if ok else "")
                    trailing = ok
                head_defaults.reverse()
                head = ", ".join(f"{self.wrapper_param_type(q)} {q.name}{d}" for q, d in zip(inputs[:cut], head_defaults))
                fwd = [q.name for q in inputs[:cut]]
                fwd.append(f"pgx::auto_::Bstr({u16str(p.default.value)})")
                for q in inputs[cut + 1:]:
                    fwd.append(self.wrapper_default_value(q))
                ret = "return " if retval else ""
                w(f"  {rt} {name}({head}) const {{ {ret}{name}({', '.join(fwd)}); }}")
                break

    def wrapper_default_value(self, p: Param) -> str:
        if p.default is not None and p.resolved.spec.base == "BSTR" and not p.resolved.byref:
            return f"pgx::auto_::Bstr({u16str(p.default.value)})"
        text = self.wrapper_default(p)
        return text[3:] if text else "{}"

    # ------------------------------------------------------------------------------------------------------------
    # Tables and glue

    def source(self, header_include: str) -> str:
        lib = self.lib
        o: List[str] = []
        w = o.append
        w(f"// Generated from {self.source_name} by the IDL generator. Do not edit.")
        w(f'#include "{header_include}"')
        w("")
        w("namespace {")
        w("")
        w("using namespace pgx::auto_;")
        w("")
        entries = []
        for t in lib.types:
            if isinstance(t, Enum):
                w(f"constexpr EnumValueInfo k{t.name}_values[] = {{")
                for v in t.values:
                    w(f"    {{{cstr(v.name)}, {v.value}, {cstr(v.helpstring)}}},")
                w("};")
                entries.append(self.entry(t, "TKIND_ENUM", enums=f"k{t.name}_values", n_enums=len(t.values),
                                          size=4, align=4))
            elif isinstance(t, Record):
                offsets, size, align = record_layout(lib, t)
                w(f"constexpr FieldInfo k{t.name}_fields[] = {{")
                for f, off in zip(t.fields, offsets):
                    r = self.field_type_ref(f)
                    w(f"    {{{cstr(f.name)}, {r}, offsetof({t.name}, {f.name}), {f.count}}},")
                w("};")
                entries.append(self.entry(t, "TKIND_RECORD", fields=f"k{t.name}_fields", n_fields=len(t.fields),
                                          size=size, align=align))
            elif isinstance(t, (Interface, DispInterface)):
                methods = all_methods(lib, t) if isinstance(t, Interface) else t.methods
                for m in methods:
                    self.emit_params(t, m, w)
                    if isinstance(t, Interface):
                        self.emit_thunk(t, m, w)
                if isinstance(t, DispInterface) and t.properties:
                    w(f"constexpr VarInfo k{t.name}_vars[] = {{")
                    for p in t.properties:
                        r = Resolved(lib, p.type)
                        vflags = []
                        if "readonly" in p.attrs:
                            vflags.append("VARFLAG_FREADONLY")
                        if "hidden" in p.attrs:
                            vflags.append("VARFLAG_FHIDDEN")
                        if "restricted" in p.attrs:
                            vflags.append("VARFLAG_FRESTRICTED")
                        w(f"    {{{cstr(p.name)}, {p.dispid}, {type_ref(r)}, {' | '.join(vflags) or '0'}, "
                          f"{cstr(p.helpstring)}}},")
                    w("};")
                if methods:
                    w(f"constexpr FuncInfo k{t.name}_funcs[] = {{")
                    for m in methods:
                        w(self.func_info(t, m))
                    w("};")
                kind = "TKIND_INTERFACE" if isinstance(t, Interface) else "TKIND_DISPATCH"
                base = t.base if isinstance(t, Interface) else None
                n_vars = len(t.properties) if isinstance(t, DispInterface) else 0
                entries.append(self.entry(t, kind, funcs=f"k{t.name}_funcs" if methods else "nullptr",
                                          n_funcs=len(methods), base=base,
                                          vars=f"k{t.name}_vars" if n_vars else "nullptr", n_vars=n_vars,
                                          size=8, align=8, own_funcs=len(t.methods)))
            elif isinstance(t, CoClass):
                w(f"constexpr ImplTypeInfo k{t.name}_impls[] = {{")
                for item in t.items:
                    flags = []
                    for attr, flag in (("default", "IMPLTYPEFLAG_FDEFAULT"), ("source", "IMPLTYPEFLAG_FSOURCE"),
                                       ("restricted", "IMPLTYPEFLAG_FRESTRICTED")):
                        if attr in item.attrs:
                            flags.append(flag)
                    w(f"    {{{cstr(item.name)}, {' | '.join(flags) or '0'}, {'true' if item.is_dispinterface else 'false'}}},")
                w("};")
                entries.append(self.entry(t, "TKIND_COCLASS", impls=f"k{t.name}_impls", n_impls=len(t.items),
                                          size=0, align=0))
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
        idx = 0
        for t in lib.types:
            if isinstance(t, (Interface, DispInterface)):
                w(f"const TypeInfoEntry& interface_type_info<{t.name}>::type() {{ return kTypes[{idx}]; }}")
            idx += 1
        w("}  // namespace pgx::auto_")
        return "\n".join(o) + "\n"

    def field_type_ref(self, f) -> str:
        from idl_model import BASE_TYPES
        spec = f.type
        if spec.base == "SAFEARRAY":
            el = BASE_TYPES.get(spec.element.base, (None, "VT_I4"))[1]
            return f"{{VT_ARRAY | {el}, {spec.pointers}, {cstr(spec.idl())}, nullptr, nullptr}}"
        if spec.base in BASE_TYPES:
            return f"{{{BASE_TYPES[spec.base][1]}, {spec.pointers}, {cstr(spec.idl())}, nullptr, nullptr}}"
        t = self.lib.find(spec.base)
        vt = "VT_I4" if isinstance(t, Enum) else "VT_RECORD"
        return f"{{{vt}, {spec.pointers}, {cstr(spec.idl())}, {cstr(spec.base)}, nullptr}}"

    def entry(self, t, kind, funcs="nullptr", n_funcs=0, vars="nullptr", n_vars=0, enums="nullptr", n_enums=0,
              fields="nullptr", n_fields=0, impls="nullptr", n_impls=0, base=None, size=0, align=0, own_funcs=0):
        guid = guid_init(t.uuid) if t.uuid else "{}"
        tag = getattr(t, "tag", None)
        tag_text = f", {cstr(tag)}" if tag and tag != t.name else ""
        return (f"    {{{kind}, {cstr(t.name)}, {guid}, {'true' if t.uuid else 'false'}, {type_flags(t, self.lib)}, "
                f"{cstr(t.helpstring)}, {cstr(base)}, {funcs}, {n_funcs}, {own_funcs}, {vars}, {n_vars}, "
                f"{enums}, {n_enums}, {fields}, {n_fields}, {impls}, {n_impls}, {size}, {align}{tag_text}}},")

    def emit_params(self, itf, m: Method, w):
        if not m.params:
            return
        w(f"constexpr ParamInfo k{itf.name}_{cpp_member_name(m)}_params[] = {{")
        for p in m.params:
            w(f"    {{{cstr(p.name)}, {type_ref(p.resolved)}, {param_flags(p)}, {default_init(p)}}},")
        w("};")

    def emit_thunk(self, itf: Interface, m: Method, w):
        args = []
        for k, p in enumerate(m.params):
            r = p.resolved
            slot = f"args[{k}]"
            if r.byref:
                args.append(f"static_cast<{r.cpp_decl()}>({slot})")
            elif r.kind == "interface":
                args.append(f"static_cast<{r.cpp}*>(*static_cast<void* const*>({slot}))")
            else:
                args.append(f"*static_cast<{r.cpp}*>({slot})")
        unused = "" if m.params else "/*args*/"
        sig = f"HRESULT {itf.name}_{cpp_member_name(m)}_call(void* self, void* const* {'args' if m.params else unused})"
        w(f"{sig} {{")
        w(f"  return static_cast<{itf.name}*>(self)->{cpp_member_name(m)}({', '.join(args)});")
        w("}")

    def func_info(self, itf, m: Method) -> str:
        params = f"k{itf.name}_{cpp_member_name(m)}_params" if m.params else "nullptr"
        thunk = f"{itf.name}_{cpp_member_name(m)}_call" if isinstance(itf, Interface) else "nullptr"
        return (f"    {{{cstr(m.name)}, {dispid_text(m.dispid)}, {INVKIND[m.invkind]}, {func_flags(m)}, {cstr(m.helpstring)}, "
                f"{params}, {len(m.params)}, {thunk}}},")
