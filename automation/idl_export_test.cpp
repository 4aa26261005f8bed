// The IDL generator and IDL export together: printing a generated library and generating again gives the
// same C++ to the byte, and mistakes in an IDL file are reported with file, line, column and what was
// expected.
#include "automation/idl_export.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "automation/activation.h"
#include "automation/comptr.h"
#include "automation/testing/testsrv_idl.h"

namespace pgx::auto_ {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class IdlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pgx-idl-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Runs the generator on `idl_path`; returns its exit status and what it printed.
  int Generate(const std::string& idl_path, std::string& output) {
    std::string command = std::string("'") + PGX_PYTHON + "' '" + PGX_IDL_GENERATOR + "' '" + idl_path +
                          "' --header '" + dir_ + "/testsrv_idl.h' --source '" + dir_ +
                          "/testsrv_idl.cpp' --client '" + dir_ +
                          "/testsrv_client.h' --include automation/testing/testsrv_idl.h 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buf[512];
    output.clear();
    while (std::fgets(buf, sizeof buf, pipe)) output += buf;
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string dir_;
};

TEST_F(IdlTest, ExportedIdlGeneratesTheSameCode) {
  const std::string idl = ExportIdl(TestSrvLib_TypeLibrary());
  const std::string path = dir_ + "/testsrv.idl";
  std::ofstream(path) << idl;
  std::string output;
  ASSERT_EQ(Generate(path, output), 0) << output << "\n" << idl;
  const std::string generated = std::string(PGX_GENERATED_DIR) + "/automation/testing/";
  EXPECT_EQ(ReadFile(dir_ + "/testsrv_idl.cpp"), ReadFile(generated + "testsrv_idl.cpp"));
  EXPECT_EQ(ReadFile(dir_ + "/testsrv_idl.h"), ReadFile(generated + "testsrv_idl.h"));
  EXPECT_EQ(ReadFile(dir_ + "/testsrv_client.h"), ReadFile(generated + "testsrv_client.h"));
}

// A client holds only an object: its type information leads to the whole library, which prints as the
// library the server was built from.
TEST_F(IdlTest, AClientReachesAndPrintsTheLibraryOfAnObjectItHolds) {
  ASSERT_GE(CoInitialize(nullptr), 0);
  {
    ComPtr<IDispatch> widget;
    ASSERT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               widget.ReleaseAndGetAddressOfVoid()),
              S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(widget->GetTypeInfo(0, 0, info.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<ITypeLib> lib;
    UINT index = 999;
    ASSERT_EQ(info->GetContainingTypeLib(lib.ReleaseAndGetAddressOf(), &index), S_OK);
    const LibraryInfo& tables = TestSrvLib_TypeLibrary();
    EXPECT_EQ(lib->GetTypeInfoCount(), tables.type_count);

    auto guid_of = [](ITypeInfo* type) {
      TYPEATTR* attr = nullptr;
      EXPECT_EQ(type->GetTypeAttr(&attr), S_OK);
      GUID guid = attr->guid;
      type->ReleaseTypeAttr(attr);
      return guid;
    };
    ComPtr<ITypeInfo> again;
    ASSERT_EQ(lib->GetTypeInfo(index, again.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(guid_of(again.Get()), IID_IWidget);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IWidget, again.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(guid_of(again.Get()), IID_IWidget);
    EXPECT_EQ(lib->GetTypeInfo(tables.type_count, again.ReleaseAndGetAddressOf()), TYPE_E_ELEMENTNOTFOUND);
    TYPEKIND kind{};
    ASSERT_EQ(lib->GetTypeInfoType(index, &kind), S_OK);
    EXPECT_EQ(kind, TKIND_INTERFACE);

    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_TestSrvLib);
    EXPECT_EQ(attr->wMajorVerNum, tables.major);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(BstrView(name), u"TestSrvLib");
    SysFreeString(name);

    BOOL found = FALSE;
    EXPECT_EQ(lib->IsName(const_cast<LPOLESTR>(u"fORMAT"), 0, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(lib->IsName(const_cast<LPOLESTR>(u"NoSuchName"), 0, &found), S_OK);
    EXPECT_FALSE(found);
    ITypeInfo* owners[4] = {};
    MEMBERID ids[4] = {};
    USHORT count = 4;
    ASSERT_EQ(lib->FindName(const_cast<LPOLESTR>(u"Format"), 0, owners, ids, &count), S_OK);
    ASSERT_GE(count, 1);
    EXPECT_EQ(guid_of(owners[0]), IID_IWidget);
    EXPECT_EQ(ids[0], 0x60020003);
    for (USHORT i = 0; i < count; ++i) owners[i]->Release();

    std::string idl;
    ASSERT_EQ(ExportIdl(lib.Get(), idl), S_OK);
    EXPECT_EQ(idl, ExportIdl(tables));
  }
  std::string idl;
  EXPECT_EQ(ExportIdl(static_cast<ITypeLib*>(nullptr), idl), E_NOINTERFACE);
  CoUninitialize();
}

TEST_F(IdlTest, ExportReadsLikeTheSource) {
  const std::string idl = ExportIdl(TestSrvLib_TypeLibrary());
  const char* expected[] = {
      "[uuid(6A3C1F20-5B7D-4E2A-9C11-2F0B7D1E4A01), version(1.2), helpstring(\"Test server type library\")]",
      "library TestSrvLib {",
      "importlib(\"stdole2.tlb\");",
      "[helpstring(\"first value\")] TestColorStart = 0,",
      "TestColorNone = -1,",
      "double Values[2];",
      "struct _TestAttributes {",
      "} TestAttributes;",
      "[object, uuid(6A3C1F20-5B7D-4E2A-9C11-2F0B7D1E4A10), dual, oleautomation, nonextensible, "
      "helpstring(\"The test widget\")]",
      "[id(0x60020002), propget, helpstring(\"Level of one output\")] HRESULT Level([in] TestColor Output, "
      "[out, retval] double* Value);",
      "HRESULT Format([in] long Number, [in, optional, defaultvalue(2.5)] double Scale, "
      "[in, optional, defaultvalue(\"unit\")] BSTR Suffix, [out, retval] BSTR* Text);",
      "[id(-4), propget, hidden, restricted] HRESULT _NewEnum([out, retval] IUnknown** Value);",
      "[in, out] SAFEARRAY(unsigned char)* Bytes",
      "[in, optional, defaultvalue(TestColorBlue)] TestColor Color",
      "[id(1)] void Changed([in] long What);",
      "[default, source] dispinterface _IWidgetEvents;",
  };
  for (const char* line : expected) EXPECT_NE(idl.find(line), std::string::npos) << line << "\n" << idl;
}

TEST_F(IdlTest, MistakesNameFileLineColumnAndWhatWasExpected) {
  const std::string head = "[uuid(00000000-0000-0000-0000-000000000001), version(1.0)]\nlibrary L {\n";
  const std::string itf = "  [object, uuid(00000000-0000-0000-0000-000000000002)";
  struct Case {
    std::string body;
    const char* message;
  } cases[] = {
      {itf + ", dual] interface IX : IDispatch {\n    HRESULT Foo([in] long x)\n  };",
       ":5:3: error: expected ';', found '}'"},
      {"  typedef enum E { A = 1, B = } E;", ":3:31: error: expected a value after '=', found '}'"},
      {"  [object, uuid(1234)] interface IX : IDispatch {};", ":3:12: error: expected a GUID"},
      {itf + "] interface IX : IDispatch {\n    HRESULT Foo([in] Widget* x);\n  };",
       ":4:22: error: unknown type 'Widget'"},
      {itf + ", helpstring(\"open] interface IX : IDispatch {};",
       ":3:67: error: unterminated string: expected '\"'"},
      {itf + "] interface IX : IDispatch {\n    [propget] HRESULT Foo([out, retval] long* v, [in] long x);\n "
             " };",
       ":4:47: error: retval parameter 'v' must be the last parameter"},
      {itf + ", colour] interface IX : IDispatch {};",
       ":3:56: error: attribute 'colour' is not allowed here"},
      {"  typedef struct R { long a; short b[0]; } R;", ":3:38: error: an array length must be at least 1"},
      {itf + "] interface IX : IDispatch {\n    [id(1), propget] HRESULT A([out, retval] long* v);\n"
             "    [id(1), propget] HRESULT B([out, retval] long* v);\n  };",
       ":5:30: error: 'B' repeats id 0x1 with the same kind as line 4"},
      {itf + "] interface IX : IDispatch {\n    HRESULT A([in, optional] long x);\n  };",
       ":4:35: error: optional parameter 'x' needs a defaultvalue"},
  };
  const std::string path = dir_ + "/bad.idl";
  for (const Case& c : cases) {
    std::ofstream(path) << head << c.body << "\n};\n";
    std::string output;
    EXPECT_EQ(Generate(path, output), 1) << c.body;
    EXPECT_NE(output.find(path + c.message), std::string::npos) << output;
    for (const char* file : {"/testsrv_idl.h", "/testsrv_idl.cpp", "/testsrv_client.h"})
      EXPECT_FALSE(fs::exists(dir_ + file)) << "nothing is written for a bad file";
  }
}

}  // namespace
}  // namespace pgx::auto_
