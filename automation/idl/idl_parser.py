"""Parser of the interface definition language subset the system uses: an IDL file becomes the declarations of
idl_parsed, as written. Syntax errors, and what can only be judged while reading (unknown attributes, constants
defined twice, values of enumeration constants and ids), are reported as file:line:column: error: message with
what was expected.
"""

import re
from typing import Dict, List, Optional

from idl_lexer import IdlError, Token, string_literal, tokenize
from idl_parsed import (Attr, CoClass, CoClassItem, Default, DispInterface, Enum, EnumValue, Field, Interface, Library,
                        Method, Param, Pos, Property, Record, TypeDecl, TypeSpec, frozen_attrs)

# The unsigned base types; "unsigned" followed by anything else is refused.
_UNSIGNED_TYPES = {"unsigned char", "unsigned short", "unsigned long"}
# The deepest nesting of parentheses and signs in a constant expression, and of SAFEARRAY types.
MAX_NESTING = 64

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
        self.in_library: Optional[List[TypeDecl]] = None  # the types of the library block being read
        self.importlibs: List[str] = []
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

    def after_attributes(self) -> Token:
        """The token after the attribute list that starts here, without reading it (this token when there is
        none): the keyword that says what the attributes belong to."""
        j = self.i
        if not self.at("["):
            return self.tok
        depth = 0
        while self.toks[j].kind != "eof":
            t = self.toks[j]
            j += 1
            if t.kind == "punct" and t.text == "[":
                depth += 1
            elif t.kind == "punct" and t.text == "]":
                depth -= 1
                if depth == 0:
                    break
        return self.toks[j]

    # -- attributes
    def attributes(self, context: str):
        attrs: Dict[str, Attr] = {}
        if not self.at("["):
            return frozen_attrs(attrs)
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
            attrs[name] = Attr(name, tuple(args), self.pos(name_tok))
            self.check_attr(attrs[name])
            if self.accept("]"):
                return frozen_attrs(attrs)
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

        depth = 0

        def nested(t: Token):
            # Parentheses and signs nest by recursion: deeper than anyone writes is refused, not a crash.
            nonlocal depth
            depth += 1
            if depth > MAX_NESTING:
                raise self.error(f"constant expression nested deeper than {MAX_NESTING} levels", t)

        def primary() -> int:
            nonlocal p, depth
            t = peek()
            if t is None:
                raise self.error("expected a constant expression", where)
            if t.text == "(":
                p += 1
                nested(t)
                v = bitor()
                depth -= 1
                if peek() is None or peek().text != ")":
                    raise self.error("expected ')' in constant expression", t)
                p += 1
                return v
            if t.text in ("-", "+", "~"):
                p += 1
                nested(t)
                v = primary()
                depth -= 1
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
                op = peek()
                p += 1
                count = additive()
                if not 0 <= count < 64:
                    raise self.error("a shift count must be 0 to 63", op)
                v = v << count
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
    def type_spec(self, depth: int = 0) -> TypeSpec:
        t = self.tok
        if self.accept("unsigned"):
            base = "unsigned " + self.ident("'char', 'short' or 'long' after 'unsigned'").text
            if base not in _UNSIGNED_TYPES:
                raise self.error(f"unsupported type '{base}'", t)
        elif self.accept("SAFEARRAY"):
            if depth >= MAX_NESTING:
                raise self.error(f"SAFEARRAY types nested deeper than {MAX_NESTING} levels", t)
            self.expect("(")
            elem = self.type_spec(depth + 1)
            self.expect(")")
            return TypeSpec("SAFEARRAY", self.pointers(), elem, self.pos(t))
        elif self.accept("struct") or self.accept("enum"):
            base = self.ident("a type name").text
        else:
            if self.tok.kind != "id":
                raise self.expected("a type")
            base = self.tok.text
            self.i += 1
        return TypeSpec(base, self.pointers(), None, self.pos(t))

    def pointers(self) -> int:
        count = 0
        while self.accept("*"):
            count += 1
        return count

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
            self.importlibs.append(self.tok.text)
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
        kw = self.after_attributes()
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
            if self.library is not None or self.in_library is not None:
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
        known = (list(self.library.types) if self.library else []) + (self.in_library or []) + self.loose
        existing = [t for t in known if t.name == decl.name]
        if existing:
            p = existing[0].pos
            raise IdlError(decl.pos.path, decl.pos.line, decl.pos.col,
                           f"'{decl.name}' is already defined at line {p.line}")
        (self.in_library if in_library else self.loose).append(decl)

    def library_block(self, attrs, kw_tok):
        name = self.ident("the library name")
        if "uuid" not in attrs:
            raise self.error("a library needs a uuid attribute", kw_tok)
        # Types declared before the library block become part of it.
        self.in_library = self.loose
        self.loose = []
        self.expect("{")
        while not self.at("}"):
            if self.tok.kind == "eof":
                raise self.expected("'}' to close the library block")
            self.top_item(in_library=True)
        self.expect("}")
        self.accept(";")
        self.library = Library(name.text, attrs, self.pos(name), importlibs=tuple(self.importlibs),
                               types=tuple(self.in_library))
        self.in_library = None

    def typedef(self) -> TypeDecl:
        self.expect("typedef")
        t = self.tok
        if self.at("[") or self.at("enum") or self.at("struct"):
            kw = self.after_attributes()
            kind = kw.text
            if kind not in ("enum", "struct"):
                raise self.error(f"expected 'enum' or 'struct' after typedef attributes, found "
                                 f"{self.describe(kw)}", kw)
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
        if not values:
            raise self.error(f"enumeration '{name.text}' has no constants", name)
        return Enum(name.text, attrs, self.pos(name), tag=tag, values=tuple(values))

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
        return Record(name.text, attrs, self.pos(name), tag=tag, fields=tuple(fields))

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
        return Interface(name.text, attrs, self.pos(name), base=base, methods=tuple(methods))

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
        return Method(name.text, ret, tuple(params), attrs, dispid, self.pos(name), hs)

    def default_value(self, a: Attr) -> Default:
        where = Token("id", a.name, a.pos.line, a.pos.col)
        toks = a.args
        if len(toks) == 1 and toks[0].kind == "str":
            return Default(string_literal(toks[0].text), "str", toks[0].text)
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
        return DispInterface(name.text, attrs, self.pos(name), properties=tuple(props), methods=tuple(methods))

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
        return CoClass(name.text, attrs, self.pos(name), items=tuple(items))


def parse_int(text: str, err) -> int:
    t = text.rstrip("uUlL")
    try:
        return int(t, 16) if t.lower().startswith("0x") else int(t, 10)
    except ValueError:
        raise err(f"expected an integer, found '{text}'")


def parse_text(path: str, text: str) -> Library:
    """The library declared in `text` (read from `path`, which error messages name)."""
    return Parser(path, text).parse()


def parse_file(path: str) -> Library:
    with open(path, encoding="utf-8") as f:
        return parse_text(path, f.read())
