"""What the parser makes of an IDL file: the declarations as written, with their positions.

Nothing here is resolved or checked beyond the syntax: type names are names, ids are the ones written (None
when a member has none), attributes are as given. The objects are frozen; the checker builds its own model
(idl_checked) from them and never changes them.
"""

from dataclasses import dataclass
from types import MappingProxyType
from typing import Mapping, Optional, Tuple

from idl_lexer import Token


@dataclass(frozen=True)
class Pos:
    path: str
    line: int
    col: int


@dataclass(frozen=True)
class Attr:
    name: str
    args: Tuple[Token, ...]
    pos: Pos

    @property
    def text(self) -> Optional[str]:
        """The argument of a one-string attribute (helpstring, helpfile) or of uuid."""
        return self.args[0].text if self.args else None


Attrs = Mapping[str, Attr]
NO_ATTRS: Attrs = MappingProxyType({})


def frozen_attrs(attrs: dict) -> Attrs:
    return MappingProxyType(dict(attrs))


@dataclass(frozen=True)
class TypeSpec:
    base: str  # base type ("long", "unsigned char", "BSTR", "IDispatch"), a declared type's name, or "SAFEARRAY"
    pointers: int
    element: Optional["TypeSpec"] = None  # SAFEARRAY element type
    pos: Optional[Pos] = None

    def idl(self) -> str:
        core = f"SAFEARRAY({self.element.idl()})" if self.base == "SAFEARRAY" else self.base
        return core + "*" * self.pointers


@dataclass(frozen=True)
class Default:
    idl: str  # the literal as printed back
    kind: str  # 'int' (also TRUE/FALSE and enumeration constants), 'real', 'str'
    value: object


@dataclass(frozen=True)
class Param:
    name: str
    type: TypeSpec
    attrs: Attrs
    default: Optional[Default]
    pos: Pos

    def has(self, a: str) -> bool:
        return a in self.attrs


@dataclass(frozen=True)
class Method:
    name: str
    ret: TypeSpec
    params: Tuple[Param, ...]
    attrs: Attrs
    dispid: Optional[int]  # as written in id(...); None when not given
    pos: Pos
    helpstring: Optional[str] = None

    @property
    def invkind(self) -> str:
        for k in ("propget", "propput", "propputref"):
            if k in self.attrs:
                return k
        return "method"


@dataclass(frozen=True)
class Property:  # a property of a dispinterface
    name: str
    type: TypeSpec
    attrs: Attrs
    dispid: int
    pos: Pos
    helpstring: Optional[str] = None


@dataclass(frozen=True)
class EnumValue:
    name: str
    value: int  # as a signed 32-bit value
    expr_text: str
    helpstring: Optional[str]
    pos: Pos


@dataclass(frozen=True)
class Field:
    name: str
    type: TypeSpec
    count: int  # fixed array length, 0 when not an array
    pos: Pos


@dataclass(frozen=True)
class TypeDecl:
    name: str
    attrs: Attrs
    pos: Pos

    @property
    def uuid(self) -> Optional[str]:
        a = self.attrs.get("uuid")
        return a.text if a else None

    @property
    def helpstring(self) -> Optional[str]:
        a = self.attrs.get("helpstring")
        return a.text if a else None


@dataclass(frozen=True)
class Enum(TypeDecl):
    tag: Optional[str] = None
    values: Tuple[EnumValue, ...] = ()


@dataclass(frozen=True)
class Record(TypeDecl):
    tag: Optional[str] = None
    fields: Tuple[Field, ...] = ()


@dataclass(frozen=True)
class Interface(TypeDecl):
    base: str = "IDispatch"
    methods: Tuple[Method, ...] = ()


@dataclass(frozen=True)
class DispInterface(TypeDecl):
    properties: Tuple[Property, ...] = ()
    methods: Tuple[Method, ...] = ()


@dataclass(frozen=True)
class CoClassItem:
    name: str
    is_dispinterface: bool
    attrs: Attrs
    pos: Pos


@dataclass(frozen=True)
class CoClass(TypeDecl):
    items: Tuple[CoClassItem, ...] = ()


@dataclass(frozen=True)
class Library(TypeDecl):
    importlibs: Tuple[str, ...] = ()
    types: Tuple[TypeDecl, ...] = ()  # in the order of the file; types declared before the block come first

    @property
    def version(self) -> Tuple[int, int]:
        a = self.attrs.get("version")
        if not a:
            return (0, 0)
        text = "".join(t.text for t in a.args)
        major, _, minor = text.partition(".")
        return (int(major), int(minor or "0"))

    def find(self, name: str) -> Optional[TypeDecl]:
        for t in self.types:
            if t.name == name:
                return t
        return None
