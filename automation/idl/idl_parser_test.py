"""Tests of the lexer and parser: the declarations they produce from IDL text, and the syntax errors they report
with file, line and column."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from idl_lexer import IdlError, tokenize  # noqa: E402
from idl_parsed import CoClass, DispInterface, Enum, Interface, Record  # noqa: E402
from idl_parser import parse_text  # noqa: E402

HEAD = "[uuid(00000000-0000-0000-0000-000000000001), version(2.5), helpstring(\"lib\")]\nlibrary L {\n"
ITF = "[object, uuid(00000000-0000-0000-0000-000000000002), dual, oleautomation]\ninterface IX : IDispatch {\n"


def lib_of(body: str, before: str = ""):
    return parse_text("t.idl", before + HEAD + body + "\n};\n")


def methods_of(members: str):
    return lib_of(ITF + members + "\n};").find("IX").methods


class LexerTest(unittest.TestCase):
    def test_tokens_and_their_positions(self):
        toks = tokenize("t.idl", "// note\n[uuid(6A3C1F20-5B7D-4E2A-9C11-2F0B7D1E4A01)] /* x\n */ \"a\\\"b\" 0x1Fu 1.5e3 << -x")
        got = [(t.kind, t.text, t.line, t.col) for t in toks]
        self.assertEqual(got, [
            ("punct", "[", 2, 1), ("id", "uuid", 2, 2), ("punct", "(", 2, 6),
            ("guid", "6A3C1F20-5B7D-4E2A-9C11-2F0B7D1E4A01", 2, 7), ("punct", ")", 2, 43), ("punct", "]", 2, 44),
            ("str", 'a"b', 3, 5), ("num", "0x1Fu", 3, 12), ("num", "1.5e3", 3, 18), ("punct", "<<", 3, 24),
            ("punct", "-", 3, 27), ("id", "x", 3, 28), ("eof", "", 3, 29)])

    def test_lexical_errors(self):
        cases = [
            ("/* open", "t.idl:1:1: error: unterminated comment: expected '*/'"),
            ('x "open\n"', "t.idl:1:3: error: unterminated string: expected '\"'"),
            ('"\\q"', "t.idl:1:2: error: unknown escape sequence '\\q'"),
            ("a @ b", "t.idl:1:3: error: unexpected character '@'"),
        ]
        for text, message in cases:
            with self.subTest(text=text):
                with self.assertRaises(IdlError) as e:
                    tokenize("t.idl", text)
                self.assertEqual(str(e.exception), message)


class DeclarationTest(unittest.TestCase):
    def test_enumeration_values_and_expressions(self):
        e = lib_of("typedef [uuid(00000000-0000-0000-0000-000000000003)] enum _E { A, B, C = 0x10, D, E1 = -1, "
                   "F = 1 << 3, G = F | A | 4, H = 0xFFFFFFFF, I = C + 1, J = (2 - 5) } E;").find("E")
        self.assertIsInstance(e, Enum)
        self.assertEqual(e.tag, "_E")
        self.assertEqual({v.name: v.value for v in e.values},
                         {"A": 0, "B": 1, "C": 16, "D": 17, "E1": -1, "F": 8, "G": 12, "H": -1, "I": 17, "J": -3})
        self.assertEqual(e.uuid, "00000000-0000-0000-0000-000000000003")

    def test_ids_are_as_written_or_none(self):
        ms = methods_of("[id(-4), propget] HRESULT _NewEnum([out, retval] IUnknown** v);\n"
                        "[id(0x80010000)] HRESULT Big();\n[propput] HRESULT P([in] long v);")
        self.assertEqual([(m.name, m.invkind, m.dispid) for m in ms],
                         [("_NewEnum", "propget", -4), ("Big", "method", -0x7FFF0000), ("P", "propput", None)])

    def test_parameters_keep_what_was_written(self):
        (m,) = methods_of("HRESULT M([in, optional, defaultvalue(2)] double a, [in, optional, defaultvalue(-1)] "
                          "VARIANT_BOOL b, [in, optional, defaultvalue(\"x\\\"y\")] BSTR c, long d, "
                          "[in, out, optional, defaultvalue(TRUE)] VARIANT_BOOL* e, [in, optional, defaultvalue(1.5e1)]"
                          " float f, [in, optional, defaultvalue(1 << 4)] unsigned short g, "
                          "[in, out] SAFEARRAY(unsigned char)* h);")
        got = [(p.name, p.type.idl(), sorted(p.attrs), p.default and (p.default.kind, p.default.value, p.default.idl))
               for p in m.params]
        self.assertEqual(got, [
            ("a", "double", ["defaultvalue", "in", "optional"], ("int", 2, "2")),
            ("b", "VARIANT_BOOL", ["defaultvalue", "in", "optional"], ("int", -1, "-1")),
            ("c", "BSTR", ["defaultvalue", "in", "optional"], ("str", 'x"y', '"x\\"y"')),
            ("d", "long", [], None),  # [in] is the checker's to imply
            ("e", "VARIANT_BOOL*", ["defaultvalue", "in", "optional", "out"], ("int", -1, "TRUE")),
            ("f", "float", ["defaultvalue", "in", "optional"], ("real", 15.0, "1.5e1")),
            ("g", "unsigned short", ["defaultvalue", "in", "optional"], ("int", 16, "1 << 4")),
            ("h", "SAFEARRAY(unsigned char)*", ["in", "out"], None),
        ])

    def test_every_kind_of_declaration(self):
        lib = lib_of("importlib(\"stdole2.tlb\");\n"
                     "typedef struct R { long a; short b[3]; } R;\n"
                     "interface IX;\n" + ITF + "};\n"
                     "[uuid(00000000-0000-0000-0000-000000000004)] dispinterface _Ev { properties: [id(1), readonly] "
                     "long N; methods: [id(2)] void Fired([in] long What); };\n"
                     "[uuid(00000000-0000-0000-0000-000000000005), noncreatable] coclass C { [default] interface IX; "
                     "[default, source] dispinterface _Ev; };",
                     before="typedef [uuid(00000000-0000-0000-0000-000000000006)] enum Early { EA } Early;\n")
        self.assertEqual([(type(t).__name__, t.name) for t in lib.types],
                         [("Enum", "Early"), ("Record", "R"), ("Interface", "IX"), ("DispInterface", "_Ev"),
                          ("CoClass", "C")])
        self.assertEqual((lib.name, lib.version, lib.helpstring, lib.importlibs), ("L", (2, 5), "lib", ("stdole2.tlb",)))
        r = lib.find("R")
        self.assertIsInstance(r, Record)
        self.assertEqual([(f.name, f.type.idl(), f.count) for f in r.fields], [("a", "long", 0), ("b", "short", 3)])
        ev = lib.find("_Ev")
        self.assertIsInstance(ev, DispInterface)
        self.assertEqual([(p.name, p.dispid, sorted(p.attrs)) for p in ev.properties], [("N", 1, ["id", "readonly"])])
        self.assertEqual([(m.name, m.dispid, m.ret.idl()) for m in ev.methods], [("Fired", 2, "void")])
        c = lib.find("C")
        self.assertIsInstance(c, CoClass)
        self.assertEqual([(i.name, i.is_dispinterface, sorted(i.attrs)) for i in c.items],
                         [("IX", False, ["default"]), ("_Ev", True, ["default", "source"])])
        self.assertIsInstance(lib.find("IX"), Interface)
        self.assertEqual(lib.find("IX").base, "IDispatch")


class SyntaxErrorTest(unittest.TestCase):
    def test_mistakes_name_file_line_column_and_what_was_expected(self):
        cases = [
            (ITF + "HRESULT Foo([in] long x)\n};", "t.idl:6:1: error: expected ';', found '}'"),
            ("typedef enum E { A = 1, B = } E;", "t.idl:3:29: error: expected a value after '=', found '}'"),
            ("[object, uuid(1234)] interface IX : IDispatch {};", "t.idl:3:10: error: expected a GUID"),
            ("[object, uuid(00000000-0000-0000-0000-000000000002), colour] interface IX : IDispatch {};",
             "t.idl:3:54: error: attribute 'colour' is not allowed here"),
            ("[object, uuid(00000000-0000-0000-0000-000000000002), dual, dual] interface IX : IDispatch {};",
             "t.idl:3:60: error: attribute 'dual' given twice"),
            ("typedef struct R { long a; short b[0]; } R;", "t.idl:3:36: error: an array length must be at least 1"),
            ("typedef struct R { long a; long a; } R;", "t.idl:3:33: error: field 'a' is already defined"),
            ("typedef enum E { A } E;\ntypedef enum F { A } F;", "t.idl:4:18: error: constant 'A' is already defined"),
            ("typedef enum E { A = B } E;", "t.idl:3:22: error: unknown constant 'B'"),
            ("typedef enum E { A = 0x100000000 } E;", "t.idl:3:18: error: value of 'A' does not fit in 32 bits"),
            ("typedef enum E { } E;", "t.idl:3:20: error: enumeration 'E' has no constants"),
            ("[uuid(00000000-0000-0000-0000-000000000002)] typedef enum E { A } E;",
             "t.idl:3:1: error: attributes go after 'typedef', not before it"),
            (ITF + "HRESULT M([in] long a, [in] long A);\n};", "t.idl:5:34: error: parameter 'A' is already defined"),
            (ITF + "HRESULT M([in] unsigned int a);\n};", "t.idl:5:16: error: unsupported type 'unsigned int'"),
            (ITF + "[id(0x100000000)] HRESULT M();\n};", "t.idl:5:2: error: id does not fit in 32 bits"),
            ("[uuid(00000000-0000-0000-0000-000000000004)] dispinterface D { properties: methods: void F(); };",
             "t.idl:3:90: error: method 'F' of a dispinterface needs an id attribute"),
            ("[object] interface IX : IDispatch {};", "t.idl:3:10: error: interface 'IX' needs a uuid attribute"),
            ("struct S;", "t.idl:3:1: error: expected 'library', 'interface', 'dispinterface', 'coclass', 'typedef' or"
                          " 'importlib', found 'struct'"),
            ("coclass;", "t.idl:3:8: error: expected the coclass name, found ';'"),
            ("typedef enum E { A } E;\ntypedef struct E { long a; } E;", "t.idl:4:30: error: 'E' is already defined at "
                                                                         "line 3"),
            ("[uuid(00000000-0000-0000-0000-000000000003)] library M {};",
             "t.idl:3:46: error: a library block cannot be nested"),
            # Nesting and shifts that would exhaust the generator's stack or memory are mistakes like others.
            ("typedef enum E { A = " + "-" * 65 + "1 } E;",
             "t.idl:3:86: error: constant expression nested deeper than 64 levels"),
            ("typedef enum E { A = " + "(" * 2000 + "1" + ")" * 2000 + " } E;",
             "t.idl:3:86: error: constant expression nested deeper than 64 levels"),
            ("typedef enum E { A = 1 << -1 } E;", "t.idl:3:24: error: a shift count must be 0 to 63"),
            ("typedef enum E { A = 1 << 99999999999 } E;", "t.idl:3:24: error: a shift count must be 0 to 63"),
            (ITF + "HRESULT M([in] " + "SAFEARRAY(" * 1000 + "long" + ")" * 1000 + "* a);\n};",
             "t.idl:5:656: error: SAFEARRAY types nested deeper than 64 levels"),
        ]
        for body, message in cases:
            with self.subTest(body=body):
                with self.assertRaises(IdlError) as e:
                    lib_of(body)
                self.assertTrue(str(e.exception).startswith(message), str(e.exception))

    def test_a_file_needs_one_library(self):
        with self.assertRaises(IdlError) as e:
            parse_text("t.idl", "import \"oaidl.idl\";\n")
        self.assertEqual(str(e.exception), "t.idl:1:1: error: expected a 'library' block in the file")
        with self.assertRaises(IdlError) as e:
            parse_text("t.idl", HEAD + "};\n" + HEAD + "};\n")
        self.assertEqual(str(e.exception), "t.idl:5:1: error: only one library block is allowed per file")


if __name__ == "__main__":
    unittest.main()
