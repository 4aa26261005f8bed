"""Tests of the IDL parser and checks: what the generator relies on about layouts, values and ids."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from idl_codegen import Generator  # noqa: E402
from idl_model import IdlError, Interface, Record, parse_text, record_layout  # noqa: E402

HEAD = "[uuid(00000000-0000-0000-0000-000000000001), version(2.5), helpstring(\"lib\")]\nlibrary L {\n"
ITF = "[object, uuid(00000000-0000-0000-0000-000000000002), dual, oleautomation]\ninterface IX : IDispatch {\n"


def lib_of(body: str):
    return parse_text("t.idl", HEAD + body + "\n};\n")


def itf_of(members: str):
    return lib_of(ITF + members + "\n};").find("IX")


class RecordLayoutTest(unittest.TestCase):
    def test_layouts_follow_natural_alignment(self):
        cases = [
            # (fields, size, offsets)
            ("long a; long b; long c; short d; short e; short f; short g; short h; short i; short j; short k;",
             28, [0, 4, 8, 12, 14, 16, 18, 20, 22, 24, 26]),
            ("double v[2]; VARIANT_BOOL on; BSTR label;", 32, [0, 16, 24]),
            ("short a; double b;", 16, [0, 8]),
            ("unsigned char a; short b; unsigned char c;", 6, [0, 2, 4]),
            ("long a[2]; short b[2];", 12, [0, 8]),
        ]
        for fields, size, offsets in cases:
            with self.subTest(fields=fields):
                lib = lib_of(f"typedef struct R {{ {fields} }} R;")
                r = lib.find("R")
                self.assertIsInstance(r, Record)
                got_offsets, got_size, _ = record_layout(lib, r)
                self.assertEqual(got_size, size)
                self.assertEqual(got_offsets, offsets)

    def test_a_record_inside_a_record_and_a_tag(self):
        lib = lib_of("typedef struct _In { short a; double b; } In;\n"
                     "typedef struct Out { char_placeholder; } Out;".replace("char_placeholder", "short x; In y"))
        offsets, size, align = record_layout(lib, lib.find("Out"))
        self.assertEqual((offsets, size, align), ([0, 8], 24, 8))
        self.assertEqual(lib.find("In").tag, "_In")


class EnumTest(unittest.TestCase):
    def test_values_and_expressions(self):
        lib = lib_of("typedef enum E { A, B, C = 0x10, D, E1 = -1, F = 1 << 3, G = F | A | 4, H = 65535, "
                     "I = C + 1 } E;")
        values = {v.name: v.value for v in lib.find("E").values}
        self.assertEqual(values, {"A": 0, "B": 1, "C": 16, "D": 17, "E1": -1, "F": 8, "G": 12, "H": 65535, "I": 17})

    def test_constants_are_unique_across_the_library(self):
        with self.assertRaises(IdlError) as e:
            lib_of("typedef enum E { A } E;\ntypedef enum F { A } F;")
        self.assertIn("constant 'A' is already defined", str(e.exception))


class MemberTest(unittest.TestCase):
    def test_missing_ids_are_assigned_per_name(self):
        itf = itf_of("[propget] HRESULT P([out, retval] long* v);\n[propput] HRESULT P([in] long v);\n"
                     "[id(0x60020000)] HRESULT M();\nHRESULT N();")
        ids = [(m.name, m.invkind, m.dispid) for m in itf.methods]
        self.assertEqual(ids, [("P", "propget", 0x60020001), ("P", "propput", 0x60020001),
                               ("M", "method", 0x60020000), ("N", "method", 0x60020002)])

    def test_negative_and_hex_ids(self):
        itf = itf_of("[id(-4), propget] HRESULT _NewEnum([out, retval] IUnknown** v);\n"
                     "[id(-514), propget] HRESULT Enabled([out, retval] VARIANT_BOOL* v);\n"
                     "[id(0x22), propget] HRESULT R([out, retval] IDispatch** v);")
        self.assertEqual([m.dispid for m in itf.methods], [-4, -514, 0x22])

    def test_defaults_of_every_kind(self):
        itf = itf_of("HRESULT M([in, optional, defaultvalue(2)] double a, [in, optional, defaultvalue(-1)] "
                     "VARIANT_BOOL b, [in, optional, defaultvalue(\"x\\\"y\")] BSTR c, [in, optional] VARIANT d, "
                     "[out, optional] long* e, [in, out, optional, defaultvalue(0)] VARIANT_BOOL* f);")
        p = itf.methods[0].params
        self.assertEqual((p[0].default.kind, p[0].default.value), ("real", 2.0))
        self.assertEqual(p[1].default.value, -1)
        self.assertEqual(p[2].default.value, 'x"y')
        self.assertIsNone(p[3].default)
        self.assertTrue(p[4].has("optional"))
        self.assertEqual(p[5].default.value, 0)

    def test_signature_mistakes(self):
        cases = [
            ("HRESULT M([in] long a, [in, optional, defaultvalue(1)] long b, [in] long c);",
             "required parameter 'c' follows an optional one"),
            ("[propput] HRESULT P();", "property put 'P' needs a required [in] value"),
            ("[propget] HRESULT P([in] long i);", "property get 'P' needs an [out, retval] parameter"),
            ("HRESULT M([out] long a);", "[out] parameter 'a' must be a pointer"),
            ("HRESULT M([in, optional, defaultvalue(\"s\")] long a);", "default of 'a' must be an integer"),
            ("long M();", "must return HRESULT"),
            ("HRESULT M([in] IDispatch d);", "expected 'IDispatch*'"),
            ("[id(5)] HRESULT A();\n[id(5)] HRESULT B();", "'B' repeats id 0x5 with the same kind as line 5"),
            ("[id(5), propget] HRESULT A([out, retval] long* v);\n[id(5)] HRESULT B();",
             "id 0x5 of 'B' is already used by 'A'"),
            ("HRESULT M([in] long a, [in] long A);", "parameter 'A' is already defined"),
            ("[id(1), propget] HRESULT P([out, retval] long* v);\n[id(2), propput] HRESULT P([in] long v);",
             "'P' has id 0x2, but 'P' of line 5 has id 0x1: members of one name share one id"),
            ("[id(1)] HRESULT Run();\n[id(3)] HRESULT run();", "'run' has id 0x3, but 'Run' of line 5 has id 0x1"),
            ("HRESULT Run();\nHRESULT RUN();", "members of one name share one id"),
        ]
        for members, message in cases:
            with self.subTest(members=members):
                with self.assertRaises(IdlError) as e:
                    itf_of(members)
                self.assertIn(message, str(e.exception))
                self.assertRegex(str(e.exception), r"^t\.idl:\d+:\d+: error: ")


class GeneratorTest(unittest.TestCase):
    def test_glue_declarations_and_wrappers(self):
        lib = lib_of(ITF + "[id(1), propget] HRESULT Level([in] long Output, [out, retval] double* v);\n"
                     "[id(1), propput] HRESULT Level([in] long Output, [in] double v);\n"
                     "[id(2)] HRESULT Get([in, out] SAFEARRAY(unsigned char)* a, [out, optional] long* n);\n};\n"
                     "[uuid(00000000-0000-0000-0000-000000000003)] coclass C { [default] interface IX; };")
        gen = Generator(lib, "t.idl")
        header, source = gen.header(), gen.source("t_idl.h")
        self.assertIn("STDMETHOD(get_Level)(LONG Output, DOUBLE* v) = 0;", header)
        self.assertIn("STDMETHOD(put_Level)(LONG Output, DOUBLE v) = 0;", header)
        self.assertIn("STDMETHOD(Get)(SAFEARRAY** a, LONG* n) = 0;", header)
        self.assertIn("void Get(SAFEARRAY** a, LONG* n = nullptr) const;", header)
        self.assertIn("inline constexpr CLSID CLSID_C = {0x00000000, 0x0000, 0x0000, "
                      "{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03}};", header)
        self.assertIn("static_cast<IX*>(self)->put_Level(*static_cast<LONG*>(args[0]), "
                      "*static_cast<DOUBLE*>(args[1]));", source)
        self.assertIn('{"a", {VT_ARRAY | VT_UI1, 1, "SAFEARRAY(unsigned char)*", nullptr, nullptr}, '
                      "PARAMFLAG_FIN | PARAMFLAG_FOUT, {}}", source)
        self.assertIn('"L", {0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}}, 2, 5',
                      source)


if __name__ == "__main__":
    unittest.main()
