#include <cstring>

#include <gtest/gtest.h>

#include "automation/hresult.h"

namespace pgx::auto_ {
namespace {

TEST(HresultTest, FieldsAndMacros) {
  constexpr HRESULT own = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x400 + 103);
  static_assert(static_cast<ULONG>(own) == 0x80040467u);
  EXPECT_TRUE(FAILED(own));
  EXPECT_FALSE(SUCCEEDED(own));
  EXPECT_EQ(HRESULT_FACILITY(own), FACILITY_ITF);
  EXPECT_EQ(HRESULT_CODE(own), 0x467u);
  EXPECT_EQ(HRESULT_SEVERITY(own), 1u);
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), E_INVALIDARG);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY), E_OUTOFMEMORY);
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
  static_assert(sizeof(HRESULT) == 4 && sizeof(LONG) == 4 && sizeof(ULONG) == 4);
}

TEST(HresultTest, CodesHaveThePlatformValues) {
  const struct {
    HRESULT hr;
    ULONG value;
  } codes[] = {
      {E_POINTER, 0x80004003},
      {E_INVALIDARG, 0x80070057},
      {E_OUTOFMEMORY, 0x8007000E},
      {E_UNEXPECTED, 0x8000FFFF},
      {E_NOTIMPL, 0x80004001},
      {E_NOINTERFACE, 0x80004002},
      {E_ACCESSDENIED, 0x80070005},
      {E_FAIL, 0x80004005},
      {CLASS_E_CLASSNOTAVAILABLE, 0x80040111},
      {CLASS_E_NOAGGREGATION, 0x80040110},
      {REGDB_E_CLASSNOTREG, 0x80040154},
      {CO_E_CLASSSTRING, 0x800401F3},
      {DISP_E_MEMBERNOTFOUND, 0x80020003},
      {DISP_E_UNKNOWNNAME, 0x80020006},
      {DISP_E_PARAMNOTFOUND, 0x80020004},
      {DISP_E_TYPEMISMATCH, 0x80020005},
      {DISP_E_BADPARAMCOUNT, 0x8002000E},
      {DISP_E_EXCEPTION, 0x80020009},
      {DISP_E_OVERFLOW, 0x8002000A},
      {DISP_E_BADVARTYPE, 0x80020008},
      {DISP_E_NONAMEDARGS, 0x80020007},
      {DISP_E_PARAMNOTOPTIONAL, 0x8002000F},
      {DISP_E_ARRAYISLOCKED, 0x8002000D},
      {DISP_E_BADINDEX, 0x8002000B},
  };
  for (const auto& c : codes) EXPECT_EQ(static_cast<ULONG>(c.hr), c.value);
}

TEST(HresultTest, SystemMessageTextsUseThePlatformWording) {
  const struct {
    HRESULT hr;
    const char* text;
  } rows[] = {
      {E_INVALIDARG, "The parameter is incorrect."},
      {E_POINTER, "Invalid pointer"},
      {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
      {E_UNEXPECTED, "Catastrophic failure"},
      {E_ACCESSDENIED, "Access is denied."},
      {E_NOTIMPL, "Not implemented"},
      {E_NOINTERFACE, "No such interface supported"},
      {E_FAIL, "Unspecified error"},
      {DISP_E_TYPEMISMATCH, "Type mismatch."},
      {DISP_E_OVERFLOW, "Out of present range."},
      {DISP_E_MEMBERNOTFOUND, "Member not found."},
      {DISP_E_BADINDEX, "Invalid index."},
      {REGDB_E_CLASSNOTREG, "Class not registered"},
      {CO_E_CLASSSTRING, "Invalid class string"},
  };
  for (const auto& row : rows) {
    const char* text = SystemMessageText(row.hr);
    ASSERT_NE(text, nullptr) << std::hex << row.hr;
    EXPECT_STREQ(text, row.text);
    std::u16string wide = SystemMessageTextW(row.hr);
    EXPECT_EQ(wide.size(), std::strlen(row.text));
  }
}

TEST(HresultTest, UnknownCodesHaveNoText) {
  // The server's own codes have their texts in the server, not in the system table.
  for (HRESULT hr : {static_cast<HRESULT>(0x80040465u), static_cast<HRESULT>(0x8004046Cu),
                     static_cast<HRESULT>(0xBFFC0D07u), static_cast<HRESULT>(0x12345678), S_FALSE}) {
    EXPECT_EQ(SystemMessageText(hr), nullptr) << std::hex << hr;
    EXPECT_TRUE(SystemMessageTextW(hr).empty());
  }
}

}  // namespace
}  // namespace pgx::auto_
