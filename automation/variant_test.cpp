#include <gtest/gtest.h>

#include "automation/automation.h"
#include "automation/testing/fake_dispatch.h"

namespace pgx::auto_ {
namespace {

using testing::FakeDispatch;

TEST(VariantTest, CopyIsDeepAndClearFreesWhatIsOwned) {
  ComPtr<FakeDispatch> object = FakeDispatch::Make();
  ULONG base = object->RefCount();

  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocStringByteLen("odd", 3);  // an odd byte length survives the copy
  VARIANT copy;
  VariantInit(&copy);
  ASSERT_EQ(VariantCopy(&copy, &text), S_OK);
  EXPECT_NE(copy.bstrVal, text.bstrVal);
  EXPECT_EQ(SysStringByteLen(copy.bstrVal), 3u);

  VARIANT obj;
  VariantInit(&obj);
  obj.vt = VT_DISPATCH;
  obj.pdispVal = object.Get();
  object->AddRef();
  // Copying over a variant that holds a string frees the string first.
  ASSERT_EQ(VariantCopy(&copy, &obj), S_OK);
  EXPECT_EQ(object->RefCount(), base + 2);
  EXPECT_EQ(VariantClear(&copy), S_OK);
  EXPECT_EQ(copy.vt, VT_EMPTY);
  EXPECT_EQ(VariantClear(&obj), S_OK);
  EXPECT_EQ(object->RefCount(), base);
  EXPECT_EQ(VariantClear(&text), S_OK);
  EXPECT_EQ(VariantCopy(&text, &text), S_OK);  // copying onto itself changes nothing
}

TEST(VariantTest, ByRefIsCopiedAsReferenceOrDereferenced) {
  BSTR target = SysAllocString(u"referenced");
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BSTR | VT_BYREF;
  ref.pbstrVal = &target;

  Variant shallow;
  ASSERT_EQ(VariantCopy(&shallow, &ref), S_OK);
  EXPECT_EQ(shallow.vt, VT_BSTR | VT_BYREF);
  EXPECT_EQ(shallow.pbstrVal, &target);

  Variant deep;
  ASSERT_EQ(VariantCopyInd(&deep, &ref), S_OK);
  EXPECT_EQ(deep.vt, VT_BSTR);
  EXPECT_NE(deep.bstrVal, target);
  EXPECT_EQ(BstrView(deep.bstrVal), u"referenced");

  // Clearing a BYREF variant does not free what it refers to.
  ASSERT_EQ(VariantClear(&shallow), S_OK);
  EXPECT_EQ(BstrView(target), u"referenced");

  // VT_VARIANT | VT_BYREF to a variant that is itself BYREF a scalar: both levels are followed.
  SHORT number = 5;
  Variant inner;
  inner.vt = VT_I2 | VT_BYREF;
  inner.piVal = &number;
  Variant outer;
  outer.vt = VT_VARIANT | VT_BYREF;
  outer.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&deep, &outer), S_OK);
  EXPECT_EQ(deep.vt, VT_I2);
  EXPECT_EQ(deep.iVal, 5);

  // In place.
  ASSERT_EQ(VariantCopyInd(&ref, &ref), S_OK);
  EXPECT_EQ(ref.vt, VT_BSTR);
  EXPECT_NE(ref.bstrVal, target);
  VariantClear(&ref);
  SysFreeString(target);
}

TEST(VariantTest, UnknownTypesAreRefusedAndKept) {
  VARIANT bad;
  VariantInit(&bad);
  const VARTYPE types[] = {
      0x7F,     VT_VARIANT, VT_EMPTY | VT_BYREF, VT_NULL | VT_BYREF, VT_ARRAY | VT_EMPTY, VT_RESERVED | VT_I4,
      VT_RECORD};
  for (VARTYPE vt : types) {
    bad.vt = vt;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(bad.vt, vt);
    Variant dest(LONG{3});
    EXPECT_EQ(VariantCopy(&dest, &bad), DISP_E_BADVARTYPE) << vt;
    EXPECT_EQ(dest.vt, VT_I4);  // the destination keeps its value
  }
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(VariantTest, OwningVariantConversionsAndErrors) {
  Variant a(u"3.5");
  EXPECT_EQ(a.AsLong(), 4);
  EXPECT_DOUBLE_EQ(a.AsDouble(), 3.5);
  EXPECT_TRUE(a.AsBool());
  Variant b = a;  // deep copy
  EXPECT_NE(a.bstrVal, b.bstrVal);
  Variant c = std::move(b);
  EXPECT_EQ(b.vt, VT_EMPTY);
  EXPECT_EQ(c.AsUtf8(), "3.5");
  c.ChangeType(VT_R8);
  EXPECT_EQ(c.vt, VT_R8);
  EXPECT_THROW(Variant::Null().AsLong(), com_error);
  try {
    Variant(u"x").AsDouble();
    FAIL() << "no exception";
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
    EXPECT_STREQ(e.what(), "Type mismatch.");
  }
  Variant flag(true);
  EXPECT_EQ(flag.boolVal, VARIANT_TRUE);
  EXPECT_EQ(Variant("µ").AsUtf8(), "µ");
  EXPECT_EQ(Variant::Missing().scode, DISP_E_PARAMNOTFOUND);

  VARIANT out;
  ASSERT_EQ(flag.CopyTo(&out), S_OK);
  EXPECT_EQ(out.vt, VT_BOOL);
  VARIANT detached = a.Detach();
  EXPECT_EQ(a.vt, VT_EMPTY);
  Variant reattached = Variant::Attach(detached);
  EXPECT_EQ(detached.vt, VT_EMPTY);
  EXPECT_EQ(reattached.AsUtf8(), "3.5");
}

}  // namespace
}  // namespace pgx::auto_
