#include <vector>

#include <gtest/gtest.h>

#include "automation/automation.h"
#include "automation/testing/fake_dispatch.h"

namespace pgx::auto_ {
namespace {

ComPtr<IEnumVARIANT> MakeEnum(std::vector<Variant>& items) {
  ComPtr<IEnumVARIANT> e;
  EXPECT_EQ(CreateEnumVariant(std::span<const Variant>(items), e.ReleaseAndGetAddressOf()), S_OK);
  return e;
}

std::vector<LONG> Drain(IEnumVARIANT* e, ULONG step) {
  std::vector<LONG> values;
  std::vector<VARIANT> batch(step);
  for (;;) {
    ULONG fetched = 99;
    HRESULT hr = e->Next(step, batch.data(), &fetched);
    EXPECT_LE(fetched, step);
    for (ULONG i = 0; i < fetched; ++i) {
      values.push_back(batch[i].lVal);
      VariantClear(&batch[i]);
    }
    if (hr != S_OK) {
      EXPECT_EQ(hr, S_FALSE);
      EXPECT_LT(fetched, step);
      return values;
    }
  }
}

TEST(EnumVariantTest, NextFetchesInBatchesAndSignalsTheEnd) {
  std::vector<Variant> items = {Variant(LONG{1}), Variant(LONG{2}), Variant(LONG{3}), Variant(LONG{4}),
                                Variant(LONG{5})};
  for (ULONG step : {1u, 2u, 5u, 7u}) {
    ComPtr<IEnumVARIANT> e = MakeEnum(items);
    EXPECT_EQ(Drain(e.Get(), step), (std::vector<LONG>{1, 2, 3, 4, 5})) << step;
  }
  std::vector<Variant> none;
  ComPtr<IEnumVARIANT> empty = MakeEnum(none);
  VARIANT v;
  ULONG fetched = 9;
  EXPECT_EQ(empty->Next(1, &v, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
}

TEST(EnumVariantTest, ArgumentRules) {
  std::vector<Variant> items = {Variant(LONG{1}), Variant(LONG{2})};
  ComPtr<IEnumVARIANT> e = MakeEnum(items);
  VARIANT v[2];
  EXPECT_EQ(e->Next(2, v, nullptr), E_INVALIDARG);  // a count is needed when asking for more than one
  EXPECT_EQ(e->Next(1, nullptr, nullptr), E_POINTER);
  ULONG fetched = 9;
  EXPECT_EQ(e->Next(0, v, &fetched), S_OK);
  EXPECT_EQ(fetched, 0u);
  ASSERT_EQ(e->Next(1, v, nullptr), S_OK);  // one at a time without a count is fine
  EXPECT_EQ(v[0].lVal, 1);
  EXPECT_EQ(e->Clone(nullptr), E_POINTER);
}

TEST(EnumVariantTest, SkipResetAndClone) {
  std::vector<Variant> items = {Variant(LONG{10}), Variant(LONG{20}), Variant(LONG{30})};
  ComPtr<IEnumVARIANT> e = MakeEnum(items);
  EXPECT_EQ(e->Skip(2), S_OK);
  ComPtr<IEnumVARIANT> clone;
  ASSERT_EQ(e->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(Drain(clone.Get(), 1), (std::vector<LONG>{30}));  // the clone starts where the source stood
  EXPECT_EQ(Drain(e.Get(), 1), (std::vector<LONG>{30}));      // and moves independently
  EXPECT_EQ(e->Skip(1), S_FALSE);
  ASSERT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(4), S_FALSE);  // more than remain: at the end
  VARIANT v;
  ULONG fetched = 9;
  EXPECT_EQ(e->Next(1, &v, &fetched), S_FALSE);
  ASSERT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(0xFFFFFFFFu), S_FALSE);
  ASSERT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(Drain(e.Get(), 2), (std::vector<LONG>{10, 20, 30}));
}

TEST(EnumVariantTest, WorksOnACopyThatOutlivesTheCollection) {
  ComPtr<testing::FakeDispatch> object = testing::FakeDispatch::Make();
  ULONG base = object->RefCount();
  ComPtr<IEnumVARIANT> e;
  {
    std::vector<Variant> items = {Variant(u"a"), Variant(static_cast<IDispatch*>(object.Get()))};
    e = MakeEnum(items);
    items[0] = Variant(u"changed");
  }
  EXPECT_EQ(object->RefCount(), base + 1);  // the enumerator holds its own reference
  VARIANT v[2];
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(2, v, &fetched), S_OK);
  EXPECT_EQ(BstrView(v[0].bstrVal), u"a");
  EXPECT_EQ(v[1].pdispVal, static_cast<IDispatch*>(object.Get()));
  VariantClear(&v[0]);
  VariantClear(&v[1]);
  e.Reset();
  EXPECT_EQ(object->RefCount(), base);
}

TEST(EnumVariantTest, FromAnArray) {
  SafeArray a(VT_I2, -1, 3);
  for (LONG i = -1; i <= 1; ++i) {
    SHORT value = static_cast<SHORT>(i * 100);
    SafeArrayPutElement(a.get(), &i, &value);
  }
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(CreateEnumVariantFromArray(a.get(), e.ReleaseAndGetAddressOf()), S_OK);
  VARIANT v[3];
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(3, v, &fetched), S_OK);
  EXPECT_EQ(v[0].vt, VT_I2);
  EXPECT_EQ(v[0].iVal, -100);
  EXPECT_EQ(v[2].iVal, 100);
  SAFEARRAYBOUND two[] = {{1, 0}, {1, 0}};
  SafeArray matrix = SafeArray::Attach(SafeArrayCreate(VT_I4, 2, two));
  EXPECT_EQ(CreateEnumVariantFromArray(matrix.get(), e.ReleaseAndGetAddressOf()), E_INVALIDARG);
  EXPECT_EQ(CreateEnumVariantFromArray(nullptr, e.ReleaseAndGetAddressOf()), E_INVALIDARG);
}

}  // namespace
}  // namespace pgx::auto_
