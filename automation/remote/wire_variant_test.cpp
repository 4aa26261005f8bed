#include "automation/remote/wire_variant.h"

#include <gtest/gtest.h>

#include <capnp/message.h>

#include <chrono>

#include "automation/remote/value_compare.h"
#include "automation/safearray.h"

namespace {

using pgx::auto_::Variant;
using pgx::remote::DecodeVariant;
using pgx::remote::EncodeVariant;
using pgx::remote::SameValue;
namespace wire = pgx::remote::wire;

// Objects are the sides' business; here none may travel.
class NoObjects final : public pgx::remote::ObjectMarshal {
 public:
  HRESULT Export(IDispatch*, wire::Dispatch::Client&) override { return E_NOTIMPL; }
  HRESULT Import(wire::Dispatch::Client, IDispatch**) override { return E_NOTIMPL; }
};

constexpr HRESULT kCannot = RPC_E_SERVER_CANTUNMARSHAL_DATA;

Variant Typed(VARTYPE vt, LONGLONG bits) {
  Variant v;
  v.vt = vt;
  v.llVal = bits;
  return v;
}

Variant ArrayOf(SAFEARRAY* array) {
  Variant v;
  VARTYPE element = VT_EMPTY;
  SafeArrayGetVartype(array, &element);
  v.vt = static_cast<VARTYPE>(VT_ARRAY | element);
  v.parray = array;
  return v;
}

HRESULT RoundTrip(const VARIANT& in, Variant& out) {
  capnp::MallocMessageBuilder message;
  NoObjects objects;
  auto root = message.initRoot<wire::Variant>();
  HRESULT hr = EncodeVariant(in, root, objects, RPC_E_CLIENT_CANTMARSHAL_DATA);
  if (FAILED(hr)) return hr;
  out.Clear();
  return DecodeVariant(root.asReader(), out, objects, kCannot);
}

TEST(WireVariantTest, EveryValueTypeArrivesAsItWasSent) {
  SAFEARRAYBOUND grid[2] = {{3, -1}, {2, 5}};
  SAFEARRAY* reals = SafeArrayCreate(VT_R8, 2, grid);
  {
    pgx::auto_::SafeArrayData<double> d(reals);
    for (int i = 0; i < 6; ++i) d[i] = i * 0.5 - 1;
  }
  SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
  {
    pgx::auto_::SafeArrayData<BSTR> d(texts);
    d[1] = SysAllocString(u"second");  // the first stays NULL
  }
  SAFEARRAY* nested = SafeArrayCreateVector(VT_VARIANT, 1, 2);
  {
    pgx::auto_::SafeArrayData<VARIANT> d(nested);
    const Variant seven(LONG{7});
    VariantCopy(&d[0], &seven);
    Variant inner = ArrayOf(SafeArrayCreateVector(VT_UI1, 0, 3));
    VariantCopy(&d[1], &inner);
  }
  Variant null_array;
  null_array.vt = static_cast<VARTYPE>(VT_ARRAY | VT_I4);
  null_array.parray = nullptr;
  Variant empty_text;
  empty_text.vt = VT_BSTR;
  empty_text.bstrVal = SysAllocStringLen(u"", 0);
  Variant null_text;
  null_text.vt = VT_BSTR;
  null_text.bstrVal = nullptr;
  const Variant values[] = {
      Variant(),
      Variant::Null(),
      Typed(VT_I1, -5),
      Typed(VT_UI1, 250),
      Typed(VT_I2, -30000),
      Typed(VT_UI2, 65000),
      Typed(VT_I4, -2000000000),
      Typed(VT_UI4, 4000000000LL),
      Typed(VT_INT, -3),
      Typed(VT_UINT, 3),
      Typed(VT_I8, -(1LL << 60)),
      Typed(VT_UI8, 1LL << 62),
      Typed(VT_CY, 123456789),
      Variant(0.1f),
      Variant(-1e300),
      Typed(VT_DATE, 0x40E5F4A000000000LL),
      Variant(true),
      Variant::Error(DISP_E_PARAMNOTFOUND),
      Variant(std::u16string_view(u"a\0b\xD800", 4)),  // embedded NUL and a lone surrogate survive
      empty_text,
      null_text,
      ArrayOf(reals),
      ArrayOf(texts),
      ArrayOf(nested),
      null_array,
  };
  for (const Variant& v : values) {
    SCOPED_TRACE(v.vt);
    Variant back;
    ASSERT_EQ(RoundTrip(v, back), S_OK);
    EXPECT_TRUE(SameValue(v, back));
  }
}

TEST(WireVariantTest, WhatCannotTravelIsRefusedBeforeAnythingIsSent) {
  Variant record;
  record.vt = VT_RECORD;
  Variant byref_variant_of_byref;
  Variant inner;
  inner.vt = VT_BYREF | VT_VARIANT;
  inner.pvarVal = &record;
  byref_variant_of_byref.vt = VT_BYREF | VT_VARIANT;
  byref_variant_of_byref.pvarVal = &inner;
  Variant back;
  EXPECT_EQ(RoundTrip(record, back), DISP_E_BADVARTYPE);
  EXPECT_EQ(RoundTrip(byref_variant_of_byref, back), DISP_E_BADVARTYPE);
  record.vt = VT_EMPTY;
}

// A peer's message that promises more than it holds: refused without allocating what it promises.
TEST(WireVariantTest, MalformedArraysAreRefusedCheaply) {
  struct Case {
    const char* name;
    VARTYPE element;
    std::vector<std::pair<uint32_t, int32_t>> bounds;
    std::size_t raw_bytes;  // for numeric elements
    int items;              // for the others; -1 for raw
  };
  const Case cases[] = {
      {"a billion doubles in 8 bytes", VT_R8, {{1u << 30, 0}}, 8, -1},
      {"dimensions that overflow", VT_UI1, {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}}, 16, -1},
      {"fewer items than bounds", VT_BSTR, {{5, 0}}, 0, 2},
      {"more bytes than bounds", VT_I4, {{1, 0}}, 8, -1},
      {"no dimension", VT_I4, {}, 0, -1},
      {"an element type the wire lacks", VT_RECORD, {{1, 0}}, 8, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    capnp::MallocMessageBuilder message;
    auto root = message.initRoot<wire::Variant>();
    auto array = root.initArray();
    array.setElementType(c.element);
    auto bounds = array.initBounds(static_cast<unsigned>(c.bounds.size()));
    for (unsigned d = 0; d < c.bounds.size(); ++d) {
      bounds[d].setCount(c.bounds[d].first);
      bounds[d].setLower(c.bounds[d].second);
    }
    if (c.items < 0) {
      array.initRaw(static_cast<unsigned>(c.raw_bytes));
    } else {
      array.initItems(static_cast<unsigned>(c.items));
    }
    NoObjects objects;
    Variant out;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DecodeVariant(root.asReader(), out, objects, kCannot), kCannot);
    EXPECT_EQ(out.vt, VT_EMPTY);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
  capnp::MallocMessageBuilder message;
  auto odd = message.initRoot<wire::Variant>();
  odd.initBstr(3);  // half a character
  NoObjects objects;
  Variant out;
  EXPECT_EQ(DecodeVariant(odd.asReader(), out, objects, kCannot), kCannot);
}

}  // namespace
