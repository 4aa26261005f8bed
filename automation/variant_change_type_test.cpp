#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "automation/automation.h"
#include "automation/testing/fake_dispatch.h"

namespace pgx::auto_ {
namespace {

using testing::FakeDispatch;

Variant Of(VARTYPE vt, auto value) {
  Variant v;
  v.vt = vt;
  switch (vt) {
    case VT_I1:
      v.cVal = static_cast<CHAR>(value);
      break;
    case VT_UI1:
      v.bVal = static_cast<BYTE>(value);
      break;
    case VT_I2:
      v.iVal = static_cast<SHORT>(value);
      break;
    case VT_UI2:
      v.uiVal = static_cast<USHORT>(value);
      break;
    case VT_I4:
    case VT_INT:
      v.lVal = static_cast<LONG>(value);
      break;
    case VT_UI4:
    case VT_UINT:
      v.ulVal = static_cast<ULONG>(value);
      break;
    case VT_R4:
      v.fltVal = static_cast<float>(value);
      break;
    case VT_R8:
      v.dblVal = static_cast<double>(value);
      break;
    case VT_BOOL:
      v.boolVal = static_cast<VARIANT_BOOL>(value);
      break;
    case VT_ERROR:
      v.scode = static_cast<SCODE>(value);
      break;
    default:
      break;
  }
  return v;
}

Variant Text(std::u16string_view text) {
  return Variant(text);
}
Variant Empty() {
  return Variant();
}

// The value of a scalar result as text, so rows can state expectations compactly.
std::string Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_EMPTY:
      return "EMPTY";
    case VT_NULL:
      return "NULL";
    case VT_I1:
      return "I1:" + std::to_string(v.cVal);
    case VT_UI1:
      return "UI1:" + std::to_string(v.bVal);
    case VT_I2:
      return "I2:" + std::to_string(v.iVal);
    case VT_UI2:
      return "UI2:" + std::to_string(v.uiVal);
    case VT_I4:
      return "I4:" + std::to_string(v.lVal);
    case VT_INT:
      return "INT:" + std::to_string(v.intVal);
    case VT_UI4:
      return "UI4:" + std::to_string(v.ulVal);
    case VT_UINT:
      return "UINT:" + std::to_string(v.uintVal);
    case VT_R4:
      return "R4:" + std::to_string(v.fltVal);
    case VT_R8:
      return "R8:" + std::to_string(v.dblVal);
    case VT_BOOL:
      return "BOOL:" + std::to_string(v.boolVal);
    case VT_ERROR:
      return "ERROR:" + std::to_string(v.scode);
    case VT_BSTR: {
      std::string text;
      EXPECT_EQ(BstrToUtf8(v.bstrVal, &text), S_OK);
      return "BSTR:" + text;
    }
    default:
      return "vt " + std::to_string(v.vt);
  }
}

struct Row {
  const char* what;
  Variant source;
  VARTYPE target;
  HRESULT hr;
  std::string expected;  // Describe() of the result when hr is S_OK
  USHORT flags = 0;
};

void RunRows(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Variant result;
    HRESULT hr = VariantChangeType(&result, &row.source, row.flags, row.target);
    EXPECT_EQ(hr, row.hr) << std::hex << hr;
    if (SUCCEEDED(row.hr)) {
      EXPECT_EQ(Describe(result), row.expected);
    } else {
      EXPECT_EQ(result.vt, VT_EMPTY) << "destination changed on failure";
    }
  }
}

TEST(VariantChangeTypeTest, FloatingToIntegerRoundsHalfToEven) {
  RunRows({
      {"2.5", Of(VT_R8, 2.5), VT_I4, S_OK, "I4:2"},
      {"3.5", Of(VT_R8, 3.5), VT_I4, S_OK, "I4:4"},
      {"-2.5", Of(VT_R8, -2.5), VT_I4, S_OK, "I4:-2"},
      {"-3.5", Of(VT_R8, -3.5), VT_I4, S_OK, "I4:-4"},
      {"0.5", Of(VT_R8, 0.5), VT_I2, S_OK, "I2:0"},
      {"1.5", Of(VT_R8, 1.5), VT_I2, S_OK, "I2:2"},
      {"2.4999", Of(VT_R8, 2.4999), VT_I4, S_OK, "I4:2"},
      {"2.5000001", Of(VT_R8, 2.5000001), VT_I4, S_OK, "I4:3"},
      {"R4 1.5", Of(VT_R4, 1.5), VT_I2, S_OK, "I2:2"},
      {"254.5 to UI1", Of(VT_R8, 254.5), VT_UI1, S_OK, "UI1:254"},
      {"-0.5 to UI1 is 0", Of(VT_R8, -0.5), VT_UI1, S_OK, "UI1:0"},
      {"text 2.5", Text(u"2.5"), VT_I4, S_OK, "I4:2"},
      {"text 3.5", Text(u"3.5"), VT_I4, S_OK, "I4:4"},
      {"into INT", Of(VT_R8, 6.5), VT_INT, S_OK, "INT:6"},
  });
}

TEST(VariantChangeTypeTest, NarrowingIsRangeChecked) {
  RunRows({
      {"I4 256 to UI1", Of(VT_I4, 256), VT_UI1, DISP_E_OVERFLOW, ""},
      {"I4 255 to UI1", Of(VT_I4, 255), VT_UI1, S_OK, "UI1:255"},
      {"I4 -1 to UI1", Of(VT_I4, -1), VT_UI1, DISP_E_OVERFLOW, ""},
      {"I4 -1 to UI4", Of(VT_I4, -1), VT_UI4, DISP_E_OVERFLOW, ""},
      {"I4 -129 to I1", Of(VT_I4, -129), VT_I1, DISP_E_OVERFLOW, ""},
      {"I4 -128 to I1", Of(VT_I4, -128), VT_I1, S_OK, "I1:-128"},
      {"I4 70000 to I2", Of(VT_I4, 70000), VT_I2, DISP_E_OVERFLOW, ""},
      {"I4 65535 to UI2", Of(VT_I4, 65535), VT_UI2, S_OK, "UI2:65535"},
      {"UI4 max to I4", Of(VT_UI4, 0xFFFFFFFFu), VT_I4, DISP_E_OVERFLOW, ""},
      {"UI4 max to UINT", Of(VT_UI4, 0xFFFFFFFFu), VT_UINT, S_OK, "UINT:4294967295"},
      {"R8 rounding up past I4 max", Of(VT_R8, 2147483647.5), VT_I4, DISP_E_OVERFLOW, ""},
      {"R8 rounding to I4 min", Of(VT_R8, -2147483648.5), VT_I4, S_OK, "I4:-2147483648"},
      {"R8 32767.5 to I2", Of(VT_R8, 32767.5), VT_I2, DISP_E_OVERFLOW, ""},
      {"R8 255.5 to UI1", Of(VT_R8, 255.5), VT_UI1, DISP_E_OVERFLOW, ""},
      {"NaN to I4", Of(VT_R8, std::numeric_limits<double>::quiet_NaN()), VT_I4, DISP_E_OVERFLOW, ""},
      {"infinity to I4", Of(VT_R8, std::numeric_limits<double>::infinity()), VT_I4, DISP_E_OVERFLOW, ""},
      {"R8 1e39 to R4", Of(VT_R8, 1e39), VT_R4, DISP_E_OVERFLOW, ""},
      {"R8 -1e39 to R4", Of(VT_R8, -1e39), VT_R4, DISP_E_OVERFLOW, ""},
      {"R8 1e38 to R4", Of(VT_R8, 1e38), VT_R4, S_OK, Describe(Of(VT_R4, 1e38f))},
      {"text beyond UI4", Text(u"4294967296"), VT_UI4, DISP_E_OVERFLOW, ""},
      {"text UI4 max", Text(u"4294967295"), VT_UI4, S_OK, "UI4:4294967295"},
      {"I4 to R8 widens", Of(VT_I4, -7), VT_R8, S_OK, "R8:-7.000000"},
  });
}

TEST(VariantChangeTypeTest, BooleanRules) {
  RunRows({
      {"non-zero I4 is true", Of(VT_I4, 5), VT_BOOL, S_OK, "BOOL:-1"},
      {"zero is false", Of(VT_R8, 0.0), VT_BOOL, S_OK, "BOOL:0"},
      {"small negative R8 is true", Of(VT_R8, -0.1), VT_BOOL, S_OK, "BOOL:-1"},
      {"true to I4", Of(VT_BOOL, VARIANT_TRUE), VT_I4, S_OK, "I4:-1"},
      {"true to R8", Of(VT_BOOL, VARIANT_TRUE), VT_R8, S_OK, "R8:-1.000000"},
      {"true to UI1 keeps the bits", Of(VT_BOOL, VARIANT_TRUE), VT_UI1, S_OK, "UI1:255"},
      {"true to BSTR", Of(VT_BOOL, VARIANT_TRUE), VT_BSTR, S_OK, "BSTR:-1"},
      {"false to BSTR", Of(VT_BOOL, VARIANT_FALSE), VT_BSTR, S_OK, "BSTR:0"},
      {"true alpha", Of(VT_BOOL, VARIANT_TRUE), VT_BSTR, S_OK, "BSTR:True", VARIANT_ALPHABOOL},
      {"false alpha", Of(VT_BOOL, VARIANT_FALSE), VT_BSTR, S_OK, "BSTR:False", VARIANT_ALPHABOOL},
      {"any non-zero BOOL is true", Of(VT_BOOL, 1), VT_BSTR, S_OK, "BSTR:-1"},
      {"text True", Text(u"True"), VT_BOOL, S_OK, "BOOL:-1"},
      {"text FALSE", Text(u"FALSE"), VT_BOOL, S_OK, "BOOL:0"},
      {"text tRuE with blanks", Text(u" tRuE "), VT_BOOL, S_OK, "BOOL:-1"},
      {"text number", Text(u"12"), VT_BOOL, S_OK, "BOOL:-1"},
      {"text zero", Text(u"0.0"), VT_BOOL, S_OK, "BOOL:0"},
      {"text yes", Text(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH, ""},
      {"empty text", Text(u""), VT_BOOL, DISP_E_TYPEMISMATCH, ""},
  });
}

TEST(VariantChangeTypeTest, TextToNumberInTheCLocale) {
  RunRows({
      {"decimal", Text(u"1.5"), VT_R8, S_OK, "R8:1.500000"},
      {"exponent and blanks", Text(u" -2.5e3 "), VT_R8, S_OK, "R8:-2500.000000"},
      {"plus sign", Text(u"+7"), VT_I4, S_OK, "I4:7"},
      {"leading point", Text(u".25"), VT_R8, S_OK, "R8:0.250000"},
      {"exponent with plus", Text(u"1E+5"), VT_R8, S_OK, "R8:100000.000000"},
      {"trailing point", Text(u"5."), VT_I4, S_OK, "I4:5"},
      {"lone point", Text(u"."), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"sign only", Text(u"-"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"comma is not a decimal point", Text(u"1,5"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"hex is not a number", Text(u"0x10"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {"inf", Text(u"inf"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"nan", Text(u"nan"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"trailing garbage", Text(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {"lone exponent", Text(u"1e"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"two signs", Text(u"+-1"), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"empty", Text(u""), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"blanks only", Text(u"   "), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {"embedded NUL",
       Text(std::u16string_view(u"1\0"
                                u"2",
                                3)),
       VT_I4, DISP_E_TYPEMISMATCH, ""},
      {"non-ASCII digit", Text(u"\u0661"), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {"too large for R8", Text(u"1e400"), VT_R8, DISP_E_OVERFLOW, ""},
      {"too large without exponent", Text(std::u16string(320, u'9')), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"too small becomes 0", Text(u"1e-400"), VT_R8, S_OK, "R8:0.000000"},
      {"too large for R4", Text(u"1e39"), VT_R4, DISP_E_OVERFLOW, ""},
  });
}

TEST(VariantChangeTypeTest, NumberToText) {
  RunRows({
      {"integer", Of(VT_I4, -42), VT_BSTR, S_OK, "BSTR:-42"},
      {"UI4 max", Of(VT_UI4, 0xFFFFFFFFu), VT_BSTR, S_OK, "BSTR:4294967295"},
      {"I1", Of(VT_I1, -5), VT_BSTR, S_OK, "BSTR:-5"},
      {"R8 simple", Of(VT_R8, 1.5), VT_BSTR, S_OK, "BSTR:1.5"},
      {"R8 0.1", Of(VT_R8, 0.1), VT_BSTR, S_OK, "BSTR:0.1"},
      {"R8 15 digits", Of(VT_R8, 1.0 / 3), VT_BSTR, S_OK, "BSTR:0.333333333333333"},
      {"R8 large", Of(VT_R8, 1e20), VT_BSTR, S_OK, "BSTR:1E+20"},
      {"R8 small", Of(VT_R8, 1.5e-7), VT_BSTR, S_OK, "BSTR:1.5E-07"},
      {"R8 negative zero", Of(VT_R8, -0.0), VT_BSTR, S_OK, "BSTR:0"},
      {"R4 0.1 with 7 digits", Of(VT_R4, 0.1f), VT_BSTR, S_OK, "BSTR:0.1"},
      {"R4 large", Of(VT_R4, 1234567.0f), VT_BSTR, S_OK, "BSTR:1234567"},
  });
}

TEST(VariantChangeTypeTest, EmptyNullAndErrorRules) {
  RunRows({
      {"EMPTY to I4", Empty(), VT_I4, S_OK, "I4:0"},
      {"EMPTY to R8", Empty(), VT_R8, S_OK, "R8:0.000000"},
      {"EMPTY to BOOL", Empty(), VT_BOOL, S_OK, "BOOL:0"},
      {"EMPTY to BSTR", Empty(), VT_BSTR, S_OK, "BSTR:"},
      {"EMPTY to NULL", Empty(), VT_NULL, S_OK, "NULL"},
      {"EMPTY to DISPATCH", Empty(), VT_DISPATCH, DISP_E_TYPEMISMATCH, ""},
      {"NULL to I4", Variant::Null(), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {"NULL to BOOL", Variant::Null(), VT_BOOL, DISP_E_TYPEMISMATCH, ""},
      {"NULL to BSTR", Variant::Null(), VT_BSTR, DISP_E_TYPEMISMATCH, ""},
      {"NULL to R8", Variant::Null(), VT_R8, DISP_E_TYPEMISMATCH, ""},
      {"NULL to NULL", Variant::Null(), VT_NULL, S_OK, "NULL"},
      {"I4 to NULL", Of(VT_I4, 1), VT_NULL, DISP_E_TYPEMISMATCH, ""},
      {"ERROR to I4", Variant::Error(DISP_E_PARAMNOTFOUND), VT_I4, DISP_E_TYPEMISMATCH, ""},
      {"ERROR to BSTR", Variant::Error(5), VT_BSTR, DISP_E_TYPEMISMATCH, ""},
      {"ERROR to EMPTY", Variant::Error(5), VT_EMPTY, DISP_E_TYPEMISMATCH, ""},
      {"ERROR to ERROR", Variant::Error(5), VT_ERROR, S_OK, "ERROR:5"},
      {"I4 to ERROR", Of(VT_I4, 5), VT_ERROR, DISP_E_TYPEMISMATCH, ""},
      {"I4 to EMPTY", Of(VT_I4, 5), VT_EMPTY, S_OK, "EMPTY"},
      {"BSTR to I4 with NULL BSTR", Of(VT_BSTR, 0), VT_I4, DISP_E_TYPEMISMATCH, ""},
  });
}

TEST(VariantChangeTypeTest, BadTypesAreRefused) {
  RunRows({
      {"to BYREF", Of(VT_I4, 1), VT_I4 | VT_BYREF, DISP_E_BADVARTYPE, ""},
      {"to VARIANT", Of(VT_I4, 1), VT_VARIANT, DISP_E_BADVARTYPE, ""},
      {"to I8", Of(VT_I4, 1), VT_I8, DISP_E_BADVARTYPE, ""},
      {"to an unknown type", Of(VT_I4, 1), 0x7F, DISP_E_BADVARTYPE, ""},
      {"from I8", Of(VT_I8, 1), VT_I4, DISP_E_BADVARTYPE, ""},
  });
  VARIANT unknown_type;
  VariantInit(&unknown_type);
  unknown_type.vt = 0x7F;
  Variant result;
  EXPECT_EQ(VariantChangeType(&result, &unknown_type, 0, VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantChangeType(&result, nullptr, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantChangeTypeTest, SourceAndDestinationMayBeTheSame) {
  Variant v = Text(u"42");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(v), "I4:42");

  Variant text = Text(u"not a number");
  EXPECT_EQ(VariantChangeType(&text, &text, 0, VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Describe(text),
            "BSTR:not a number");  // untouched (and not freed: ASan would see a use after free)
}

TEST(VariantChangeTypeTest, DestinationIsUntouchedOnFailure) {
  Variant dest = Text(u"keep");
  Variant src = Of(VT_R8, 1e10);
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_I2), DISP_E_OVERFLOW);
  EXPECT_EQ(Describe(dest), "BSTR:keep");
  // On success the destination's old value is freed (LeakSanitizer checks) and replaced.
  EXPECT_EQ(VariantChangeType(&dest, &src, 0, VT_R4), S_OK);
  EXPECT_EQ(dest.vt, VT_R4);
}

TEST(VariantChangeTypeTest, ByRefSourceIsDereferencedOneLevel) {
  LONG number = 7;
  Variant ref;
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &number;
  Variant result;
  ASSERT_EQ(VariantChangeType(&result, &ref, 0, VT_R8), S_OK);
  EXPECT_EQ(Describe(result), "R8:7.000000");

  Variant inner = Text(u"12");
  Variant to_variant;
  to_variant.vt = VT_VARIANT | VT_BYREF;
  to_variant.pvarVal = &inner;
  ASSERT_EQ(VariantChangeType(&result, &to_variant, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(result), "I4:12");
  EXPECT_EQ(Describe(inner), "BSTR:12");  // the referenced value is not consumed

  // In place: the BYREF variant becomes a plain value; the referenced variable is unchanged.
  ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(Describe(ref), "BSTR:7");
  EXPECT_EQ(number, 7);

  Variant twice;
  twice.vt = VT_VARIANT | VT_BYREF;
  twice.pvarVal = &to_variant;
  EXPECT_EQ(VariantChangeType(&result, &twice, 0, VT_I4), E_INVALIDARG);

  Variant dangling;
  dangling.vt = VT_I4 | VT_BYREF;
  dangling.plVal = nullptr;
  EXPECT_EQ(VariantChangeType(&result, &dangling, 0, VT_I4), E_INVALIDARG);
}

TEST(VariantChangeTypeTest, ObjectConvertsThroughItsDefaultMember) {
  ComPtr<FakeDispatch> object = FakeDispatch::Make();
  object->value = Text(u"17");
  Variant src(static_cast<IDispatch*>(object.Get()));
  Variant result;

  ASSERT_EQ(VariantChangeType(&result, &src, 0, VT_I4), S_OK);
  EXPECT_EQ(Describe(result), "I4:17");
  ASSERT_EQ(object->calls.size(), 1u);
  EXPECT_EQ(object->calls[0].dispid, DISPID_VALUE);
  EXPECT_EQ(object->calls[0].flags, DISPATCH_PROPERTYGET);
  EXPECT_EQ(object->calls[0].args, 0u);

  EXPECT_EQ(VariantChangeType(&result, &src, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);

  object->result = DISP_E_MEMBERNOTFOUND;
  EXPECT_EQ(VariantChangeType(&result, &src, 0, VT_BSTR), DISP_E_MEMBERNOTFOUND);

  // A default value that is an object again is not followed further.
  object->result = S_OK;
  object->value = Variant(static_cast<IDispatch*>(object.Get()));
  EXPECT_EQ(VariantChangeType(&result, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
  object->value.Clear();  // break the self reference

  Variant null_object(static_cast<IDispatch*>(nullptr));
  EXPECT_EQ(VariantChangeType(&result, &null_object, 0, VT_I4), DISP_E_BADVARTYPE);
  EXPECT_EQ(Describe(result), "I4:17");
}

TEST(VariantChangeTypeTest, InterfacesConvertByQueryInterface) {
  ComPtr<FakeDispatch> object = FakeDispatch::Make();
  ULONG before = object->RefCount();
  {
    Variant src(static_cast<IDispatch*>(object.Get()));
    Variant unknown;
    ASSERT_EQ(VariantChangeType(&unknown, &src, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(unknown.punkVal, static_cast<IUnknown*>(object.Get()));
    Variant back;
    ASSERT_EQ(VariantChangeType(&back, &unknown, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(back.pdispVal, static_cast<IDispatch*>(object.Get()));
    EXPECT_EQ(VariantChangeType(&back, &unknown, 0, VT_I4), DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(object->RefCount(), before);
}

TEST(VariantChangeTypeTest, ArraysConvertOnlyToTheirOwnType) {
  Variant src;
  src.vt = VT_ARRAY | VT_UI1;
  src.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
  Variant copy;
  ASSERT_EQ(VariantChangeType(&copy, &src, 0, VT_ARRAY | VT_UI1), S_OK);
  EXPECT_NE(copy.parray, src.parray);
  EXPECT_EQ(VariantChangeType(&copy, &src, 0, VT_ARRAY | VT_I2), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&copy, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

}  // namespace
}  // namespace pgx::auto_
