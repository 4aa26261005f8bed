// A fixture for tests that use the server as a script does: Pgxsrv.PgxGen created through the registry of the
// build, every member called late-bound by name, through the real driver against the simulated instruments
// of the built-in bench (docs/default-bench.yaml).
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "automation/activation.h"
#include "automation/client.h"
#include "automation/com_error.h"

namespace pgx::server::testing {

inline constexpr WORD kGet = DISPATCH_PROPERTYGET;
inline constexpr WORD kPut = DISPATCH_PROPERTYPUT;
inline constexpr WORD kCall = DISPATCH_METHOD;
// What a member answers on a model that lacks it.
inline constexpr HRESULT kRefused = static_cast<HRESULT>(0x80040467);

// Instruments of the built-in bench, by their front-ends.
struct BenchInstrument {
  const char16_t* resource;
  const char* front_ends;
  LONG channels;
};
inline constexpr BenchInstrument kM4020Ax2 = {u"VXI0::16::INSTR", "M4020A,M4020A", 2};
inline constexpr BenchInstrument kM4030A = {u"VXI0::24::INSTR", "M4030A", 1};
inline constexpr BenchInstrument kM4040Ax2 = {u"VXI0::32::INSTR", "M4040A,M4040A", 2};
inline constexpr BenchInstrument kQ510A = {u"GPIB0::10::INSTR", "Q510A", 1};
inline constexpr BenchInstrument kQ520Ax2 = {u"GPIB0::11::INSTR", "Q520A,Q520A", 2};
inline constexpr BenchInstrument kQ530Ax2 = {u"GPIB0::12::INSTR", "Q530A,Q530A", 2};
inline constexpr BenchInstrument kQ540A = {u"GPIB0::13::INSTR", "Q540A", 1};

inline auto_::DispatchPtr Object(const auto_::Variant& v) {
  EXPECT_EQ(v.vt, VT_DISPATCH);
  return auto_::DispatchPtr(v.vt == VT_DISPATCH ? v.pdispVal : nullptr);
}

// Pgxsrv.PgxGen created by its ProgID through the registry of the build, as a script creates it; null (and
// the test failed) when it cannot be. The thread must have called CoInitialize.
inline auto_::DispatchPtr CreateRoot() {
  CLSID clsid;
  IDispatch* root = nullptr;
  const HRESULT found = CLSIDFromProgID(u"Pgxsrv.PgxGen", &clsid);
  EXPECT_EQ(found, S_OK);
  if (found != S_OK) return {};
  EXPECT_EQ(
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&root)),
      S_OK);
  return auto_::DispatchPtr(auto_::AttachComPtr(root));
}

// The HRESULT a call fails with, S_OK when it succeeds.
inline HRESULT FailureOf(const std::function<void()>& call) {
  try {
    call();
    return S_OK;
  } catch (const auto_::com_error& e) {
    return e.Error();
  }
}

// A by-reference argument for an [out] or [in, out] parameter.
inline auto_::Variant Ref(LONG* value) {
  auto_::Variant v;
  v.vt = VT_BYREF | VT_I4;
  v.plVal = value;
  return v;
}
inline auto_::Variant Ref(DOUBLE* value) {
  auto_::Variant v;
  v.vt = VT_BYREF | VT_R8;
  v.pdblVal = value;
  return v;
}

class OnBench : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(CoInitialize(nullptr), 0);
    root_ = CreateRoot();
    ASSERT_TRUE(root_);
  }
  void TearDown() override {
    root_ = nullptr;
    CoFreeUnusedLibraries();
    CoUninitialize();
  }

  // The instrument, opened with an identity query and a reset.
  auto_::DispatchPtr Open(const BenchInstrument& which) {
    auto_::DispatchPtr instruments = Object(root_.InvokeByName(u"Instruments", kGet));
    auto_::DispatchPtr instrument =
        Object(instruments.InvokeByName(u"Item", kGet, {auto_::Variant(which.resource)}));
    EXPECT_EQ(instrument.InvokeByName(u"Open", kGet, {auto_::Variant(true), auto_::Variant(true)}).boolVal,
              VARIANT_TRUE);
    EXPECT_EQ(Object(instrument.InvokeByName(u"Channels", kGet)).InvokeByName(u"Count", kGet).lVal,
              which.channels);
    return instrument;
  }
  static auto_::DispatchPtr ChannelOf(const auto_::DispatchPtr& instrument, LONG number) {
    return Object(Object(instrument.InvokeByName(u"Channels", kGet))
                      .InvokeByName(u"Item", kGet, {auto_::Variant(number)}));
  }
  // A double property.
  static double Get(const auto_::DispatchPtr& object, const char16_t* member) {
    auto_::Variant v = object.InvokeByName(member, kGet);
    EXPECT_EQ(v.vt, VT_R8) << static_cast<int>(v.vt);
    return v.dblVal;
  }

  auto_::DispatchPtr root_;
};

}  // namespace pgx::server::testing
