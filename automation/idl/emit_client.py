"""The client header of a library, <stem>_client.h: for every dispatchable interface a wrapper class
(namespace <Library> { class IFooPtr }) whose members call by DISPID through IDispatch::Invoke and throw
com_error on failure. It includes the library's header; servers include only that one and never compile the
wrappers."""

from typing import List

from idl_checked import CheckedDispInterface, CheckedInterface, CheckedLibrary, CheckedMethod, CheckedParam, TypeUse
from idl_cpp import DISPATCH_FLAGS, cpp_decl, cpp_type, dispid_text, u16str

_VT_SUFFIX = {"VT_I2": "I2", "VT_I4": "I4", "VT_R4": "R4", "VT_R8": "R8", "VT_UI1": "UI1", "VT_UI2": "UI2",
              "VT_UI4": "UI4", "VT_BSTR": "BSTR", "VT_BOOL": "BOOL", "VT_VARIANT": "VARIANT",
              "VT_DISPATCH": "DISPATCH", "VT_UNKNOWN": "UNKNOWN"}
_WRAPPER_NAME = {"method": "{}", "propget": "Get{}", "propput": "Put{}", "propputref": "PutRef{}"}


def client(lib: CheckedLibrary, source_name: str, header_include: str) -> str:
    o: List[str] = []
    w = o.append
    w(f"// Generated from {source_name} by the IDL generator. Do not edit.")
    w("#pragma once")
    w("")
    w('#include "automation/client.h"')
    w(f'#include "{header_include}"')
    w("")
    dispatchable = [t for t in lib.types
                    if isinstance(t, (CheckedInterface, CheckedDispInterface)) and t.dispatchable]
    w("// Client wrappers: typed calls by DISPID through IDispatch, which throw com_error on failure.")
    w(f"namespace {lib.name} {{")
    for t in dispatchable:
        w(f"class {t.name}Ptr;")
    w("")
    bodies: List[str] = []
    for t in dispatchable:
        w(f"class {t.name}Ptr : public pgx::auto_::DispatchPtr {{")
        w(" public:")
        w("  using DispatchPtr::DispatchPtr;")
        w(f"  static constexpr const IID& iid = IID_{t.name};")
        for m in t.all_methods:
            _method(t, m, w, bodies.append)
        if isinstance(t, CheckedDispInterface):
            for p in t.properties:
                rt = _return_type(p.type)
                w(f"  {rt} Get{p.name}() const;")
                bodies.append(f"inline {rt} {t.name}Ptr::Get{p.name}() const {{")
                bodies.append("  VARIANT result_;")
                bodies.append(f"  Invoke({dispid_text(p.dispid)}, DISPATCH_PROPERTYGET, nullptr, 0, &result_);")
                bodies.append(f"  return {_take(p.type, 'result_')};")
                bodies.append("}")
        w("};")
        w("")
    for line in bodies:
        w(line)
    w(f"}}  // namespace {lib.name}")
    return "\n".join(o) + "\n"


def _param_type(p: CheckedParam) -> str:
    r = p.type
    if r.byref or r.kind == "interface":
        return cpp_decl(r)
    if r.base == "VARIANT":
        return "const VARIANT&"
    return cpp_type(r)


def _return_type(r: TypeUse) -> str:
    if r.kind == "interface":
        if r.vt == "VT_DISPATCH" and r.user is not None:
            return f"{r.user.name}Ptr"
        return "pgx::auto_::ComPtr<IDispatch>" if r.vt == "VT_DISPATCH" else "pgx::auto_::ComPtr<IUnknown>"
    if r.kind == "safearray":
        return "pgx::auto_::SafeArray"
    if r.base == "BSTR":
        return "pgx::auto_::Bstr"
    if r.base == "VARIANT":
        return "pgx::auto_::Variant"
    return cpp_type(r)


def _take(r: TypeUse, var: str) -> str:
    if r.kind == "enum":
        return f"static_cast<{cpp_type(r)}>(pgx::auto_::client::TakeI4({var}))"
    if r.kind == "interface":
        fn = "TakeDISPATCH" if r.vt == "VT_DISPATCH" else "TakeUNKNOWN"
        return f"{_return_type(r)}(pgx::auto_::client::{fn}({var}))"
    if r.kind == "safearray":
        return f"pgx::auto_::client::TakeArray({var}, {r.vt})"
    if r.kind == "record":
        raise ValueError("records cannot be returned")
    return f"pgx::auto_::client::Take{_VT_SUFFIX[r.vt]}({var})"


def _is_bstr_default(p: CheckedParam) -> bool:
    """A BSTR with a default cannot be a C++ default argument; an overload without it stands in."""
    return p.default is not None and p.type.base == "BSTR" and not p.type.byref


def _default(p: CheckedParam) -> str:
    """The C++ default argument of an optional parameter (" = ..."), or "" for a BSTR with a default."""
    r = p.type
    d = p.default
    if d is None:
        return " = nullptr" if r.byref else " = pgx::auto_::client::Missing()"  # a pointer or a VARIANT
    if r.base == "VARIANT":
        return " = pgx::auto_::client::Missing()"
    if r.byref:
        return " = nullptr"
    if r.base == "BSTR":
        return ""
    if r.kind == "enum":
        return f" = static_cast<{cpp_type(r)}>({d.value})"
    return f" = {d.value!r}"


def _default_value(p: CheckedParam) -> str:
    if _is_bstr_default(p):
        return f"pgx::auto_::Bstr({u16str(p.default.value)})"
    text = _default(p)
    return text[3:] if text else "{}"


def _method(t, m: CheckedMethod, w, body):
    kind = m.invkind
    inputs = list(m.inputs)
    retval = m.retval
    if any(p.type.kind == "record" for p in m.params):
        w(f"  // {m.name}: takes a record and is reachable early-bound only.")
        return
    name = _WRAPPER_NAME[kind].format(m.name)
    # C++ default arguments need every later parameter defaulted too.
    can_default = True
    defaults = []
    for p in reversed(inputs):
        if can_default and p.has("optional") and not _is_bstr_default(p):
            defaults.append(_default(p))
        else:
            can_default = False
            defaults.append("")
    defaults.reverse()
    decls = [f"{_param_type(p)} {p.name}{dflt}" for p, dflt in zip(inputs, defaults)]
    plain = [f"{_param_type(p)} {p.name}" for p in inputs]
    rt = _return_type(retval.type) if retval else "void"
    flags = DISPATCH_FLAGS[kind]
    if kind == "method" and retval:
        flags = "DISPATCH_METHOD | DISPATCH_PROPERTYGET"
    w(f"  {rt} {name}({', '.join(decls)}) const;")
    body(f"inline {rt} {t.name}Ptr::{name}({', '.join(plain)}) const {{")
    n = len(inputs)
    if n:
        body(f"  VARIANT args_[{n}];")
    for k, p in enumerate(inputs):
        body(f"  {_pass(p, f'args_[{n - 1 - k}]')};")
    args = "args_" if n else "nullptr"
    if retval:
        body("  VARIANT result_;")
        body(f"  Invoke({dispid_text(m.dispid)}, {flags}, {args}, {n}, &result_);")
        body(f"  return {_take(retval.type, 'result_')};")
    else:
        body(f"  Invoke({dispid_text(m.dispid)}, {flags}, {args}, {n}, nullptr);")
    body("}")
    # A defaulted BSTR parameter: an overload without it (and without everything after it).
    for cut, p in enumerate(inputs):
        if _is_bstr_default(p) and all(q.has("optional") for q in inputs[cut:]):
            head_defaults = []
            trailing = True
            for q in reversed(inputs[:cut]):
                ok = trailing and q.has("optional") and not _is_bstr_default(q)
                head_defaults.append(_default(q) if ok else "")
                trailing = ok
            head_defaults.reverse()
            head = ", ".join(f"{_param_type(q)} {q.name}{d}" for q, d in zip(inputs[:cut], head_defaults))
            fwd = [q.name for q in inputs[:cut]]
            fwd.append(f"pgx::auto_::Bstr({u16str(p.default.value)})")
            for q in inputs[cut + 1:]:
                fwd.append(_default_value(q))
            ret = "return " if retval else ""
            w(f"  {rt} {name}({head}) const {{ {ret}{name}({', '.join(fwd)}); }}")
            break


def _pass(p: CheckedParam, slot: str) -> str:
    """The statement that puts argument `p` into its VARIANT slot."""
    r = p.type
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
            call = f"pgx::auto_::client::Ref{_VT_SUFFIX[r.vt]}({slot}, {p.name})"
        if p.has("optional"):
            call = f"if ({p.name}) {call}; else pgx::auto_::client::SetMissing({slot})"
        return call
    if r.kind == "enum":
        return f"pgx::auto_::client::SetI4({slot}, static_cast<LONG>({p.name}))"
    if r.kind == "interface":
        fn = "SetDISPATCH" if r.vt == "VT_DISPATCH" else "SetUNKNOWN"
        return f"pgx::auto_::client::{fn}({slot}, {p.name})"
    return f"pgx::auto_::client::Set{_VT_SUFFIX[r.vt]}({slot}, {p.name})"
