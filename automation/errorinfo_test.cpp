#include <thread>

#include <gtest/gtest.h>

#include "automation/automation.h"

namespace pgx::auto_ {
namespace {

constexpr GUID kInterface = {0x11111111, 0x2222, 0x3333, {4, 4, 5, 5, 5, 5, 5, 5}};

ComPtr<IErrorInfo> MakeRecord(const char16_t* description) {
  ComPtr<ICreateErrorInfo> create;
  EXPECT_EQ(CreateErrorInfo(create.ReleaseAndGetAddressOf()), S_OK);
  create->SetGUID(kInterface);
  create->SetSource(const_cast<LPOLESTR>(u"Pgxsrv.PgxGen"));
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetHelpContext(7);
  ComPtr<IErrorInfo> info;
  EXPECT_EQ(create.As(&info), S_OK);
  return info;
}

Bstr DescriptionOf(IErrorInfo* info) {
  Bstr text;
  EXPECT_EQ(info->GetDescription(text.Out()), S_OK);
  return text;
}

TEST(ErrorInfoTest, RecordKeepsItsParts) {
  ComPtr<IErrorInfo> info = MakeRecord(u"The instrument returned error(s)");
  GUID guid{};
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_EQ(guid, kInterface);
  Bstr source;
  ASSERT_EQ(info->GetSource(source.Out()), S_OK);
  EXPECT_EQ(source, std::u16string_view(u"Pgxsrv.PgxGen"));
  EXPECT_EQ(DescriptionOf(info.Get()), std::u16string_view(u"The instrument returned error(s)"));
  Bstr help;
  ASSERT_EQ(info->GetHelpFile(help.Out()), S_OK);
  EXPECT_EQ(help.get(), nullptr);  // never set
  DWORD context = 0;
  ASSERT_EQ(info->GetHelpContext(&context), S_OK);
  EXPECT_EQ(context, 7u);
  EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
}

TEST(ErrorInfoTest, GetHandsTheRecordOverAndClearsTheSlot) {
  ComPtr<IErrorInfo> info = MakeRecord(u"first");
  ASSERT_EQ(SetErrorInfo(0, info.Get()), S_OK);
  ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(got.Get(), info.Get());
  IErrorInfo* again = reinterpret_cast<IErrorInfo*>(0x1);
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
  EXPECT_EQ(again, nullptr);

  // A new record replaces the old one, and SetErrorInfo(0, NULL) clears.
  SetErrorInfo(0, MakeRecord(u"old").Get());
  SetErrorInfo(0, MakeRecord(u"new").Get());
  ASSERT_EQ(GetErrorInfo(0, got.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(DescriptionOf(got.Get()), std::u16string_view(u"new"));
  SetErrorInfo(0, MakeRecord(u"dropped").Get());
  ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
  EXPECT_EQ(GetErrorInfo(0, got.ReleaseAndGetAddressOf()), S_FALSE);
}

TEST(ErrorInfoTest, ReservedArgumentMustBeZero) {
  ComPtr<IErrorInfo> info = MakeRecord(u"x");
  EXPECT_EQ(SetErrorInfo(1, info.Get()), E_INVALIDARG);
  IErrorInfo* out = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &out), S_FALSE);  // the refused call stored nothing
  EXPECT_EQ(GetErrorInfo(1, &out), E_INVALIDARG);
  EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
  EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST(ErrorInfoTest, EachThreadHasItsOwnSlot) {
  SetErrorInfo(0, MakeRecord(u"main thread").Get());
  HRESULT seen_on_other = E_FAIL;
  std::thread other([&] {
    IErrorInfo* out = nullptr;
    seen_on_other = GetErrorInfo(0, &out);
    // A record left behind on a thread is released when the thread ends (LeakSanitizer checks).
    SetErrorInfo(0, MakeRecord(u"other thread").Get());
  });
  other.join();
  EXPECT_EQ(seen_on_other, S_FALSE);
  ComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, got.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(DescriptionOf(got.Get()), std::u16string_view(u"main thread"));
}

TEST(ErrorInfoTest, RaiseErrorPublishesARecordAndComErrorCarriesIt) {
  HRESULT hr = RaiseError(static_cast<HRESULT>(0x8004046Cu), kInterface, u"Pgxsrv.PgxGen",
                          u"The PNP driver or Visa library returned an error");
  EXPECT_EQ(hr, static_cast<HRESULT>(0x8004046Cu));
  try {
    IssueError(hr);
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), hr);
    EXPECT_EQ(e.Description(), u"The PNP driver or Visa library returned an error");
    EXPECT_EQ(e.Source(), u"Pgxsrv.PgxGen");
    EXPECT_EQ(e.Guid(), kInterface);
    EXPECT_STREQ(e.what(), "The PNP driver or Visa library returned an error");
    EXPECT_EQ(e.ErrorMessage(), "Unknown error 0x8004046C");
  }
  IErrorInfo* left = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);  // the exception took the record

  com_error plain(E_INVALIDARG);
  EXPECT_STREQ(plain.what(), "The parameter is incorrect.");
  EXPECT_EQ(plain.ErrorInfo(), nullptr);
  EXPECT_TRUE(plain.Description().empty());
}

TEST(ErrorInfoTest, DispatchExceptionBecomesComError) {
  EXCEPINFO excep{};
  excep.scode = static_cast<SCODE>(0x80040467u);
  excep.bstrSource = SysAllocString(u"Pgxsrv.PgxGen");
  excep.bstrDescription = SysAllocString(u"The current instrument does not support this function.");
  try {
    IssueDispatchError(DISP_E_EXCEPTION, excep);
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), static_cast<HRESULT>(0x80040467u));
    EXPECT_EQ(e.Description(), u"The current instrument does not support this function.");
  }
  EXPECT_EQ(excep.bstrSource, nullptr);  // freed and cleared
  EXPECT_EQ(excep.bstrDescription, nullptr);

  EXCEPINFO by_code{};
  by_code.wCode = 1000;
  try {
    IssueDispatchError(DISP_E_EXCEPTION, by_code);
  } catch (const com_error& e) {
    EXPECT_EQ(e.Error(), MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 1000));
  }
  EXCEPINFO unused{};
  EXPECT_THROW(IssueDispatchError(DISP_E_MEMBERNOTFOUND, unused), com_error);
}

}  // namespace
}  // namespace pgx::auto_
