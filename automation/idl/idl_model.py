"""Lexer, parser and checks for the interface definition language subset the system uses.

The result is a small object model (Library, Enum, Record, Interface, DispInterface, CoClass) that the code
generator turns into C++. Every error carries file:line:column and says what was expected.
"""

import re
from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple


class IdlError(Exception):
    def __init__(self, path: str, line: int, col: int, message: str):
        super().__init__(f"{path}:{line}:{col}: error: {message}")
        self.path, self.line, self.col, self.message = path, line, col, message


# ----------------------------------------------------------------------------------------------------------------
# Lexer


@dataclass
class Token:
    kind: str  # 'id', 'num', 'str', 'guid', 'punct', 'eof'
    text: str
    line: int
    col: int


_PUNCT = set("[](){};:,=*-+|<>~")
_GUID_RE = re.compile(r"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}")


def tokenize(path: str, text: str) -> List[Token]:
    tokens: List[Token] = []
    i, line, col, n = 0, 1, 1, len(text)

    def advance(count: int):
        nonlocal i, line, col
        for _ in range(count):
            if text[i] == "\n":
                line, col = line + 1, 1
            else:
                col += 1
            i += 1

    while i < n:
        c = text[i]
        if c in " \t\r\n\f":
            advance(1)
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                advance(1)
        elif text.startswith("/*", i):
            start_line, start_col = line, col
            end = text.find("*/", i + 2)
            if end < 0:
                raise IdlError(path, start_line, start_col, "unterminated comment: expected '*/'")
            advance(end + 2 - i)
        elif c == "#":
            # Preprocessor lines (#include, #pragma) carry nothing the type library needs.
            while i < n and text[i] != "\n":
                advance(1)
        elif c == '"':
            start_line, start_col = line, col
            advance(1)
            out = []
            while True:
                if i >= n or text[i] == "\n":
                    raise IdlError(path, start_line, start_col, "unterminated string: expected '\"'")
                ch = text[i]
                if ch == "\\":
                    if i + 1 >= n:
                        raise IdlError(path, line, col, "unterminated string: expected '\"'")
                    esc = text[i + 1]
                    mapping = {"n": "\n", "t": "\t", "\\": "\\", '"': '"', "'": "'", "0": "\0", "r": "\r"}
                    if esc not in mapping:
                        raise IdlError(path, line, col, f"unknown escape sequence '\\{esc}'")
                    out.append(mapping[esc])
                    advance(2)
                elif ch == '"':
                    advance(1)
                    break
                else:
                    out.append(ch)
                    advance(1)
            tokens.append(Token("str", "".join(out), start_line, start_col))
        elif (m := _GUID_RE.match(text, i)) and (i + 36 >= n or not (text[i + 36].isalnum() or text[i + 36] == "_")):
            tokens.append(Token("guid", m.group(0).upper(), line, col))
            advance(36)
        elif c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            m = re.compile(r"0[xX][0-9A-Fa-f]+|(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?").match(text, i)
            j = m.end()
            while j < n and text[j] in "uUlL":
                j += 1
            tokens.append(Token("num", text[i:j], line, col))
            advance(j - i)
        elif c.isalpha() or c == "_":
            j = i
            while j < n and (text[j].isalnum() or text[j] == "_"):
                j += 1
            tokens.append(Token("id", text[i:j], line, col))
            advance(j - i)
        elif text.startswith("<<", i):
            tokens.append(Token("punct", "<<", line, col))
            advance(2)
        elif c in _PUNCT:
            tokens.append(Token("punct", c, line, col))
            advance(1)
        else:
            raise IdlError(path, line, col, f"unexpected character '{c}'")
    tokens.append(Token("eof", "", line, col))
    return tokens


# ----------------------------------------------------------------------------------------------------------------
# Object model

# Automation variant types (numeric values of the platform).
VT = {
    "VT_EMPTY": 0, "VT_I2": 2, "VT_I4": 3, "VT_R4": 4, "VT_R8": 5, "VT_BSTR": 8, "VT_DISPATCH": 9, "VT_ERROR": 10,
    "VT_BOOL": 11, "VT_VARIANT": 12, "VT_UNKNOWN": 13, "VT_UI1": 17, "VT_UI2": 18, "VT_UI4": 19, "VT_VOID": 24,
    "VT_HRESULT": 25, "VT_RECORD": 36, "VT_ARRAY": 0x2000,
}

# IDL base type -> (C++ type, VT name, size, alignment)
BASE_TYPES = {
    "short": ("SHORT", "VT_I2", 2, 2),
    "long": ("LONG", "VT_I4", 4, 4),
    "float": ("FLOAT", "VT_R4", 4, 4),
    "double": ("DOUBLE", "VT_R8", 8, 8),
    "unsigned char": ("BYTE", "VT_UI1", 1, 1),
    "unsigned short": ("USHORT", "VT_UI2", 2, 2),
    "unsigned long": ("ULONG", "VT_UI4", 4, 4),
    "BSTR": ("BSTR", "VT_BSTR", 8, 8),
    "VARIANT_BOOL": ("VARIANT_BOOL", "VT_BOOL", 2, 2),
    "VARIANT": ("VARIANT", "VT_VARIANT", 24, 8),
    "IDispatch": ("IDispatch", "VT_DISPATCH", None, None),
    "IUnknown": ("IUnknown", "VT_UNKNOWN", None, None),
    "HRESULT": ("HRESULT", "VT_HRESULT", 4, 4),
    "void": ("void", "VT_VOID", None, None),
}


@dataclass
class Pos:
    path: str
    line: int
    col: int


@dataclass
class Attr:
    name: str
    args: List[Token]
    pos: Pos


@dataclass
class TypeSpec:
    base: str  # IDL base type name, user type name, or "SAFEARRAY"
    pointers: int
    element: Optional["TypeSpec"] = None  # SAFEARRAY element type
    pos: Optional[Pos] = None

    def idl(self) -> str:
        core = f"SAFEARRAY({self.element.idl()})" if self.base == "SAFEARRAY" else self.base
        return core + "*" * self.pointers


@dataclass
class Default:
    idl: str  # the literal as printed
    kind: str  # 'int', 'real', 'str', 'bool'
    value: object


@dataclass
class Param:
    name: str
    type: TypeSpec
    attrs: Dict[str, Attr]
    default: Optional[Default]
    pos: Pos

    def has(self, a: str) -> bool:
        return a in self.attrs


@dataclass
class Method:
    name: str
    ret: TypeSpec
    params: List[Param]
    attrs: Dict[str, Attr]
    dispid: int
    pos: Pos
    helpstring: Optional[str] = None

    @property
    def invkind(self) -> str:
        for k in ("propget", "propput", "propputref"):
            if k in self.attrs:
                return k
        return "method"


@dataclass
class Property:  # dispinterface properties
    name: str
    type: TypeSpec
    attrs: Dict[str, Attr]
    dispid: int
    pos: Pos
    helpstring: Optional[str] = None


@dataclass
class EnumValue:
    name: str
    value: int
    expr_text: str
    helpstring: Optional[str]
    pos: Pos


@dataclass
class Field:
    name: str
    type: TypeSpec
    count: int  # fixed array length, 0 when not an array
    pos: Pos


@dataclass
class TypeDecl:
    name: str
    attrs: Dict[str, Attr]
    pos: Pos

    @property
    def uuid(self) -> Optional[str]:
        a = self.attrs.get("uuid")
        return a.args[0].text if a else None

    @property
    def helpstring(self) -> Optional[str]:
        a = self.attrs.get("helpstring")
        return a.args[0].text if a else None


@dataclass
class Enum(TypeDecl):
    tag: Optional[str] = None
    values: List[EnumValue] = field(default_factory=list)


@dataclass
class Record(TypeDecl):
    tag: Optional[str] = None
    fields: List[Field] = field(default_factory=list)


@dataclass
class Interface(TypeDecl):
    base: str = "IDispatch"
    methods: List[Method] = field(default_factory=list)


@dataclass
class DispInterface(TypeDecl):
    properties: List[Property] = field(default_factory=list)
    methods: List[Method] = field(default_factory=list)


@dataclass
class CoClassItem:
    name: str
    is_dispinterface: bool
    attrs: Dict[str, Attr]
    pos: Pos


@dataclass
class CoClass(TypeDecl):
    items: List[CoClassItem] = field(default_factory=list)


@dataclass
class Library(TypeDecl):
    importlibs: List[str] = field(default_factory=list)
    types: List[TypeDecl] = field(default_factory=list)

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


# ----------------------------------------------------------------------------------------------------------------
# Parser

_ALLOWED_ATTRS = {
    "library": {"uuid", "version", "helpstring", "lcid", "helpfile", "helpcontext"},
    "enum": {"uuid", "helpstring", "v1_enum", "public", "hidden"},
    "enumvalue": {"helpstring", "hidden"},
    "struct": {"uuid", "helpstring", "public", "hidden"},
    "interface": {"object", "uuid", "dual", "oleautomation", "nonextensible", "hidden", "helpstring",
                  "pointer_default", "helpcontext", "restricted"},
    "dispinterface": {"uuid", "helpstring", "hidden", "nonextensible", "helpcontext"},
    "coclass": {"uuid", "helpstring", "noncreatable", "hidden", "control", "licensed", "appobject",
                "helpcontext"},
    "coclassitem": {"default", "source", "restricted"},
    "method": {"id", "propget", "propput", "propputref", "helpstring", "hidden", "restricted", "helpcontext",
               "vararg", "nonbrowsable", "defaultbind", "bindable", "requestedit", "displaybind"},
    "param": {"in", "out", "retval", "optional", "defaultvalue", "lcid"},
    "property": {"id", "helpstring", "hidden", "readonly", "restricted"},
}


class Parser:
    def __init__(self, path: str, text: str):
        self.path = path
        self.toks = tokenize(path, text)
        self.i = 0
        self.library: Optional[Library] = None
        self.loose: List[TypeDecl] = []  # types declared outside the library block
        self.constants: Dict[str, int] = {}

    # -- token helpers
    @property
    def tok(self) -> Token:
        return self.toks[self.i]

    def pos(self, t: Optional[Token] = None) -> Pos:
        t = t or self.tok
        return Pos(self.path, t.line, t.col)

    def error(self, message: str, t: Optional[Token] = None) -> IdlError:
        t = t or self.tok
        return IdlError(self.path, t.line, t.col, message)

    def describe(self, t: Token) -> str:
        if t.kind == "eof":
            return "end of file"
        if t.kind == "str":
            return "a string"
        return f"'{t.text}'"

    def expected(self, what: str) -> IdlError:
        return self.error(f"expected {what}, found {self.describe(self.tok)}")

    def at(self, text: str) -> bool:
        return self.tok.kind in ("punct", "id") and self.tok.text == text

    def accept(self, text: str) -> bool:
        if self.at(text):
            self.i += 1
            return True
        return False

    def expect(self, text: str) -> Token:
        if not self.at(text):
            raise self.expected(f"'{text}'")
        t = self.tok
        self.i += 1
        return t

    def ident(self, what: str = "an identifier") -> Token:
        if self.tok.kind != "id":
            raise self.expected(what)
        t = self.tok
        self.i += 1
        return t

    # -- attributes
    def attributes(self, context: str) -> Dict[str, Attr]:
        attrs: Dict[str, Attr] = {}
        if not self.at("["):
            return attrs
        self.expect("[")
        while True:
            name_tok = self.ident("an attribute name")
            name = name_tok.text
            if name not in _ALLOWED_ATTRS[context]:
                raise self.error(f"attribute '{name}' is not allowed here", name_tok)
            if name in attrs:
                raise self.error(f"attribute '{name}' given twice", name_tok)
            args: List[Token] = []
            if self.accept("("):
                depth = 0
                while not (depth == 0 and self.at(")")):
                    if self.tok.kind == "eof":
                        raise self.expected("')'")
                    if self.at("("):
                        depth += 1
                    elif self.at(")"):
                        depth -= 1
                    args.append(self.tok)
                    self.i += 1
                self.expect(")")
            attrs[name] = Attr(name, args, self.pos(name_tok))
            self.check_attr(attrs[name])
            if self.accept("]"):
                return attrs
            if not self.at(","):
                raise self.expected("',' or ']'")
            self.i += 1

    def check_attr(self, a: Attr):
        where = Token("id", a.name, a.pos.line, a.pos.col)
        if a.name == "uuid":
            if len(a.args) != 1 or a.args[0].kind != "guid":
                raise self.error("expected a GUID of the form 12345678-1234-1234-1234-123456789ABC in uuid(...)", where)
        elif a.name in ("helpstring", "helpfile"):
            if len(a.args) != 1 or a.args[0].kind != "str":
                raise self.error(f"expected one string in {a.name}(...)", where)
        elif a.name == "version":
            text = "".join(t.text for t in a.args)
            if not re.fullmatch(r"\d+(\.\d+)?", text):
                raise self.error("expected version(major.minor)", where)
        elif a.name == "id":
            if not a.args:
                raise self.error("expected a number in id(...)", where)

    # -- constant expressions (enum values, id(), defaultvalue)
    def eval_expr(self, toks: List[Token], where: Token) -> int:
        p = 0

        def peek():
            return toks[p] if p < len(toks) else None

        def primary() -> int:
            nonlocal p
            t = peek()
            if t is None:
                raise self.error("expected a constant expression", where)
            if t.text == "(":
                p += 1
                v = bitor()
                if peek() is None or peek().text != ")":
                    raise self.error("expected ')' in constant expression", t)
                p += 1
                return v
            if t.text in ("-", "+", "~"):
                p += 1
                v = primary()
                return -v if t.text == "-" else (~v if t.text == "~" else v)
            if t.kind == "num":
                p += 1
                return parse_int(t.text, lambda m: self.error(m, t))
            if t.kind == "id":
                if t.text in self.constants:
                    p += 1
                    return self.constants[t.text]
                raise self.error(f"unknown constant '{t.text}'", t)
            raise self.error(f"expected a constant expression, found {self.describe(t)}", t)

        def additive() -> int:
            nonlocal p
            v = primary()
            while peek() is not None and peek().text in ("+", "-"):
                op = peek().text
                p += 1
                r = primary()
                v = v + r if op == "+" else v - r
            return v

        def shift() -> int:
            nonlocal p
            v = additive()
            while peek() is not None and peek().text == "<<":
                p += 1
                v = v << additive()
            return v

        def bitor() -> int:
            nonlocal p
            v = shift()
            while peek() is not None and peek().text == "|":
                p += 1
                v = v | shift()
            return v

        v = bitor()
        if p != len(toks):
            raise self.error(f"unexpected {self.describe(toks[p])} in constant expression", toks[p])
        return v

    # -- types
    def type_spec(self) -> TypeSpec:
        t = self.tok
        if self.accept("unsigned"):
            base = "unsigned " + self.ident("'char', 'short' or 'long' after 'unsigned'").text
            if base not in BASE_TYPES:
                raise self.error(f"unsupported type '{base}'", t)
        elif self.accept("SAFEARRAY"):
            self.expect("(")
            elem = self.type_spec()
            self.expect(")")
            spec = TypeSpec("SAFEARRAY", 0, elem, self.pos(t))
            while self.accept("*"):
                spec.pointers += 1
            return spec
        elif self.accept("struct") or self.accept("enum"):
            base = self.ident("a type name").text
        else:
            if self.tok.kind != "id":
                raise self.expected("a type")
            base = self.tok.text
            self.i += 1
        spec = TypeSpec(base, 0, None, self.pos(t))
        while self.accept("*"):
            spec.pointers += 1
        return spec

    # -- top level
    def parse(self) -> Library:
        while self.tok.kind != "eof":
            self.top_item(in_library=False)
        if self.library is None:
            raise IdlError(self.path, 1, 1, "expected a 'library' block in the file")
        return self.library

    def top_item(self, in_library: bool):
        if self.accept(";"):
            return
        if self.at("import"):
            self.i += 1
            if self.tok.kind != "str":
                raise self.expected("a file name string after 'import'")
            self.i += 1
            while self.accept(","):
                if self.tok.kind != "str":
                    raise self.expected("a file name string")
                self.i += 1
            self.expect(";")
            return
        if self.at("importlib"):
            if not in_library:
                raise self.error("'importlib' is only allowed inside a library block")
            self.i += 1
            self.expect("(")
            if self.tok.kind != "str":
                raise self.expected("a type-library file name string")
            self.library.importlibs.append(self.tok.text)
            self.i += 1
            self.expect(")")
            self.expect(";")
            return
        if self.at("cpp_quote"):
            self.i += 1
            self.expect("(")
            if self.tok.kind != "str":
                raise self.expected("a string")
            self.i += 1
            self.expect(")")
            return
        start = self.tok
        if self.at("typedef"):
            self.add_type(self.typedef(), in_library)
            return
        ctx = None
        j = self.i
        if self.at("["):  # look past the attribute list for the keyword
            depth = 0
            while True:
                t = self.toks[j]
                if t.kind == "eof":
                    break
                if t.text == "[" and t.kind == "punct":
                    depth += 1
                elif t.text == "]" and t.kind == "punct":
                    depth -= 1
                    if depth == 0:
                        j += 1
                        break
                j += 1
        kw = self.toks[j]
        if kw.kind == "id" and kw.text in ("library", "interface", "dispinterface", "coclass"):
            ctx = kw.text
        elif kw.kind == "id" and kw.text == "typedef":
            raise self.error("attributes go after 'typedef', not before it", start)
        if ctx is None:
            what = "'library', 'interface', 'dispinterface', 'coclass', 'typedef' or 'importlib'" if in_library else \
                "'library', 'interface', 'typedef' or 'import'"
            raise self.error(f"expected {what}, found {self.describe(kw)}", kw)
        attrs = self.attributes(ctx)
        kw_tok = self.tok
        self.i += 1
        if ctx == "library":
            if in_library:
                raise self.error("a library block cannot be nested", kw_tok)
            if self.library is not None:
                raise self.error("only one library block is allowed per file", kw_tok)
            self.library_block(attrs, kw_tok)
        elif ctx == "interface":
            decl = self.interface(attrs, kw_tok)
            if decl is not None:
                self.add_type(decl, in_library)
        elif ctx == "dispinterface":
            decl = self.dispinterface(attrs, kw_tok)
            if decl is not None:
                self.add_type(decl, in_library)
        else:
            if not in_library:
                raise self.error("a coclass belongs inside the library block", kw_tok)
            self.add_type(self.coclass(attrs, kw_tok), in_library)

    def add_type(self, decl: TypeDecl, in_library: bool):
        existing = [t for t in (self.library.types if self.library else []) + self.loose if t.name == decl.name]
        if existing:
            p = existing[0].pos
            raise IdlError(decl.pos.path, decl.pos.line, decl.pos.col,
                           f"'{decl.name}' is already defined at line {p.line}")
        (self.library.types if in_library else self.loose).append(decl)

    def library_block(self, attrs, kw_tok):
        name = self.ident("the library name")
        if "uuid" not in attrs:
            raise self.error("a library needs a uuid attribute", kw_tok)
        self.library = Library(name.text, attrs, self.pos(name))
        # Types declared before the library block and referenced in it become part of it.
        self.library.types.extend(self.loose)
        self.loose = []
        self.expect("{")
        while not self.at("}"):
            if self.tok.kind == "eof":
                raise self.expected("'}' to close the library block")
            self.top_item(in_library=True)
        self.expect("}")
        self.accept(";")

    def typedef(self) -> TypeDecl:
        self.expect("typedef")
        t = self.tok
        if self.at("[") or self.at("enum") or self.at("struct"):
            j = self.i
            if self.at("["):
                depth = 0
                while True:
                    tt = self.toks[j]
                    if tt.kind == "eof":
                        break
                    if tt.kind == "punct" and tt.text == "[":
                        depth += 1
                    elif tt.kind == "punct" and tt.text == "]":
                        depth -= 1
                        if depth == 0:
                            j += 1
                            break
                    j += 1
            kind = self.toks[j].text
            if kind not in ("enum", "struct"):
                raise self.error(f"expected 'enum' or 'struct' after typedef attributes, found "
                                 f"{self.describe(self.toks[j])}", self.toks[j])
            attrs = self.attributes(kind)
            self.i += 1
            return self.enum_body(attrs, t) if kind == "enum" else self.struct_body(attrs, t)
        raise self.expected("'enum' or 'struct' after 'typedef'")

    def enum_body(self, attrs, start) -> Enum:
        tag = self.ident().text if self.tok.kind == "id" else None
        self.expect("{")
        values: List[EnumValue] = []
        next_value = 0
        local_names = set()
        while not self.at("}"):
            vattrs = self.attributes("enumvalue")
            name = self.ident("an enumeration constant")
            if name.text in local_names or name.text in self.constants:
                raise self.error(f"constant '{name.text}' is already defined", name)
            expr_text = ""
            if self.accept("="):
                expr_start = self.tok
                toks = []
                while not (self.at(",") or self.at("}")):
                    if self.tok.kind == "eof":
                        raise self.expected("'}' to close the enumeration")
                    toks.append(self.tok)
                    self.i += 1
                if not toks:
                    raise self.expected("a value after '='")
                value = self.eval_expr(toks, expr_start)
                expr_text = " ".join(x.text for x in toks)
            else:
                value = next_value
            if not -2**31 <= value < 2**32:
                raise self.error(f"value of '{name.text}' does not fit in 32 bits", name)
            if value >= 2**31:
                value -= 2**32
            hs = vattrs["helpstring"].args[0].text if "helpstring" in vattrs else None
            values.append(EnumValue(name.text, value, expr_text, hs, self.pos(name)))
            self.constants[name.text] = value
            local_names.add(name.text)
            next_value = value + 1
            if not self.accept(","):
                break
        self.expect("}")
        name = self.ident("the enumeration's type name")
        self.expect(";")
        e = Enum(name.text, attrs, self.pos(name), tag=tag, values=values)
        if not values:
            raise self.error(f"enumeration '{name.text}' has no constants", name)
        return e

    def struct_body(self, attrs, start) -> Record:
        tag = self.ident().text if self.tok.kind == "id" else None
        self.expect("{")
        fields: List[Field] = []
        while not self.at("}"):
            if self.tok.kind == "eof":
                raise self.expected("'}' to close the record")
            ftype = self.type_spec()
            fname = self.ident("a field name")
            count = 0
            if self.accept("["):
                num = self.tok
                if num.kind != "num":
                    raise self.expected("an array length")
                self.i += 1
                count = parse_int(num.text, lambda m: self.error(m, num))
                if count < 1:
                    raise self.error("an array length must be at least 1", num)
                self.expect("]")
            self.expect(";")
            if any(f.name == fname.text for f in fields):
                raise self.error(f"field '{fname.text}' is already defined", fname)
            fields.append(Field(fname.text, ftype, count, self.pos(fname)))
        self.expect("}")
        name = self.ident("the record's type name")
        self.expect(";")
        if not fields:
            raise self.error(f"record '{name.text}' has no fields", name)
        return Record(name.text, attrs, self.pos(name), tag=tag, fields=fields)

    def interface(self, attrs, kw_tok) -> Optional[Interface]:
        name = self.ident("the interface name")
        if self.accept(";"):  # forward declaration
            return None
        if "uuid" not in attrs:
            raise self.error(f"interface '{name.text}' needs a uuid attribute", kw_tok)
        self.expect(":")
        base = self.ident("the base interface").text
        self.expect("{")
        methods: List[Method] = []
        while not self.at("}"):
            if self.tok.kind == "eof":
                raise self.expected("'}' to close the interface")
            methods.append(self.method())
        self.expect("}")
        self.accept(";")
        return Interface(name.text, attrs, self.pos(name), base=base, methods=methods)

    def method(self) -> Method:
        start = self.tok
        attrs = self.attributes("method")
        ret = self.type_spec()
        name = self.ident("a member name")
        self.expect("(")
        params: List[Param] = []
        if self.at("void") and self.toks[self.i + 1].text == ")":
            self.i += 1
        while not self.at(")"):
            pattrs = self.attributes("param")
            ptype = self.type_spec()
            pname = self.ident("a parameter name")
            if any(p.name.lower() == pname.text.lower() for p in params):
                raise self.error(f"parameter '{pname.text}' is already defined", pname)
            default = None
            if "defaultvalue" in pattrs:
                default = self.default_value(pattrs["defaultvalue"])
            params.append(Param(pname.text, ptype, pattrs, default, self.pos(pname)))
            if not self.accept(","):
                if not self.at(")"):
                    raise self.expected("',' or ')'")
        self.expect(")")
        self.expect(";")
        dispid = None
        if "id" in attrs:
            a = attrs["id"]
            dispid = self.eval_expr(a.args, Token("id", "id", a.pos.line, a.pos.col))
            if not -2**31 <= dispid < 2**32:
                raise IdlError(a.pos.path, a.pos.line, a.pos.col, "id does not fit in 32 bits")
            if dispid >= 2**31:
                dispid -= 2**32
        hs = attrs["helpstring"].args[0].text if "helpstring" in attrs else None
        return Method(name.text, ret, params, attrs, dispid, self.pos(name), hs)

    def default_value(self, a: Attr) -> Default:
        where = Token("id", a.name, a.pos.line, a.pos.col)
        toks = a.args
        if len(toks) == 1 and toks[0].kind == "str":
            return Default(cpp_string_literal(toks[0].text), "str", toks[0].text)
        if not toks:
            raise self.error("expected a value in defaultvalue(...)", where)
        text = "".join(t.text for t in toks)
        if re.fullmatch(r"[-+]?(\d+\.\d*|\.\d+|\d+)([eE][+-]?\d+)|[-+]?(\d+\.\d*|\.\d+)", text):
            return Default(text, "real", float(text))
        if len(toks) == 1 and toks[0].kind == "id" and toks[0].text in ("TRUE", "FALSE", "VARIANT_TRUE",
                                                                         "VARIANT_FALSE"):
            return Default(toks[0].text, "int", -1 if "TRUE" in toks[0].text else 0)
        value = self.eval_expr(toks, where)
        return Default(" ".join(t.text for t in toks) if len(toks) > 1 and toks[0].text != "-" else text, "int",
                       value)

    def dispinterface(self, attrs, kw_tok) -> Optional[DispInterface]:
        name = self.ident("the dispinterface name")
        if self.accept(";"):
            return None
        if "uuid" not in attrs:
            raise self.error(f"dispinterface '{name.text}' needs a uuid attribute", kw_tok)
        self.expect("{")
        props: List[Property] = []
        methods: List[Method] = []
        self.expect("properties")
        self.expect(":")
        while not self.at("methods"):
            if self.tok.kind == "eof" or self.at("}"):
                raise self.expected("'methods:'")
            pattrs = self.attributes("property")
            ptype = self.type_spec()
            pname = self.ident("a property name")
            self.expect(";")
            if "id" not in pattrs:
                raise self.error(f"property '{pname.text}' needs an id attribute", pname)
            a = pattrs["id"]
            dispid = self.eval_expr(a.args, pname)
            hs = pattrs["helpstring"].args[0].text if "helpstring" in pattrs else None
            props.append(Property(pname.text, ptype, pattrs, dispid, self.pos(pname), hs))
        self.expect("methods")
        self.expect(":")
        while not self.at("}"):
            if self.tok.kind == "eof":
                raise self.expected("'}' to close the dispinterface")
            m = self.method()
            if m.dispid is None:
                raise IdlError(m.pos.path, m.pos.line, m.pos.col,
                               f"method '{m.name}' of a dispinterface needs an id attribute")
            methods.append(m)
        self.expect("}")
        self.accept(";")
        return DispInterface(name.text, attrs, self.pos(name), properties=props, methods=methods)

    def coclass(self, attrs, kw_tok) -> CoClass:
        name = self.ident("the coclass name")
        if "uuid" not in attrs:
            raise self.error(f"coclass '{name.text}' needs a uuid attribute", kw_tok)
        self.expect("{")
        items: List[CoClassItem] = []
        while not self.at("}"):
            iattrs = self.attributes("coclassitem")
            if self.accept("interface"):
                disp = False
            elif self.accept("dispinterface"):
                disp = True
            else:
                raise self.expected("'interface' or 'dispinterface'")
            iname = self.ident("an interface name")
            self.expect(";")
            items.append(CoClassItem(iname.text, disp, iattrs, self.pos(iname)))
        self.expect("}")
        self.accept(";")
        return CoClass(name.text, attrs, self.pos(name), items=items)


def parse_int(text: str, err) -> int:
    t = text.rstrip("uUlL")
    try:
        return int(t, 16) if t.lower().startswith("0x") else int(t, 10)
    except ValueError:
        raise err(f"expected an integer, found '{text}'")


def cpp_string_literal(s: str) -> str:
    out = ['"']
    for ch in s:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\0":
            out.append("\\0")
        elif ord(ch) < 32:
            out.append(f"\\x{ord(ch):02x}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


# ----------------------------------------------------------------------------------------------------------------
# Checks after parsing


def err_at(pos: Pos, message: str) -> IdlError:
    return IdlError(pos.path, pos.line, pos.col, message)


class Resolved:
    """Facts about a type as used in a signature: its C++ spelling, variant type and layout."""

    def __init__(self, lib: Library, spec: TypeSpec):
        self.spec = spec
        self.kind = "base"  # base, enum, record, interface, safearray
        self.iid_name = None
        self.user = None
        if spec.base == "SAFEARRAY":
            elem = Resolved(lib, spec.element)
            if spec.element.pointers != 0 and elem.kind != "interface" or spec.element.pointers > 1:
                raise err_at(spec.pos, "a SAFEARRAY element must be a plain type")
            self.kind = "safearray"
            self.element = elem
            self.vt = f"VT_ARRAY | {elem.vt}"
            self.cpp = "SAFEARRAY*"
            self.size, self.align = 8, 8
            self.value_pointers = 1  # SAFEARRAY(T) is a SAFEARRAY*
        elif spec.base in BASE_TYPES:
            cpp, vt, size, align = BASE_TYPES[spec.base]
            self.cpp, self.vt, self.size, self.align = cpp, vt, size, align
            self.value_pointers = 0
            if spec.base in ("IDispatch", "IUnknown"):
                self.kind = "interface"
                self.iid_name = "IID_" + spec.base
                self.value_pointers = 1
                if spec.pointers < 1:
                    raise err_at(spec.pos, f"'{spec.base}' is used through a pointer: expected '{spec.base}*'")
                self.size, self.align = 8, 8
        else:
            t = lib.find(spec.base)
            if t is None:
                raise err_at(spec.pos, f"unknown type '{spec.base}'")
            self.user = t
            self.cpp = t.name
            if isinstance(t, Enum):
                self.kind, self.vt, self.size, self.align, self.value_pointers = "enum", "VT_I4", 4, 4, 0
            elif isinstance(t, Record):
                self.kind, self.vt, self.value_pointers = "record", "VT_RECORD", 0
                self.size, self.align = record_layout(lib, t)[1:]
            elif isinstance(t, (Interface, DispInterface)):
                self.kind = "interface"
                self.vt = "VT_DISPATCH" if derives_from_dispatch(lib, t) else "VT_UNKNOWN"
                self.iid_name = "IID_" + t.name
                self.value_pointers = 1
                self.size, self.align = 8, 8
                if spec.pointers < 1:
                    raise err_at(spec.pos, f"interface '{t.name}' is used through a pointer: expected '{t.name}*'")
            else:
                raise err_at(spec.pos, f"'{spec.base}' is not a type usable here")
        # indirections beyond the value itself ("long*" -> 1, "IFoo**" -> 1, "SAFEARRAY(...)*" -> 1)
        self.byref = spec.pointers - (self.value_pointers if self.kind == "interface" else 0)
        if self.kind == "interface":
            self.value_pointers = 1
        if self.byref < 0 or self.byref > 1:
            raise err_at(spec.pos, f"type '{spec.idl()}' has too many or too few '*' for an automation parameter")

    def cpp_decl(self) -> str:
        if self.kind == "interface":
            return self.cpp + "*" + "*" * self.byref
        return self.cpp + "*" * self.byref


def derives_from_dispatch(lib: Library, t) -> bool:
    seen = set()
    while isinstance(t, Interface):
        if t.name in seen:
            return False
        seen.add(t.name)
        if t.base == "IDispatch":
            return True
        if t.base == "IUnknown":
            return False
        t = lib.find(t.base)
    return isinstance(t, DispInterface)


def record_layout(lib: Library, r: Record, stack=()):
    """Offsets with natural alignment (the platform's default packing), total size, alignment."""
    if r.name in stack:
        raise err_at(r.pos, f"record '{r.name}' contains itself")
    offset, max_align, offsets = 0, 1, []
    for f in r.fields:
        if f.type.base == "SAFEARRAY" or f.type.pointers:
            size, align = 8, 8
        elif f.type.base in BASE_TYPES:
            _, _, size, align = BASE_TYPES[f.type.base]
            if size is None:
                raise err_at(f.pos, f"field '{f.name}' cannot have type '{f.type.idl()}'")
        else:
            t = lib.find(f.type.base)
            if isinstance(t, Enum):
                size, align = 4, 4
            elif isinstance(t, Record):
                _, size, align = record_layout(lib, t, stack + (r.name,))
            elif t is None:
                raise err_at(f.type.pos, f"unknown type '{f.type.base}'")
            else:
                raise err_at(f.type.pos, f"field '{f.name}' cannot have type '{f.type.idl()}'")
        offset = (offset + align - 1) // align * align
        offsets.append(offset)
        offset += size * max(f.count, 1)
        max_align = max(max_align, align)
    size = (offset + max_align - 1) // max_align * max_align
    return offsets, size, max_align


def all_methods(lib: Library, itf: Interface) -> List[Method]:
    """Methods in vtable order, inherited ones first."""
    chain = []
    t = itf
    while isinstance(t, Interface):
        chain.append(t)
        if t.base in ("IDispatch", "IUnknown"):
            break
        t = lib.find(t.base)
    out = []
    for i in reversed(chain):
        out.extend(i.methods)
    return out


def check_library(lib: Library):
    """Semantic checks: types exist, members are well formed, DISPIDs are consistent."""
    for t in lib.types:
        if isinstance(t, Interface):
            check_interface(lib, t)
        elif isinstance(t, DispInterface):
            seen = {}
            for p in t.properties:
                Resolved(lib, p.type)
                if p.dispid in seen:
                    raise err_at(p.pos, f"id {p.dispid:#x} is already used by '{seen[p.dispid]}'")
                seen[p.dispid] = p.name
            for m in t.methods:
                check_params(lib, m)
                if m.dispid in seen:
                    raise err_at(m.pos, f"id {m.dispid:#x} is already used by '{seen[m.dispid]}'")
                seen[m.dispid] = m.name
        elif isinstance(t, Record):
            record_layout(lib, t)
        elif isinstance(t, CoClass):
            defaults = {False: 0, True: 0}
            for item in t.items:
                target = lib.find(item.name)
                if target is None and item.name not in ("IDispatch", "IUnknown"):
                    raise err_at(item.pos, f"unknown interface '{item.name}'")
                if target is not None and not isinstance(target, (Interface, DispInterface)):
                    raise err_at(item.pos, f"'{item.name}' is not an interface")
                if "default" in item.attrs:
                    defaults["source" in item.attrs] += 1
            if defaults[False] > 1 or defaults[True] > 1:
                raise err_at(t.pos, f"coclass '{t.name}' has more than one default interface of a kind")


def check_interface(lib: Library, itf: Interface):
    if itf.base not in ("IDispatch", "IUnknown"):
        base = lib.find(itf.base)
        if not isinstance(base, Interface):
            raise err_at(itf.pos, f"unknown base interface '{itf.base}'")
    if "dual" in itf.attrs and not derives_from_dispatch(lib, itf):
        raise err_at(itf.pos, f"dual interface '{itf.name}' must derive from IDispatch")
    # Assign missing ids the way the platform does for a dual interface: one per name, counted from 0x60020000.
    used = {m.dispid for m in all_methods(lib, itf) if m.dispid is not None}
    by_name: Dict[str, int] = {}
    next_id = 0x60020000
    for m in itf.methods:
        if m.dispid is None:
            if m.name in by_name:
                m.dispid = by_name[m.name]
            else:
                while next_id in used:
                    next_id += 1
                m.dispid = next_id
                used.add(next_id)
        by_name.setdefault(m.name, m.dispid)
    seen: Dict[Tuple[int, str], Method] = {}
    names: Dict[int, str] = {}
    ids: Dict[str, Method] = {}  # by name in any case: names are looked up without regard to case
    for m in all_methods(lib, itf):
        if m.ret.base != "HRESULT" or m.ret.pointers:
            raise err_at(m.ret.pos, f"member '{m.name}' of interface '{itf.name}' must return HRESULT")
        check_params(lib, m)
        key = (m.dispid, m.invkind)
        if key in seen:
            raise err_at(m.pos, f"'{m.name}' repeats id {m.dispid:#x} with the same kind as line {seen[key].pos.line}")
        seen[key] = m
        if m.dispid in names and names[m.dispid].lower() != m.name.lower():
            raise err_at(m.pos, f"id {m.dispid:#x} of '{m.name}' is already used by '{names[m.dispid]}'")
        names[m.dispid] = m.name
        first = ids.setdefault(m.name.lower(), m)
        if first.dispid != m.dispid:
            raise err_at(m.pos, f"'{m.name}' has id {m.dispid:#x}, but '{first.name}' of line {first.pos.line} "
                                f"has id {first.dispid:#x}: members of one name share one id")
        inputs = [p for p in m.params if not p.has("retval")]
        retvals = [p for p in m.params if p.has("retval")]
        if m.invkind == "propget" and not retvals:
            raise err_at(m.pos, f"property get '{m.name}' needs an [out, retval] parameter")
        if m.invkind in ("propput", "propputref"):
            if retvals:
                raise err_at(m.pos, f"property put '{m.name}' cannot have a retval parameter")
            if not inputs or inputs[-1].has("out") or inputs[-1].has("optional"):
                raise err_at(m.pos, f"property put '{m.name}' needs a required [in] value as its last parameter")


def check_params(lib: Library, m: Method):
    seen_optional = False
    for idx, p in enumerate(m.params):
        r = Resolved(lib, p.type)
        p.resolved = r
        if p.has("lcid"):
            raise err_at(p.pos, "lcid parameters are not supported")
        if not p.has("in") and not p.has("out"):
            p.attrs["in"] = Attr("in", [], p.pos)
        if p.has("out") and r.byref != 1:
            raise err_at(p.pos, f"[out] parameter '{p.name}' must be a pointer")
        if p.has("retval"):
            if not p.has("out"):
                raise err_at(p.pos, f"retval parameter '{p.name}' must also be [out]")
            if idx != len(m.params) - 1:
                raise err_at(p.pos, f"retval parameter '{p.name}' must be the last parameter")
            if p.has("optional") or p.default:
                raise err_at(p.pos, f"retval parameter '{p.name}' cannot be optional")
        elif p.has("optional") or p.default is not None:
            seen_optional = True
            if p.default is not None and not p.has("optional"):
                p.attrs["optional"] = Attr("optional", [], p.pos)
            if p.default is not None:
                check_default(lib, p, r)
            elif r.kind != "base" or r.spec.base != "VARIANT":
                if r.byref != 1:
                    raise err_at(p.pos, f"optional parameter '{p.name}' needs a defaultvalue unless it is a VARIANT "
                                        "or a pointer")
        elif seen_optional and not (m.invkind in ("propput", "propputref") and idx == len(m.params) - 1):
            raise err_at(p.pos, f"required parameter '{p.name}' follows an optional one")
        if r.kind == "record" and r.byref != 1:
            raise err_at(p.pos, f"record parameter '{p.name}' must be passed by pointer")
        if r.kind == "safearray" and r.byref != 1:
            raise err_at(p.pos, f"SAFEARRAY parameter '{p.name}' must be passed by pointer")


def check_default(lib: Library, p: Param, r: Resolved):
    d = p.default
    base = r.spec.base
    if r.kind == "enum" or base in ("short", "long", "unsigned char", "unsigned short", "unsigned long"):
        if d.kind != "int":
            raise err_at(p.pos, f"default of '{p.name}' must be an integer")
    elif base in ("float", "double"):
        if d.kind == "int":
            d.kind, d.value = "real", float(d.value)
        elif d.kind != "real":
            raise err_at(p.pos, f"default of '{p.name}' must be a number")
    elif base == "VARIANT_BOOL":
        if d.kind != "int":
            raise err_at(p.pos, f"default of '{p.name}' must be a boolean value")
    elif base == "BSTR":
        if d.kind != "str":
            raise err_at(p.pos, f"default of '{p.name}' must be a string")
    elif base == "VARIANT":
        pass
    else:
        raise err_at(p.pos, f"parameter '{p.name}' of type '{r.spec.idl()}' cannot have a default value")


def load(path: str) -> Library:
    with open(path, encoding="utf-8") as f:
        text = f.read()
    parser = Parser(path, text)
    lib = parser.parse()
    check_library(lib)
    return lib


def parse_text(path: str, text: str) -> Library:
    lib = Parser(path, text).parse()
    check_library(lib)
    return lib
