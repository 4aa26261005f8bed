"""The checked model of a library: what the checker (idl_checker) knows about each declaration once every name is
resolved and every rule holds. This is what the emitters read.

Each checked object keeps the parsed declaration it stands for (`decl`) for its name, attributes and position,
and adds the facts the parsed one does not have: resolved types with their variant type and layout, the DISPID
of every member (assigned where the file gives none), the parameter flags that are implied ([in] when neither
[in] nor [out] is given, [optional] with a defaultvalue), default values with their variant type, record
layouts. Nothing here is C++; the emitters decide how to spell it.
"""

from dataclasses import dataclass
from typing import Optional, Tuple

from idl_parsed import (Attrs, CoClass, CoClassItem, DispInterface, Enum, EnumValue, Field, Interface, Library, Method,
                        Param, Property, Record, TypeDecl, TypeSpec)


def _from_decl(attribute: str) -> property:
    """A read-only property that answers with the same attribute of the parsed declaration (`decl`)."""
    return property(lambda self: getattr(self.decl, attribute))


@dataclass(frozen=True)
class TypeUse:
    """A type as a parameter or property uses it."""
    spec: TypeSpec
    kind: str  # 'base', 'enum', 'record', 'interface', 'safearray'
    vt: str  # variant type: "VT_I4" (also enumerations), "VT_ARRAY | VT_UI1", "VT_DISPATCH", "VT_RECORD", ...
    byref: int  # 1 when passed through a pointer beyond the value itself: "long*", "IFoo**", "SAFEARRAY(T)*"
    size: Optional[int]  # bytes of the value; None for types without a size (void)
    align: Optional[int]
    user: Optional[TypeDecl] = None  # the enumeration, record or interface declared in the library
    iid_name: Optional[str] = None  # interfaces: "IID_IFoo", the IID an argument is asked for
    element: Optional["TypeUse"] = None  # SAFEARRAY element

    @property
    def base(self) -> str:
        return self.spec.base

    @property
    def idl(self) -> str:
        return self.spec.idl()


@dataclass(frozen=True)
class DefaultValue:
    vt: str  # the variant type of the value: VT_I2, VT_I4, VT_R4, VT_R8, VT_BSTR, VT_BOOL, VT_UI1, VT_UI2, VT_UI4
    value: object  # int, float or str, within the range of vt
    idl: str  # the literal as written


@dataclass(frozen=True)
class CheckedParam:
    decl: Param
    type: TypeUse
    flags: frozenset  # of 'in', 'out', 'retval', 'optional', implied ones included
    default: Optional[DefaultValue]

    name = _from_decl("name")

    def has(self, flag: str) -> bool:
        return flag in self.flags


@dataclass(frozen=True)
class CheckedMethod:
    decl: Method
    dispid: int
    params: Tuple[CheckedParam, ...]

    name = _from_decl("name")
    invkind = _from_decl("invkind")
    attrs = _from_decl("attrs")
    helpstring = _from_decl("helpstring")

    @property
    def retval(self) -> Optional[CheckedParam]:
        return next((p for p in self.params if p.has("retval")), None)

    @property
    def inputs(self) -> Tuple[CheckedParam, ...]:
        return tuple(p for p in self.params if not p.has("retval"))


@dataclass(frozen=True)
class CheckedProperty:
    decl: Property
    type: TypeUse

    name = _from_decl("name")
    dispid = _from_decl("dispid")
    attrs = _from_decl("attrs")
    helpstring = _from_decl("helpstring")


@dataclass(frozen=True)
class CheckedField:
    """A record field with its place in the record and its type as the type tables describe it."""
    decl: Field
    offset: int
    vt: str
    pointers: int
    type_name: Optional[str]  # a declared type's name; None for base types

    name = _from_decl("name")
    count = _from_decl("count")
    type = _from_decl("type")


@dataclass(frozen=True)
class CheckedType:
    decl: TypeDecl

    name = _from_decl("name")
    attrs = _from_decl("attrs")
    uuid = _from_decl("uuid")
    helpstring = _from_decl("helpstring")


@dataclass(frozen=True)
class CheckedEnum(CheckedType):
    decl: Enum

    tag = _from_decl("tag")
    values = _from_decl("values")


@dataclass(frozen=True)
class CheckedRecord(CheckedType):
    decl: Record
    fields: Tuple[CheckedField, ...]
    size: int
    align: int

    tag = _from_decl("tag")


@dataclass(frozen=True)
class CheckedInterface(CheckedType):
    decl: Interface
    methods: Tuple[CheckedMethod, ...]  # declared here
    inherited: Tuple[CheckedMethod, ...]  # of the library's interfaces it derives from, in vtable order
    dispatchable: bool  # derives from IDispatch

    base = _from_decl("base")

    @property
    def all_methods(self) -> Tuple[CheckedMethod, ...]:
        return self.inherited + self.methods


@dataclass(frozen=True)
class CheckedDispInterface(CheckedType):
    decl: DispInterface
    properties: Tuple[CheckedProperty, ...]
    methods: Tuple[CheckedMethod, ...]
    dispatchable: bool = True

    @property
    def all_methods(self) -> Tuple[CheckedMethod, ...]:
        return self.methods


@dataclass(frozen=True)
class CheckedCoClass(CheckedType):
    decl: CoClass

    items = _from_decl("items")


@dataclass(frozen=True)
class CheckedLibrary(CheckedType):
    decl: Library
    types: Tuple[CheckedType, ...]  # in the order of the library

    version = _from_decl("version")
    importlibs = _from_decl("importlibs")

    def find(self, name: str) -> Optional[CheckedType]:
        return next((t for t in self.types if t.name == name), None)
