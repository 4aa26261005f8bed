"""The C++ header of a library, <stem>_idl.h: what a server implements and needs: the library's GUIDs, its
enumerations and records, the interfaces as abstract classes, and the hooks that tie each interface to its
type-library table. Nothing of the client side: that is <stem>_client.h (emit_client)."""

from typing import List

from idl_checked import (CheckedCoClass, CheckedDispInterface, CheckedEnum, CheckedInterface, CheckedLibrary,
                         CheckedRecord)
from idl_cpp import cpp_decl, cpp_field_type, cpp_member_name, guid_init


def header(lib: CheckedLibrary, source_name: str) -> str:
    o: List[str] = []
    w = o.append
    w(f"// Generated from {source_name} by the IDL generator. Do not edit.")
    w("#pragma once")
    w("")
    w("#include <cstddef>")
    w("")
    w('#include "automation/typelib.h"')
    w("")
    w(f"inline constexpr GUID LIBID_{lib.name} = {guid_init(lib.uuid)};")
    w("")
    itfs = [t for t in lib.types if isinstance(t, (CheckedInterface, CheckedDispInterface))]
    for t in itfs:
        w(f"class {t.name};")
    if itfs:
        w("")
    for t in lib.types:
        if isinstance(t, CheckedEnum):
            _enum(t, w)
        elif isinstance(t, CheckedRecord):
            _record(t, w)
    for t in lib.types:
        if isinstance(t, CheckedInterface):
            _interface(t, w)
        elif isinstance(t, CheckedDispInterface):
            w(f"inline constexpr IID DIID_{t.name} = {guid_init(t.uuid)};")
            w(f"inline constexpr IID IID_{t.name} = DIID_{t.name};")
            w(f"// {t.helpstring or t.name}: an event interface, called through IDispatch::Invoke only.")
            w(f"class {t.name} : public IDispatch {{}};")
            w("")
        elif isinstance(t, CheckedCoClass):
            w(f"inline constexpr CLSID CLSID_{t.name} = {guid_init(t.uuid)};")
            w("")
    w(f"// The type library of {lib.name}, with every table below.")
    w(f"const pgx::auto_::LibraryInfo& {lib.name}_TypeLibrary();")
    w("")
    for t in itfs:
        base = t.base if isinstance(t, CheckedInterface) else "IDispatch"
        w(f"PGX_DEFINE_INTERFACE_ID({t.name}, {base}, IID_{t.name});")
    w("namespace pgx::auto_ {")
    for t in itfs:
        w(f"template <> struct interface_type_info<{t.name}> {{")
        w("  static const TypeInfoEntry& type();")
        w(f"  static const LibraryInfo& library() {{ return {lib.name}_TypeLibrary(); }}")
        w("};")
    w("}  // namespace pgx::auto_")
    return "\n".join(o) + "\n"


def _enum(e: CheckedEnum, w):
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


def _record(r: CheckedRecord, w):
    if r.helpstring:
        w(f"// {r.helpstring}")
    tag = r.tag if r.tag and r.tag != r.name else None
    w(f"struct {tag or r.name} {{")
    for f in r.fields:
        w(f"  {cpp_field_type(f.type)} {f.name}{f'[{f.count}]' if f.count else ''};")
    w("};")
    if tag:
        w(f"using {r.name} = {tag};")
    w(f"static_assert(sizeof({r.name}) == {r.size}, \"layout of {r.name}\");")
    for f in r.fields:
        w(f"static_assert(offsetof({r.name}, {f.name}) == {f.offset}, \"offset of {r.name}::{f.name}\");")
    w("")


def _interface(itf: CheckedInterface, w):
    w(f"inline constexpr IID IID_{itf.name} = {guid_init(itf.uuid)};")
    if itf.helpstring:
        w(f"// {itf.helpstring}")
    w(f"class {itf.name} : public {itf.base} {{")
    w(" public:")
    for m in itf.methods:
        params = ", ".join(f"{cpp_decl(p.type)} {p.name}" for p in m.params)
        w(f"  STDMETHOD({cpp_member_name(m)})({params}) = 0;")
    w("};")
    w("")
