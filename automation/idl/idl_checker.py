"""Checker: resolves a parsed library (idl_parsed) into the checked model (idl_checked) and enforces the rules of
an automation library: types exist and are used the way automation can pass them, members are well formed,
DISPIDs are consistent, defaults suit their parameters, records have a layout. The parsed library is left as it
is. Every error names the file, line and column of what is wrong.
"""

from typing import Dict, List, Set, Tuple

from idl_checked import (CheckedCoClass, CheckedDispInterface, CheckedEnum, CheckedField, CheckedInterface,
                         CheckedLibrary, CheckedMethod, CheckedParam, CheckedProperty, CheckedRecord, CheckedType,
                         DefaultValue, TypeUse)
from idl_lexer import IdlError
from idl_parsed import CoClass, DispInterface, Enum, Interface, Library, Method, Param, Pos, Record, TypeDecl, TypeSpec

# IDL base type -> (variant type, size, alignment); None where the type has no size of its own.
BASE_TYPES = {
    "short": ("VT_I2", 2, 2),
    "long": ("VT_I4", 4, 4),
    "float": ("VT_R4", 4, 4),
    "double": ("VT_R8", 8, 8),
    "unsigned char": ("VT_UI1", 1, 1),
    "unsigned short": ("VT_UI2", 2, 2),
    "unsigned long": ("VT_UI4", 4, 4),
    "BSTR": ("VT_BSTR", 8, 8),
    "VARIANT_BOOL": ("VT_BOOL", 2, 2),
    "VARIANT": ("VT_VARIANT", 24, 8),
    "IDispatch": ("VT_DISPATCH", None, None),
    "IUnknown": ("VT_UNKNOWN", None, None),
    "IEnumVARIANT": ("VT_UNKNOWN", None, None),
    "HRESULT": ("VT_HRESULT", 4, 4),
    "void": ("VT_VOID", None, None),
}
# The interfaces every library knows without declaring them, and those of them that a library's own interfaces
# derive from.
KNOWN_INTERFACES = ("IDispatch", "IUnknown", "IEnumVARIANT")
ROOT_INTERFACES = ("IDispatch", "IUnknown")
POINTER_SIZE = 8

# The variant type of a default value, by the IDL type of its parameter (enumerations, long and VARIANT: VT_I4
# for an integer; a real number is VT_R8 unless the parameter is a float).
_INTEGER_DEFAULT_VT = {"short": "VT_I2", "VARIANT_BOOL": "VT_BOOL", "unsigned char": "VT_UI1",
                       "unsigned short": "VT_UI2", "unsigned long": "VT_UI4"}
_INTEGER_TYPES = ("short", "long", "unsigned char", "unsigned short", "unsigned long")
# Integer variant types of defaults -> (bits, signed). A literal fits when it is a value of the type or its bit
# pattern (0xFFFF for a short is -1, -1 for an unsigned long is 4294967295), as a C compiler converts it.
_INTEGER_RANGE = {"VT_I2": (16, True), "VT_I4": (32, True), "VT_UI1": (8, False), "VT_UI2": (16, False),
                  "VT_UI4": (32, False)}


def err_at(pos: Pos, message: str) -> IdlError:
    return IdlError(pos.path, pos.line, pos.col, message)


def check(lib: Library) -> CheckedLibrary:
    """The checked model of `lib`; raises IdlError for the first rule it breaks."""
    return _Checker(lib).run()


class _Checker:
    def __init__(self, lib: Library):
        self.lib = lib
        self.interfaces: Dict[str, CheckedInterface] = {}
        self.interfaces_in_progress: Set[str] = set()
        self.layouts: Dict[str, Tuple[Tuple[int, ...], int, int]] = {}

    def run(self) -> CheckedLibrary:
        types: List[CheckedType] = []
        for t in self.lib.types:
            if isinstance(t, Interface):
                types.append(self.interface(t))
            elif isinstance(t, DispInterface):
                types.append(self.dispinterface(t))
            elif isinstance(t, Record):
                types.append(self.record(t))
            elif isinstance(t, CoClass):
                types.append(self.coclass(t))
            else:
                types.append(CheckedEnum(t))
        return CheckedLibrary(self.lib, tuple(types))

    # ------------------------------------------------------------------------------------------------------------
    # Types as parameters and properties use them

    def resolve(self, spec: TypeSpec) -> TypeUse:
        if spec.base == "SAFEARRAY":
            elem = self.resolve(spec.element)
            if spec.element.pointers != 0 and elem.kind != "interface" or spec.element.pointers > 1:
                raise err_at(spec.pos, "a SAFEARRAY element must be a plain type")
            # SAFEARRAY(T) is itself a pointer: "SAFEARRAY(T)*" passes it by reference.
            return self.with_byref(TypeUse(spec, "safearray", f"VT_ARRAY | {elem.vt}", 0, POINTER_SIZE, POINTER_SIZE,
                                           element=elem), spec.pointers)
        if spec.base in BASE_TYPES:
            vt, size, align = BASE_TYPES[spec.base]
            if spec.base in KNOWN_INTERFACES:
                if spec.pointers < 1:
                    raise err_at(spec.pos, f"'{spec.base}' is used through a pointer: expected '{spec.base}*'")
                use = TypeUse(spec, "interface", vt, 0, POINTER_SIZE, POINTER_SIZE, iid_name="IID_" + spec.base)
                return self.with_byref(use, spec.pointers - 1)
            return self.with_byref(TypeUse(spec, "base", vt, 0, size, align), spec.pointers)
        t = self.lib.find(spec.base)
        if t is None:
            raise err_at(spec.pos, f"unknown type '{spec.base}'")
        if isinstance(t, Enum):
            return self.with_byref(TypeUse(spec, "enum", "VT_I4", 0, 4, 4, user=t), spec.pointers)
        if isinstance(t, Record):
            _, size, align = self.layout(t)
            return self.with_byref(TypeUse(spec, "record", "VT_RECORD", 0, size, align, user=t), spec.pointers)
        if isinstance(t, (Interface, DispInterface)):
            if spec.pointers < 1:
                raise err_at(spec.pos, f"interface '{t.name}' is used through a pointer: expected '{t.name}*'")
            vt = "VT_DISPATCH" if self.derives_from_dispatch(t) else "VT_UNKNOWN"
            use = TypeUse(spec, "interface", vt, 0, POINTER_SIZE, POINTER_SIZE, user=t, iid_name="IID_" + t.name)
            return self.with_byref(use, spec.pointers - 1)
        raise err_at(spec.pos, f"'{spec.base}' is not a type usable here")

    @staticmethod
    def with_byref(use: TypeUse, byref: int) -> TypeUse:
        if byref < 0 or byref > 1:
            raise err_at(use.spec.pos,
                         f"type '{use.spec.idl()}' has too many or too few '*' for an automation parameter")
        return TypeUse(use.spec, use.kind, use.vt, byref, use.size, use.align, use.user, use.iid_name, use.element)

    def derives_from_dispatch(self, t: TypeDecl) -> bool:
        seen = set()
        while isinstance(t, Interface):
            if t.name in seen:
                return False
            seen.add(t.name)
            if t.base == "IDispatch":
                return True
            if t.base == "IUnknown":
                return False
            t = self.lib.find(t.base)
        return isinstance(t, DispInterface)

    # ------------------------------------------------------------------------------------------------------------
    # Records

    def layout(self, r: Record, stack=()) -> Tuple[Tuple[int, ...], int, int]:
        """Field offsets with natural alignment (the platform's default packing), total size, alignment."""
        if r.name in self.layouts:
            return self.layouts[r.name]
        if r.name in stack:
            raise err_at(r.pos, f"record '{r.name}' contains itself")
        offset, max_align, offsets = 0, 1, []
        for f in r.fields:
            if f.type.base == "SAFEARRAY" or f.type.pointers:
                size, align = POINTER_SIZE, POINTER_SIZE
            elif f.type.base in BASE_TYPES:
                _, size, align = BASE_TYPES[f.type.base]
                if size is None:
                    raise err_at(f.pos, f"field '{f.name}' cannot have type '{f.type.idl()}'")
            else:
                t = self.lib.find(f.type.base)
                if isinstance(t, Enum):
                    size, align = 4, 4
                elif isinstance(t, Record):
                    _, size, align = self.layout(t, stack + (r.name,))
                elif t is None:
                    raise err_at(f.type.pos, f"unknown type '{f.type.base}'")
                else:
                    raise err_at(f.type.pos, f"field '{f.name}' cannot have type '{f.type.idl()}'")
            offset = (offset + align - 1) // align * align
            offsets.append(offset)
            offset += size * max(f.count, 1)
            max_align = max(max_align, align)
        size = (offset + max_align - 1) // max_align * max_align
        self.layouts[r.name] = (tuple(offsets), size, max_align)
        return self.layouts[r.name]

    def record(self, r: Record) -> CheckedRecord:
        offsets, size, align = self.layout(r)
        fields = []
        for f, offset in zip(r.fields, offsets):
            spec = f.type
            if spec.base == "SAFEARRAY":
                elem = BASE_TYPES.get(spec.element.base, ("VT_I4",))[0]
                vt, type_name = f"VT_ARRAY | {elem}", None
            elif spec.base in BASE_TYPES:
                vt, type_name = BASE_TYPES[spec.base][0], None
            else:
                vt = "VT_I4" if isinstance(self.lib.find(spec.base), Enum) else "VT_RECORD"
                type_name = spec.base
            fields.append(CheckedField(f, offset, vt, spec.pointers, type_name))
        return CheckedRecord(r, tuple(fields), size, align)

    # ------------------------------------------------------------------------------------------------------------
    # Interfaces

    def interface(self, itf: Interface) -> CheckedInterface:
        if itf.name in self.interfaces:
            return self.interfaces[itf.name]
        if itf.name in self.interfaces_in_progress:
            raise err_at(itf.pos, f"interface '{itf.name}' derives from itself")
        self.interfaces_in_progress.add(itf.name)
        inherited: Tuple[CheckedMethod, ...] = ()
        if itf.base not in ROOT_INTERFACES:
            base = self.lib.find(itf.base)
            if not isinstance(base, Interface):
                raise err_at(itf.pos, f"unknown base interface '{itf.base}'")
            inherited = self.interface(base).all_methods
        dispatchable = self.derives_from_dispatch(itf)
        if "dual" in itf.attrs and not dispatchable:
            raise err_at(itf.pos, f"dual interface '{itf.name}' must derive from IDispatch")

        members = _MemberTable()
        for m in inherited:
            members.add(m)
        own = []
        for decl, dispid in zip(itf.methods, self.assign_ids(itf, inherited)):
            if decl.ret.base != "HRESULT" or decl.ret.pointers:
                raise err_at(decl.ret.pos, f"member '{decl.name}' of interface '{itf.name}' must return HRESULT")
            m = CheckedMethod(decl, dispid, self.params(decl))
            members.add(m)
            own.append(m)
        checked = CheckedInterface(itf, tuple(own), inherited, dispatchable)
        self.interfaces_in_progress.discard(itf.name)
        self.interfaces[itf.name] = checked
        return checked

    @staticmethod
    def assign_ids(itf: Interface, inherited: Tuple[CheckedMethod, ...]) -> List[int]:
        """The ids of the interface's own members: as written, or assigned the way the platform does for a dual
        interface: one per name (a get and its put share it), counted from 0x60020000 past the ids in use."""
        used = {m.dispid for m in inherited} | {m.dispid for m in itf.methods if m.dispid is not None}
        by_name: Dict[str, int] = {}
        next_id = 0x60020000
        ids = []
        for m in itf.methods:
            dispid = m.dispid
            if dispid is None:
                if m.name in by_name:
                    dispid = by_name[m.name]
                else:
                    while next_id in used:
                        next_id += 1
                    dispid = next_id
                    used.add(next_id)
            by_name.setdefault(m.name, dispid)
            ids.append(dispid)
        return ids

    def dispinterface(self, t: DispInterface) -> CheckedDispInterface:
        seen: Dict[int, str] = {}
        props = []
        for p in t.properties:
            props.append(CheckedProperty(p, self.resolve(p.type)))
            if p.dispid in seen:
                raise err_at(p.pos, f"id {p.dispid:#x} is already used by '{seen[p.dispid]}'")
            seen[p.dispid] = p.name
        methods = []
        for m in t.methods:
            methods.append(CheckedMethod(m, m.dispid, self.params(m)))
            if m.dispid in seen:
                raise err_at(m.pos, f"id {m.dispid:#x} is already used by '{seen[m.dispid]}'")
            seen[m.dispid] = m.name
        return CheckedDispInterface(t, tuple(props), tuple(methods))

    # ------------------------------------------------------------------------------------------------------------
    # Parameters

    def params(self, m: Method) -> Tuple[CheckedParam, ...]:
        out = []
        seen_optional = False
        last = len(m.params) - 1
        for idx, p in enumerate(m.params):
            r = self.resolve(p.type)
            if p.has("lcid"):
                raise err_at(p.pos, "lcid parameters are not supported")
            flags = {a for a in ("in", "out", "retval", "optional") if p.has(a)}
            if not flags & {"in", "out"}:
                flags.add("in")
            if "out" in flags and r.byref != 1:
                raise err_at(p.pos, f"[out] parameter '{p.name}' must be a pointer")
            default = None
            if "retval" in flags:
                if "out" not in flags:
                    raise err_at(p.pos, f"retval parameter '{p.name}' must also be [out]")
                if idx != last:
                    raise err_at(p.pos, f"retval parameter '{p.name}' must be the last parameter")
                if "optional" in flags or p.default:
                    raise err_at(p.pos, f"retval parameter '{p.name}' cannot be optional")
            elif "optional" in flags or p.default is not None:
                seen_optional = True
                if p.default is not None:
                    flags.add("optional")
                    default = self.default(p, r)
                elif not (r.kind == "base" and r.base == "VARIANT") and r.byref != 1:
                    raise err_at(p.pos, f"optional parameter '{p.name}' needs a defaultvalue unless it is a VARIANT "
                                        "or a pointer")
            elif seen_optional and not (m.invkind in ("propput", "propputref") and idx == last):
                raise err_at(p.pos, f"required parameter '{p.name}' follows an optional one")
            if r.kind == "record" and r.byref != 1:
                raise err_at(p.pos, f"record parameter '{p.name}' must be passed by pointer")
            if r.kind == "safearray" and r.byref != 1:
                raise err_at(p.pos, f"SAFEARRAY parameter '{p.name}' must be passed by pointer")
            out.append(CheckedParam(p, r, frozenset(flags), default))
        return tuple(out)

    @staticmethod
    def default(p: Param, r: TypeUse) -> DefaultValue:
        d = p.default
        base = r.base
        if r.kind == "enum" or base in _INTEGER_TYPES:
            if d.kind != "int":
                raise err_at(p.pos, f"default of '{p.name}' must be an integer")
        elif base in ("float", "double"):
            if d.kind not in ("int", "real"):
                raise err_at(p.pos, f"default of '{p.name}' must be a number")
        elif base == "VARIANT_BOOL":
            if d.kind != "int":
                raise err_at(p.pos, f"default of '{p.name}' must be a boolean value")
        elif base == "BSTR":
            if d.kind != "str":
                raise err_at(p.pos, f"default of '{p.name}' must be a string")
        elif base != "VARIANT":
            raise err_at(p.pos, f"parameter '{p.name}' of type '{r.spec.idl()}' cannot have a default value")
        if d.kind == "str":
            return DefaultValue("VT_BSTR", d.value, d.idl)
        if d.kind == "real" or base in ("float", "double"):
            return DefaultValue("VT_R4" if base == "float" else "VT_R8", float(d.value), d.idl)
        vt = _INTEGER_DEFAULT_VT.get(base, "VT_I4")
        value = int(d.value)
        if vt == "VT_BOOL":
            return DefaultValue(vt, -1 if value else 0, d.idl)
        bits, signed = _INTEGER_RANGE[vt]
        if not -(1 << (bits - 1)) <= value < (1 << bits):
            raise err_at(p.pos, f"default {d.idl} of '{p.name}' does not fit in {bits} bits")
        value &= (1 << bits) - 1
        if signed and value >= 1 << (bits - 1):
            value -= 1 << bits
        return DefaultValue(vt, value, d.idl)

    # ------------------------------------------------------------------------------------------------------------
    # Classes

    def coclass(self, t: CoClass) -> CheckedCoClass:
        defaults = {False: 0, True: 0}
        for item in t.items:
            target = self.lib.find(item.name)
            if target is None and item.name not in KNOWN_INTERFACES:
                raise err_at(item.pos, f"unknown interface '{item.name}'")
            if target is not None and not isinstance(target, (Interface, DispInterface)):
                raise err_at(item.pos, f"'{item.name}' is not an interface")
            if "default" in item.attrs:
                defaults["source" in item.attrs] += 1
        if defaults[False] > 1 or defaults[True] > 1:
            raise err_at(t.pos, f"coclass '{t.name}' has more than one default interface of a kind")
        return CheckedCoClass(t)


class _MemberTable:
    """The members of one interface seen so far, inherited ones first: each new member must fit the others."""

    def __init__(self):
        self.by_kind: Dict[Tuple[int, str], CheckedMethod] = {}
        self.names: Dict[int, str] = {}
        self.by_name: Dict[str, CheckedMethod] = {}  # in any case: names are looked up without regard to case

    def add(self, m: CheckedMethod):
        pos = m.decl.pos
        key = (m.dispid, m.invkind)
        if key in self.by_kind:
            raise err_at(pos, f"'{m.name}' repeats id {m.dispid:#x} with the same kind as line "
                              f"{self.by_kind[key].decl.pos.line}")
        self.by_kind[key] = m
        if m.dispid in self.names and self.names[m.dispid].lower() != m.name.lower():
            raise err_at(pos, f"id {m.dispid:#x} of '{m.name}' is already used by '{self.names[m.dispid]}'")
        self.names[m.dispid] = m.name
        first = self.by_name.setdefault(m.name.lower(), m)
        if first.dispid != m.dispid:
            raise err_at(pos, f"'{m.name}' has id {m.dispid:#x}, but '{first.name}' of line {first.decl.pos.line} "
                              f"has id {first.dispid:#x}: members of one name share one id")
        if m.invkind == "propget" and not m.retval:
            raise err_at(pos, f"property get '{m.name}' needs an [out, retval] parameter")
        if m.invkind in ("propput", "propputref"):
            if m.retval:
                raise err_at(pos, f"property put '{m.name}' cannot have a retval parameter")
            inputs = m.inputs
            if not inputs or inputs[-1].has("out") or inputs[-1].has("optional"):
                raise err_at(pos, f"property put '{m.name}' needs a required [in] value as its last parameter")


def check_text(path: str, text: str) -> CheckedLibrary:
    from idl_parser import parse_text
    return check(parse_text(path, text))


def check_file(path: str) -> CheckedLibrary:
    from idl_parser import parse_file
    return check(parse_file(path))
