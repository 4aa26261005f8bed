#include <vector>

#include <gtest/gtest.h>

#include "automation/automation.h"
#include "automation/testing/fake_dispatch.h"

namespace pgx::auto_ {
namespace {

using testing::FakeDispatch;

TEST(SafeArrayTest, ElementSizesAndTypes) {
  const struct {
    VARTYPE vt;
    UINT size;
  } rows[] = {{VT_UI1, 1},
              {VT_BOOL, 2},
              {VT_I2, 2},
              {VT_I4, 4},
              {VT_R8, 8},
              {VT_BSTR, sizeof(BSTR)},
              {VT_VARIANT, sizeof(VARIANT)},
              {VT_DISPATCH, sizeof(IDispatch*)}};
  for (const auto& row : rows) {
    SafeArray a(row.vt, 0, 3);
    EXPECT_EQ(SafeArrayGetElemsize(a.get()), row.size);
    VARTYPE vt = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(a.get(), &vt), S_OK);
    EXPECT_EQ(vt, row.vt);
  }
  EXPECT_EQ(sizeof(VARIANT), 24u);
  EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_I8, 0, 1), nullptr);
  SAFEARRAYBOUND b = {1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &b), nullptr);
}

// Each scalar element type keeps its values apart: a wrong element size would let neighbours overlap.
TEST(SafeArrayTest, ScalarElementsRoundTrip) {
  const struct {
    VARTYPE vt;
    double first, second;  // representable in every type
  } rows[] = {{VT_UI1, 200, 7},    {VT_I1, -100, 5},     {VT_BOOL, -1, 0}, {VT_I2, -30000, 12345},
              {VT_UI2, 60000, 1},  {VT_I4, -2e9, 2e9},   {VT_UI4, 4e9, 3}, {VT_INT, -5, 6},
              {VT_R4, 1.5, -2.25}, {VT_R8, 1e-300, 3.5}, {VT_ERROR, -7, 8}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.vt);
    SafeArray a(row.vt, 5, 3);
    for (LONG i = 5; i <= 7; ++i) {
      Variant value(i == 6 ? row.second : row.first);
      Variant typed;
      ASSERT_EQ(VariantChangeType(&typed, &value, 0, row.vt == VT_ERROR ? VT_I4 : row.vt), S_OK);
      ASSERT_EQ(SafeArrayPutElement(a.get(), &i, &typed.llVal), S_OK);
    }
    for (LONG i = 5; i <= 7; ++i) {
      Variant back;
      ASSERT_EQ(SafeArrayGetElement(a.get(), &i, &back.llVal), S_OK);
      back.vt = row.vt == VT_ERROR ? VT_I4 : row.vt;
      EXPECT_EQ(back.AsDouble(), i == 6 ? row.second : row.first) << i;
    }
  }
}

TEST(SafeArrayTest, NegativeLowerBoundsAndSeveralDimensions) {
  SAFEARRAYBOUND bounds[] = {{3, -1}, {2, 10}, {4, -5}};  // first dimension first
  SAFEARRAY* psa = SafeArrayCreate(VT_I4, 3, bounds);
  ASSERT_NE(psa, nullptr);
  SafeArray owner = SafeArray::Attach(psa);
  EXPECT_EQ(SafeArrayGetDim(psa), 3u);
  const LONG expected[][2] = {{-1, 1}, {10, 11}, {-5, -2}};
  for (UINT d = 1; d <= 3; ++d) {
    LONG lo = 0, hi = 0;
    ASSERT_EQ(SafeArrayGetLBound(psa, d, &lo), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(psa, d, &hi), S_OK);
    EXPECT_EQ(lo, expected[d - 1][0]);
    EXPECT_EQ(hi, expected[d - 1][1]);
  }
  LONG dummy;
  EXPECT_EQ(SafeArrayGetLBound(psa, 0, &dummy), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(psa, 4, &dummy), DISP_E_BADINDEX);
  // Stored last dimension first.
  EXPECT_EQ(psa->rgsabound[0].lLbound, -5);
  EXPECT_EQ(psa->rgsabound[2].lLbound, -1);

  // Every element is distinct, and the first index varies fastest.
  LONG value = 0;
  for (LONG k = -5; k <= -2; ++k) {
    for (LONG j = 10; j <= 11; ++j) {
      for (LONG i = -1; i <= 1; ++i) {
        LONG idx[] = {i, j, k};
        ASSERT_EQ(SafeArrayPutElement(psa, idx, &value), S_OK);
        ++value;
      }
    }
  }
  SafeArrayData<LONG> data(psa);
  ASSERT_EQ(data.status(), S_OK);
  for (LONG n = 0; n < value; ++n) EXPECT_EQ(data[static_cast<std::size_t>(n)], n);
}

TEST(SafeArrayTest, IndicesOutsideTheBoundsAreRefused) {
  SAFEARRAYBOUND bounds[] = {{2, -1}, {3, 0}};
  SafeArray a = SafeArray::Attach(SafeArrayCreate(VT_R8, 2, bounds));
  double v = 1.5;
  const LONG bad[][2] = {{-2, 0}, {1, 0}, {0, -1}, {0, 3}, {INT32_MIN, 0}, {0, INT32_MAX}};
  for (const auto& idx : bad) {
    LONG copy[] = {idx[0], idx[1]};
    EXPECT_EQ(SafeArrayPutElement(a.get(), copy, &v), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetElement(a.get(), copy, &v), DISP_E_BADINDEX);
    void* p;
    EXPECT_EQ(SafeArrayPtrOfIndex(a.get(), copy, &p), DISP_E_BADINDEX);
  }
  LONG good[] = {0, 2};
  EXPECT_EQ(SafeArrayPutElement(a.get(), good, &v), S_OK);
  double back = 0;
  EXPECT_EQ(SafeArrayGetElement(a.get(), good, &back), S_OK);
  EXPECT_EQ(back, 1.5);
  EXPECT_EQ(SafeArrayGetElement(a.get(), nullptr, &back), E_INVALIDARG);
}

TEST(SafeArrayTest, LockCounting) {
  SAFEARRAY* psa = SafeArrayCreateVector(VT_UI1, 0, 4);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  ASSERT_EQ(SafeArrayLock(psa), S_OK);
  EXPECT_EQ(psa->cLocks, 2u);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  SAFEARRAYBOUND bigger = {8, 0};
  EXPECT_EQ(SafeArrayRedim(psa, &bigger), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(psa), S_OK);
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);  // more unlocks than locks
  EXPECT_EQ(psa->cLocks, 0u);
  // A variant holding a locked array cannot be cleared either.
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = psa;
  SafeArrayLock(psa);
  EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
  SafeArrayUnlock(psa);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArrayTest, BstrElementsAreCopiedInAndOut) {
  SafeArray a(VT_BSTR, 1, 2);
  LONG i = 1;
  BSTR in = SysAllocString(u"width");
  ASSERT_EQ(SafeArrayPutElement(a.get(), &i, in), S_OK);
  SysFreeString(in);  // the array holds its own copy
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a.get(), &i, &out), S_OK);
  EXPECT_EQ(BstrView(out), u"width");
  SysFreeString(out);
  // Replacing frees the old element; a NULL element is allowed.
  ASSERT_EQ(SafeArrayPutElement(a.get(), &i, nullptr), S_OK);
  ASSERT_EQ(SafeArrayGetElement(a.get(), &i, &out), S_OK);
  EXPECT_EQ(out, nullptr);
}

TEST(SafeArrayTest, VariantAndDispatchElementsOwnTheirContents) {
  ComPtr<FakeDispatch> object = FakeDispatch::Make();
  ULONG base = object->RefCount();
  {
    SafeArray variants(VT_VARIANT, 0, 2);
    LONG i = 0;
    Variant text(u"pulse");
    ASSERT_EQ(SafeArrayPutElement(variants.get(), &i, &text), S_OK);
    i = 1;
    Variant obj(static_cast<IDispatch*>(object.Get()));
    ASSERT_EQ(SafeArrayPutElement(variants.get(), &i, &obj), S_OK);
    EXPECT_EQ(object->RefCount(), base + 2);

    Variant back;
    ASSERT_EQ(SafeArrayGetElement(variants.get(), &i, &back), S_OK);
    EXPECT_EQ(back.pdispVal, obj.pdispVal);
    EXPECT_EQ(object->RefCount(), base + 3);

    SafeArray dispatches(VT_DISPATCH, 0, 1);
    i = 0;
    ASSERT_EQ(SafeArrayPutElement(dispatches.get(), &i, static_cast<IDispatch*>(object.Get())), S_OK);
    IDispatch* got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(dispatches.get(), &i, &got), S_OK);
    EXPECT_EQ(got, static_cast<IDispatch*>(object.Get()));
    got->Release();
    SafeArray copy = dispatches;
    EXPECT_EQ(object->RefCount(), base + 5);
  }
  EXPECT_EQ(object->RefCount(), base);  // every holder released its reference
}

TEST(SafeArrayTest, CopyIsDeep) {
  SafeArray a(VT_BSTR, -2, 3);
  LONG i = -1;
  BSTR text = SysAllocString(u"x");
  SafeArrayPutElement(a.get(), &i, text);
  SysFreeString(text);
  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(SafeArrayCopy(a.get(), &copy), S_OK);
  SafeArray owner = SafeArray::Attach(copy);
  EXPECT_EQ(owner.LowerBound(), -2);
  EXPECT_EQ(owner.UpperBound(), 0);
  BSTR* original = nullptr;
  BSTR* copied = nullptr;
  SafeArrayPtrOfIndex(a.get(), &i, reinterpret_cast<void**>(&original));
  SafeArrayPtrOfIndex(copy, &i, reinterpret_cast<void**>(&copied));
  EXPECT_NE(*original, *copied);
  EXPECT_EQ(BstrView(*copied), u"x");
  EXPECT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
  EXPECT_EQ(copy, nullptr);
}

TEST(SafeArrayTest, RedimChangesTheLastDimension) {
  SAFEARRAYBOUND bounds[] = {{2, 0}, {2, 1}};
  SafeArray a = SafeArray::Attach(SafeArrayCreate(VT_BSTR, 2, bounds));
  for (LONG j = 1; j <= 2; ++j) {
    for (LONG i = 0; i <= 1; ++i) {
      LONG idx[] = {i, j};
      std::u16string text = {static_cast<char16_t>(u'a' + i), static_cast<char16_t>(u'0' + j)};
      Bstr b(text);
      ASSERT_EQ(SafeArrayPutElement(a.get(), idx, b.get()), S_OK);
    }
  }
  SAFEARRAYBOUND grow = {3, 1};
  ASSERT_EQ(SafeArrayRedim(a.get(), &grow), S_OK);
  EXPECT_EQ(a.UpperBound(2), 3);
  EXPECT_EQ(a.UpperBound(1), 1);
  LONG kept[] = {1, 2};
  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a.get(), kept, &out), S_OK);
  EXPECT_EQ(BstrView(out), u"b2");
  SysFreeString(out);
  LONG added[] = {1, 3};
  ASSERT_EQ(SafeArrayGetElement(a.get(), added, &out), S_OK);
  EXPECT_EQ(out, nullptr);  // new elements are empty
  // Shrinking frees the dropped strings (LeakSanitizer would report them otherwise).
  SAFEARRAYBOUND shrink = {1, 0};
  ASSERT_EQ(SafeArrayRedim(a.get(), &shrink), S_OK);
  EXPECT_EQ(a.Count(), 2u);
  LONG first[] = {0, 0};
  ASSERT_EQ(SafeArrayGetElement(a.get(), first, &out), S_OK);
  EXPECT_EQ(BstrView(out), u"a1");
  SysFreeString(out);
}

TEST(SafeArrayTest, SizesThatCannotBeRepresentedAreRefused) {
  SAFEARRAYBOUND huge[] = {{0x10000, 0}, {0x10000, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_R8, 2, huge), nullptr);
  EXPECT_EQ(SafeArrayCreateVector(VT_I4, INT32_MAX, 2), nullptr);  // upper bound beyond LONG
  EXPECT_EQ(SafeArrayCreateVector(VT_I4, INT32_MIN, 0), nullptr);  // upper bound below LONG
  SafeArray last(VT_I4, INT32_MAX, 1);
  EXPECT_EQ(last.UpperBound(), INT32_MAX);
  SafeArray empty(VT_I2, 0, 0);
  EXPECT_EQ(empty.Count(), 0u);
  EXPECT_EQ(empty.UpperBound(), -1);
}

}  // namespace
}  // namespace pgx::auto_
