"""Tests of the checker: the checked model it builds (resolved types, layouts, ids, implied flags, defaults), the
rules it enforces with file:line:column errors, and that it leaves the parsed declarations as they were."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from idl_checked import CheckedInterface, CheckedRecord  # noqa: E402
from idl_checker import check  # noqa: E402
from idl_lexer import IdlError  # noqa: E402
from idl_parser import parse_text  # noqa: E402

HEAD = "[uuid(00000000-0000-0000-0000-000000000001), version(2.5)]\nlibrary L {\n"
ITF = "[object, uuid(00000000-0000-0000-0000-000000000002), dual, oleautomation]\ninterface IX : IDispatch {\n"
# Declarations the tests' members can use.
TYPES = ("typedef enum Color { Red, Green, Blue = 0x7FFFFFFF, None = -1 } Color;\n"
         "typedef struct R { long a; } R;\n"
         "[object, uuid(00000000-0000-0000-0000-000000000003)] interface IPlain : IUnknown { HRESULT F(); };\n")


def lib_of(body: str):
    return check(parse_text("t.idl", HEAD + body + "\n};\n"))


def itf_of(members: str):
    return lib_of(TYPES + ITF + members + "\n};").find("IX")


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
            ("unsigned char a; VARIANT v; Color c;", 40, [0, 8, 32]),
            ("short a; SAFEARRAY(long) s; IDispatch* d;", 24, [0, 8, 16]),
        ]
        for fields, size, offsets in cases:
            with self.subTest(fields=fields):
                r = lib_of(TYPES + f"typedef struct S {{ {fields} }} S;").find("S")
                self.assertIsInstance(r, CheckedRecord)
                self.assertEqual((r.size, [f.offset for f in r.fields]), (size, offsets))

    def test_a_record_inside_a_record_and_the_types_of_fields(self):
        lib = lib_of(TYPES + "typedef struct _In { short a; double b; } In;\n"
                     "typedef struct Out { short x; In y; Color c; SAFEARRAY(double) s; } Out;")
        out = lib.find("Out")
        self.assertEqual(([f.offset for f in out.fields], out.size, out.align), ([0, 8, 24, 32], 40, 8))
        self.assertEqual([(f.vt, f.type_name) for f in out.fields],
                         [("VT_I2", None), ("VT_RECORD", "In"), ("VT_I4", "Color"), ("VT_ARRAY | VT_R8", None)])
        self.assertEqual(lib.find("In").tag, "_In")


class TypeUseTest(unittest.TestCase):
    def test_parameter_types_resolve_to_their_variant_types(self):
        cases = [
            # (IDL type, kind, variant type, by reference)
            ("long", "base", "VT_I4", 0),
            ("long*", "base", "VT_I4", 1),
            ("unsigned long", "base", "VT_UI4", 0),
            ("VARIANT", "base", "VT_VARIANT", 0),
            ("Color", "enum", "VT_I4", 0),
            ("Color*", "enum", "VT_I4", 1),
            ("R*", "record", "VT_RECORD", 1),
            ("IX*", "interface", "VT_DISPATCH", 0),
            ("IX**", "interface", "VT_DISPATCH", 1),
            ("IPlain*", "interface", "VT_UNKNOWN", 0),
            ("IUnknown**", "interface", "VT_UNKNOWN", 1),
            ("IEnumVARIANT**", "interface", "VT_UNKNOWN", 1),
            ("SAFEARRAY(unsigned char)*", "safearray", "VT_ARRAY | VT_UI1", 1),
            ("SAFEARRAY(IDispatch*)*", "safearray", "VT_ARRAY | VT_DISPATCH", 1),
        ]
        for idl, kind, vt, byref in cases:
            with self.subTest(idl=idl):
                p = itf_of(f"HRESULT M([in] {idl} a);").methods[0].params[0]
                self.assertEqual((p.type.kind, p.type.vt, p.type.byref), (kind, vt, byref))
                if kind == "interface":
                    self.assertEqual(p.type.iid_name, "IID_" + idl.rstrip("*"))

    def test_implied_flags(self):
        (m,) = itf_of("HRESULT M(long a, [out] long* b, [in, optional, defaultvalue(1)] long c, "
                      "[in, optional] VARIANT d, [out, retval] long* e);").methods
        self.assertEqual([sorted(p.flags) for p in m.params],
                         [["in"], ["out"], ["in", "optional"], ["in", "optional"], ["out", "retval"]])
        self.assertEqual((m.retval.name, [p.name for p in m.inputs]), ("e", ["a", "b", "c", "d"]))


class DefaultValueTest(unittest.TestCase):
    def test_every_default_gets_the_variant_type_of_its_parameter(self):
        cases = [
            # (parameter type, literal, variant type, value)
            ("short", "-2", "VT_I2", -2),
            ("long", "0x7FFFFFFF", "VT_I4", 0x7FFFFFFF),
            ("Color", "Blue", "VT_I4", 0x7FFFFFFF),
            ("Color", "None", "VT_I4", -1),
            ("unsigned char", "200", "VT_UI1", 200),
            ("unsigned short", "65535", "VT_UI2", 65535),
            ("unsigned long", "4000000000", "VT_UI4", 4000000000),
            ("float", "1", "VT_R4", 1.0),
            ("double", "2.5", "VT_R8", 2.5),
            ("VARIANT_BOOL", "TRUE", "VT_BOOL", -1),
            ("VARIANT_BOOL", "0", "VT_BOOL", 0),
            ("VARIANT_BOOL", "1", "VT_BOOL", -1),
            # A bit pattern is taken as the value of the type it fits.
            ("short", "0xFFFF", "VT_I2", -1),
            ("long", "0x80000000", "VT_I4", -0x80000000),
            ("unsigned char", "-1", "VT_UI1", 255),
            ("unsigned long", "-2", "VT_UI4", 0xFFFFFFFE),
            ("unsigned long", "0xFFFFFFFF", "VT_UI4", 0xFFFFFFFF),
            ("BSTR", "\"unit\"", "VT_BSTR", "unit"),
            ("VARIANT", "\"text\"", "VT_BSTR", "text"),
            ("VARIANT", "2.5", "VT_R8", 2.5),
            ("VARIANT", "-3", "VT_I4", -3),
            ("long*", "4", "VT_I4", 4),
        ]
        for type_name, literal, vt, value in cases:
            with self.subTest(type=type_name, literal=literal):
                (m,) = itf_of(f"HRESULT M([in, optional, defaultvalue({literal})] {type_name} a);").methods
                d = m.params[0].default
                self.assertEqual((d.vt, d.value), (vt, value))
                self.assertIs(type(d.value), type(value))

    def test_integer_defaults_must_fit_their_parameter(self):
        cases = [
            ("short", "65536", 16),
            ("short", "-32769", 16),
            ("unsigned char", "256", 8),
            ("unsigned short", "0x10000", 16),
            ("long", "0x100000000", 32),
            ("unsigned long", "4294967296", 32),
            ("Color", "0x100000000", 32),
            ("VARIANT", "-2147483649", 32),
        ]
        for type_name, literal, bits in cases:
            with self.subTest(type=type_name, literal=literal):
                with self.assertRaises(IdlError) as e:
                    itf_of(f"HRESULT M([in, optional, defaultvalue({literal})] {type_name} a);")
                self.assertRegex(str(e.exception), fr"^t\.idl:8:\d+: error: default {literal} of 'a' does not fit in "
                                                   fr"{bits} bits$")


class RuleTest(unittest.TestCase):
    def test_ids_are_assigned_per_name_past_the_ids_in_use(self):
        itf = itf_of("[propget] HRESULT P([out, retval] long* v);\n[propput] HRESULT P([in] long v);\n"
                     "[id(0x60020000)] HRESULT M();\nHRESULT N();")
        self.assertEqual([(m.name, m.invkind, m.dispid) for m in itf.methods],
                         [("P", "propget", 0x60020001), ("P", "propput", 0x60020001),
                          ("M", "method", 0x60020000), ("N", "method", 0x60020002)])

    def test_a_derived_interface_inherits_members_and_their_ids(self):
        # The derived interface comes first in the file: its base is checked when it is needed.
        lib = lib_of("[object, uuid(00000000-0000-0000-0000-000000000004), dual] interface IDerived : IX {\n"
                     "HRESULT Own();\n};\n" + ITF + "HRESULT Base();\n[id(0x60020001)] HRESULT Fixed();\n};")
        derived = lib.find("IDerived")
        self.assertIsInstance(derived, CheckedInterface)
        self.assertTrue(derived.dispatchable)
        self.assertEqual([(m.name, m.dispid) for m in derived.all_methods],
                         [("Base", 0x60020000), ("Fixed", 0x60020001), ("Own", 0x60020002)])
        self.assertEqual([m.name for m in derived.methods], ["Own"])

    def test_an_empty_event_interface_as_the_default_source_of_a_class(self):
        lib = lib_of(TYPES + ITF + "};\n"
                     "[uuid(00000000-0000-0000-0000-000000000008)] dispinterface _Events { properties: methods: };\n"
                     "[uuid(00000000-0000-0000-0000-000000000009)] coclass C { [default] interface IX; "
                     "[default, source] dispinterface _Events; };")
        events = lib.find("_Events")
        self.assertEqual((events.properties, events.methods, events.dispatchable), ((), (), True))
        self.assertEqual([(i.name, sorted(i.attrs)) for i in lib.find("C").items],
                         [("IX", ["default"]), ("_Events", ["default", "source"])])

    def test_signature_mistakes(self):
        cases = [
            ("HRESULT M([in] long a, [in, optional, defaultvalue(1)] long b, [in] long c);",
             "t.idl:8:74: error: required parameter 'c' follows an optional one"),
            ("[propput] HRESULT P();", "t.idl:8:19: error: property put 'P' needs a required [in] value"),
            ("[propput] HRESULT P([in] long a, [in, optional] VARIANT v);",
             "t.idl:8:19: error: property put 'P' needs a required [in] value"),
            ("[propget] HRESULT P([in] long i);", "t.idl:8:19: error: property get 'P' needs an [out, retval] parameter"),
            ("[propput] HRESULT P([in] long a, [out, retval] long* v);",
             "t.idl:8:19: error: property put 'P' cannot have a retval parameter"),
            ("HRESULT M([out] long a);", "t.idl:8:22: error: [out] parameter 'a' must be a pointer"),
            ("HRESULT M([retval] long* a);", "t.idl:8:26: error: retval parameter 'a' must also be [out]"),
            ("HRESULT M([out, retval] long* a, [in] long b);",
             "t.idl:8:31: error: retval parameter 'a' must be the last parameter"),
            ("HRESULT M([in, optional] long a);", "t.idl:8:31: error: optional parameter 'a' needs a defaultvalue"),
            ("HRESULT M([in, optional, defaultvalue(\"s\")] long a);", "t.idl:8:50: error: default of 'a' must be an "
                                                                      "integer"),
            ("HRESULT M([in, optional, defaultvalue(1)] BSTR a);", "t.idl:8:48: error: default of 'a' must be a string"),
            ("HRESULT M([in, optional, defaultvalue(1)] IX* a);",
             "t.idl:8:47: error: parameter 'a' of type 'IX*' cannot have a default value"),
            ("HRESULT M([in, lcid] long a);", "t.idl:8:27: error: lcid parameters are not supported"),
            ("HRESULT M([in] R a);", "t.idl:8:18: error: record parameter 'a' must be passed by pointer"),
            ("HRESULT M([in] SAFEARRAY(long) a);", "t.idl:8:32: error: SAFEARRAY parameter 'a' must be passed by pointer"),
            ("HRESULT M([in] SAFEARRAY(long*)* a);", "t.idl:8:16: error: a SAFEARRAY element must be a plain type"),
            ("HRESULT M([in] long** a);", "t.idl:8:16: error: type 'long**' has too many or too few '*'"),
            ("long M();", "t.idl:8:1: error: member 'M' of interface 'IX' must return HRESULT"),
            ("HRESULT M([in] IDispatch d);", "t.idl:8:16: error: 'IDispatch' is used through a pointer: expected "
                                            "'IDispatch*'"),
            ("HRESULT M([in] IPlain d);", "t.idl:8:16: error: interface 'IPlain' is used through a pointer"),
            ("HRESULT M([in] Widget* w);", "t.idl:8:16: error: unknown type 'Widget'"),
            ("[id(5)] HRESULT A();\n[id(5)] HRESULT B();", "t.idl:9:17: error: 'B' repeats id 0x5 with the same kind as "
                                                           "line 8"),
            ("[id(5), propget] HRESULT A([out, retval] long* v);\n[id(5)] HRESULT B();",
             "t.idl:9:17: error: id 0x5 of 'B' is already used by 'A'"),
            ("[id(1), propget] HRESULT P([out, retval] long* v);\n[id(2), propput] HRESULT P([in] long v);",
             "t.idl:9:26: error: 'P' has id 0x2, but 'P' of line 8 has id 0x1: members of one name share one id"),
            ("[id(1)] HRESULT Run();\n[id(3)] HRESULT run();", "'run' has id 0x3, but 'Run' of line 8 has id 0x1"),
            ("HRESULT Run();\nHRESULT RUN();", "t.idl:9:9: error: 'RUN' has id 0x60020001, but 'Run' of line 8"),
        ]
        for members, message in cases:
            with self.subTest(members=members):
                with self.assertRaises(IdlError) as e:
                    itf_of(members)
                self.assertRegex(str(e.exception), r"^t\.idl:\d+:\d+: error: ")
                self.assertIn(message, str(e.exception))

    def test_type_mistakes(self):
        cases = [
            ("[object, uuid(00000000-0000-0000-0000-000000000004)] interface IA : IB { };\n"
             "[object, uuid(00000000-0000-0000-0000-000000000005)] interface IB : IA { };",
             "t.idl:3:64: error: interface 'IA' derives from itself"),
            ("[object, uuid(00000000-0000-0000-0000-000000000004)] interface IA : INone { };",
             "t.idl:3:64: error: unknown base interface 'INone'"),
            ("[object, uuid(00000000-0000-0000-0000-000000000004), dual] interface IA : IUnknown { };",
             "t.idl:3:70: error: dual interface 'IA' must derive from IDispatch"),
            ("typedef struct S { long a; S b; } S;", "t.idl:3:35: error: record 'S' contains itself"),
            ("typedef struct S { long a; Thing b; } S;", "t.idl:3:28: error: unknown type 'Thing'"),
            (TYPES + "typedef struct S { IPlain b; } S;", "t.idl:6:20: error: field 'b' cannot have type 'IPlain'"),
            (TYPES + "[uuid(00000000-0000-0000-0000-000000000006)] coclass C { interface INone; };",
             "t.idl:6:68: error: unknown interface 'INone'"),
            (TYPES + "[uuid(00000000-0000-0000-0000-000000000006)] coclass C { interface Color; };",
             "t.idl:6:68: error: 'Color' is not an interface"),
            (TYPES + "[uuid(00000000-0000-0000-0000-000000000006)] coclass C { [default] interface IPlain; "
                     "[default] interface IUnknown; };",
             "t.idl:6:54: error: coclass 'C' has more than one default interface of a kind"),
            ("[uuid(00000000-0000-0000-0000-000000000007)] dispinterface D { properties: [id(1)] long A; "
             "methods: [id(1)] void B(); };", "t.idl:3:114: error: id 0x1 is already used by 'A'"),
        ]
        for body, message in cases:
            with self.subTest(body=body):
                with self.assertRaises(IdlError) as e:
                    lib_of(body)
                self.assertEqual(str(e.exception), message)


class ParsedModelTest(unittest.TestCase):
    def test_checking_leaves_the_parsed_declarations_as_they_were(self):
        parsed = parse_text("t.idl", HEAD + TYPES + ITF + "[propget] HRESULT P([out, retval] long* v);\n"
                            "HRESULT M(long a, [optional, defaultvalue(2)] double b);\n};\n};\n")
        before = repr(parsed)
        checked = check(parsed)
        self.assertEqual(repr(parsed), before)
        itf = parsed.find("IX")
        self.assertIsNone(itf.methods[0].dispid)  # assigned in the checked model only
        self.assertEqual(checked.find("IX").methods[0].dispid, 0x60020000)
        self.assertNotIn("in", itf.methods[1].params[0].attrs)  # implied in the checked model only
        self.assertIs(checked.find("IX").methods[1].decl, itf.methods[1])


if __name__ == "__main__":
    unittest.main()
