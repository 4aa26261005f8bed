// The generic IDispatch, exercised on the test server module (created through the registry that
// PGX_REGISTRY names) with the argument shapes real clients send.
#include "automation/dispatcher.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "automation/activation.h"
#include "automation/client.h"
#include "automation/errorinfo.h"
#include "automation/testing/testsrv_client.h"
#include "automation/testing/testsrv_idl.h"

namespace pgx::auto_ {
namespace {

struct Named {
  DISPID id;
  Variant value;
};

// One IDispatch::Invoke with arguments given first parameter first; named ones go first in rgvarg.
struct Call {
  HRESULT hr = E_FAIL;
  Variant result;
  EXCEPINFO excep{};
  UINT arg_err = 12345;

  ~Call() {
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
  }
};

void Invoke(Call& call, IDispatch* d, DISPID id, WORD flags, const std::vector<Variant>& positional,
            const std::vector<Named>& named = {}) {
  std::vector<VARIANT> args;
  std::vector<DISPID> ids;
  for (const Named& n : named) {
    args.push_back(n.value);
    ids.push_back(n.id);
  }
  for (auto it = positional.rbegin(); it != positional.rend(); ++it) args.push_back(*it);
  DISPPARAMS params{args.data(), ids.data(), static_cast<UINT>(args.size()), static_cast<UINT>(ids.size())};
  VARIANT result;
  VariantInit(&result);
  call.hr = d->Invoke(id, IID_NULL, 0, flags, &params, &result, &call.excep, &call.arg_err);
  call.result = Variant::Attach(result);
}

Variant Ref(LONG* p) {
  Variant v;
  client::RefI4(v, p);
  return v;
}

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               widget_.ReleaseAndGetAddressOfVoid()),
              S_OK);
  }
  DISPID Id(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    EXPECT_EQ(widget_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << "name";
    return id;
  }
  ApartmentScope apartment_;  // first in, last out: the widget is released inside the apartment
  ComPtr<IDispatch> widget_;
};

TEST_F(DispatcherTest, NamesAreFoundWhateverTheirCase) {
  struct Case {
    const char16_t* name;
    DISPID id;
  } cases[] = {{u"Count", 0x60020001},  {u"COUNT", 0x60020001},        {u"count", 0x60020001},
               {u"Name", DISPID_VALUE}, {u"_newenum", DISPID_NEWENUM}, {u"fORMAT", 0x60020003}};
  for (const Case& c : cases) EXPECT_EQ(Id(c.name), c.id);
}

TEST_F(DispatcherTest, UnknownNamesGetDispidUnknownInTheirSlot) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"Format"), const_cast<LPOLESTR>(u"suffix"),
                      const_cast<LPOLESTR>(u"Nope"), const_cast<LPOLESTR>(u"NUMBER")};
  DISPID ids[4] = {};
  EXPECT_EQ(widget_->GetIDsOfNames(IID_NULL, names, 4, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x60020003);
  EXPECT_EQ(ids[1], 2);  // parameter index
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  EXPECT_EQ(ids[3], 0);

  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"Counts"), const_cast<LPOLESTR>(u"x")};
  EXPECT_EQ(widget_->GetIDsOfNames(IID_NULL, unknown, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

TEST_F(DispatcherTest, PropertiesGetAndPutWithTheRightInvokeKinds) {
  Call put;
  Invoke(put, widget_.Get(), 0x60020001, DISPATCH_PROPERTYPUT, {}, {{DISPID_PROPERTYPUT, Variant(LONG{42})}});
  ASSERT_EQ(put.hr, S_OK);

  for (WORD flags : {WORD{DISPATCH_PROPERTYGET}, WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET)}) {
    Call get;
    Invoke(get, widget_.Get(), 0x60020001, flags, {});
    ASSERT_EQ(get.hr, S_OK);
    EXPECT_EQ(get.result.vt, VT_I4);
    EXPECT_EQ(get.result.lVal, 42);
  }
  Call method_only;
  Invoke(method_only, widget_.Get(), 0x60020001, DISPATCH_METHOD, {});
  EXPECT_EQ(method_only.hr, DISP_E_MEMBERNOTFOUND);
  Call unknown;
  Invoke(unknown, widget_.Get(), 0x600200ff, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {});
  EXPECT_EQ(unknown.hr, DISP_E_MEMBERNOTFOUND);
  Call put_without_value_name;
  Invoke(put_without_value_name, widget_.Get(), 0x60020001, DISPATCH_PROPERTYPUT, {Variant(LONG{1})});
  EXPECT_EQ(put_without_value_name.hr, DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(DispatcherTest, DefaultMemberIsDispidValue) {
  Call put;
  Invoke(put, widget_.Get(), DISPID_VALUE, DISPATCH_PROPERTYPUT, {},
         {{DISPID_PROPERTYPUT, Variant(u"renamed")}});
  ASSERT_EQ(put.hr, S_OK);
  Call get;
  Invoke(get, widget_.Get(), DISPID_VALUE, DISPATCH_PROPERTYGET, {});
  ASSERT_EQ(get.hr, S_OK);
  ASSERT_EQ(get.result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(get.result.bstrVal), u"renamed");
}

TEST_F(DispatcherTest, ArgumentBindingAndDefaults) {
  const DISPID format = 0x60020003;
  struct Case {
    const char* what;
    std::vector<Variant> positional;
    std::vector<Named> named;
    HRESULT hr;
    const char16_t* text;
  };
  std::vector<Case> cases;
  cases.push_back({"all positional", {Variant(LONG{2}), Variant(1.5), Variant(u"V")}, {}, S_OK, u"3 V"});
  cases.push_back({"defaults fill in", {Variant(LONG{2})}, {}, S_OK, u"5 unit"});
  cases.push_back({"missing marker takes the default",
                   {Variant(LONG{2}), Variant::Missing(), Variant(u"s")},
                   {},
                   S_OK,
                   u"5 s"});
  cases.push_back({"named after positional", {Variant(LONG{4})}, {{2, Variant(u"mV")}}, S_OK, u"10 mV"});
  cases.push_back({"only named", {}, {{1, Variant(0.5)}, {0, Variant(LONG{8})}}, S_OK, u"4 unit"});
  cases.push_back({"coerced from text", {Variant(u"6"), Variant(u"0.5")}, {}, S_OK, u"3 unit"});
  cases.push_back({"missing required", {}, {}, DISP_E_PARAMNOTOPTIONAL, nullptr});
  cases.push_back({"required given as missing", {Variant::Missing()}, {}, DISP_E_PARAMNOTOPTIONAL, nullptr});
  cases.push_back({"too many",
                   {Variant(LONG{1}), Variant(1.0), Variant(u"a"), Variant(LONG{4})},
                   {},
                   DISP_E_BADPARAMCOUNT,
                   nullptr});
  cases.push_back({"unknown named", {Variant(LONG{1})}, {{7, Variant(1.0)}}, DISP_E_PARAMNOTFOUND, nullptr});
  cases.push_back(
      {"named twice", {Variant(LONG{1})}, {{0, Variant(LONG{1})}}, DISP_E_PARAMNOTFOUND, nullptr});
  for (const Case& c : cases) {
    Call call;
    Invoke(call, widget_.Get(), format, DISPATCH_METHOD, c.positional, c.named);
    EXPECT_EQ(call.hr, c.hr) << c.what;
    if (c.text && call.hr == S_OK) {
      ASSERT_EQ(call.result.vt, VT_BSTR) << c.what;
      EXPECT_EQ(BstrView(call.result.bstrVal), c.text) << c.what;
    }
  }
}

TEST_F(DispatcherTest, TypeMismatchNamesTheArgumentInRgvargOrder) {
  // Format(Number, Scale, Suffix): Scale is second of three, so it stands at rgvarg[1].
  Call call;
  Invoke(call, widget_.Get(), 0x60020003, DISPATCH_METHOD,
         {Variant(LONG{1}), Variant(u"wide"), Variant(u"x")});
  EXPECT_EQ(call.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(call.arg_err, 1u);
  Call first;
  Invoke(first, widget_.Get(), 0x60020003, DISPATCH_METHOD, {Variant(u"one")});
  EXPECT_EQ(first.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(first.arg_err, 0u);
}

TEST_F(DispatcherTest, OutParametersAreWrittenBackInTheCallersType) {
  // Quotient as a reference to a double: the long result is coerced into it.
  double quotient = 0;
  Variant q;
  client::RefR8(q, &quotient);
  LONG remainder = 10;  // [in, out]: the member adds to it
  Call call;
  Invoke(call, widget_.Get(), 0x60020004, DISPATCH_METHOD,
         {Variant(LONG{7}), Variant(LONG{2}), q, Ref(&remainder)});
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(quotient, 3.0);
  EXPECT_EQ(remainder, 11);

  // An omitted optional pointer parameter reaches the member as NULL.
  LONG only = 0;
  Call without;
  Invoke(without, widget_.Get(), 0x60020004, DISPATCH_METHOD,
         {Variant(LONG{9}), Variant(LONG{4}), Ref(&only)});
  ASSERT_EQ(without.hr, S_OK);
  EXPECT_EQ(only, 2);

  // A variant passed by reference receives the value.
  VARIANT target;
  VariantInit(&target);
  Variant ref;
  client::RefVARIANT(ref, &target);
  LONG r = 0;
  Call into_variant;
  Invoke(into_variant, widget_.Get(), 0x60020004, DISPATCH_METHOD,
         {Variant(LONG{9}), Variant(LONG{4}), ref, Ref(&r)});
  ASSERT_EQ(into_variant.hr, S_OK);
  EXPECT_EQ(target.vt, VT_I4);
  EXPECT_EQ(target.lVal, 2);
}

TEST_F(DispatcherTest, IndexedPropertiesTakeTheirIndexBeforeTheValue) {
  const DISPID level = 0x60020002;
  Call put;
  Invoke(put, widget_.Get(), level, DISPATCH_PROPERTYPUT, {Variant(LONG{TestColorBlue})},
         {{DISPID_PROPERTYPUT, Variant(u"2.5")}});
  ASSERT_EQ(put.hr, S_OK);
  Call get;
  Invoke(get, widget_.Get(), level, DISPATCH_PROPERTYGET, {Variant(SHORT{2})});
  ASSERT_EQ(get.hr, S_OK);
  EXPECT_EQ(get.result.dblVal, 2.5);

  // Mode(Length): the optional [in, out] index of a get.
  LONG length = 0;
  Call put_mode;
  LONG five = 5;
  Invoke(put_mode, widget_.Get(), 0x60020005, DISPATCH_PROPERTYPUT, {Ref(&five)},
         {{DISPID_PROPERTYPUT, Variant(LONG{TestColorGreen})}});
  ASSERT_EQ(put_mode.hr, S_OK);
  Call get_mode;
  Invoke(get_mode, widget_.Get(), 0x60020005, DISPATCH_PROPERTYGET, {Ref(&length)});
  ASSERT_EQ(get_mode.hr, S_OK);
  EXPECT_EQ(get_mode.result.lVal, TestColorGreen);
  EXPECT_EQ(length, 5);
  Call get_mode_plain;
  Invoke(get_mode_plain, widget_.Get(), 0x60020005, DISPATCH_PROPERTYGET, {});
  EXPECT_EQ(get_mode_plain.hr, S_OK);
}

TEST_F(DispatcherTest, FailuresBecomeExceptionsWithTheErrorInformation) {
  Call call;
  Invoke(call, widget_.Get(), 0x60020009, DISPATCH_METHOD, {Variant(LONG(0x80040467)), Variant(u"not here")});
  EXPECT_EQ(call.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(call.excep.scode, static_cast<SCODE>(0x80040467));
  EXPECT_EQ(BstrView(call.excep.bstrSource), u"TestSrv.Widget");
  EXPECT_EQ(BstrView(call.excep.bstrDescription), u"not here");

  // An optional VARIANT left out arrives as the missing marker.
  Call defaulted;
  Invoke(defaulted, widget_.Get(), 0x60020009, DISPATCH_METHOD, {Variant(LONG(E_FAIL))});
  EXPECT_EQ(defaulted.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(BstrView(defaulted.excep.bstrDescription), u"Failure requested");

  // Without error information the system text describes the code.
  Call level;
  Invoke(level, widget_.Get(), 0x60020002, DISPATCH_PROPERTYGET, {Variant(LONG{7})});
  EXPECT_EQ(level.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(level.excep.scode, E_INVALIDARG);
}

TEST_F(DispatcherTest, ObjectArgumentsAreAskedForTheirInterface) {
  Call child;
  Invoke(child, widget_.Get(), 0x60020007, DISPATCH_PROPERTYGET, {});
  ASSERT_EQ(child.hr, S_OK);
  ASSERT_EQ(child.result.vt, VT_DISPATCH);
  Call adopt;
  Invoke(adopt, widget_.Get(), 0x6002000b, DISPATCH_METHOD, {child.result});
  ASSERT_EQ(adopt.hr, S_OK);
  EXPECT_EQ(adopt.result.boolVal, VARIANT_TRUE);

  // The widget is no IChild.
  Call wrong;
  Invoke(wrong, widget_.Get(), 0x6002000b, DISPATCH_METHOD, {Variant(widget_.Get())});
  EXPECT_EQ(wrong.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(wrong.arg_err, 0u);
}

TEST_F(DispatcherTest, NewEnumHandsOutAnEnumerator) {
  Call call;
  Invoke(call, widget_.Get(), DISPID_NEWENUM, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {});
  ASSERT_EQ(call.hr, S_OK);
  ASSERT_EQ(call.result.vt, VT_UNKNOWN);
  ComPtr<IEnumVARIANT> items;
  ASSERT_EQ(call.result.punkVal->QueryInterface(IID_IEnumVARIANT, items.ReleaseAndGetAddressOfVoid()), S_OK);
  std::vector<LONG> indexes;
  VARIANT item;
  ULONG fetched = 0;
  while (items->Next(1, &item, &fetched) == S_OK) {
    DispatchPtr child(item.pdispVal);
    indexes.push_back(child.InvokeById(DISPID_VALUE, DISPATCH_PROPERTYGET).AsLong());
    VariantClear(&item);
  }
  EXPECT_EQ(indexes, (std::vector<LONG>{1, 2, 3}));

  // A member typed IEnumVARIANT** hands out the enumerator itself, late-bound and through its wrapper.
  Call item3;
  Invoke(item3, widget_.Get(), 0x60020008, DISPATCH_PROPERTYGET, {Variant(LONG{3})});
  ASSERT_EQ(item3.hr, S_OK);
  ASSERT_EQ(item3.result.vt, VT_DISPATCH);
  Call enumerate;
  Invoke(enumerate, item3.result.pdispVal, 0x60020002, DISPATCH_METHOD, {});
  ASSERT_EQ(enumerate.hr, S_OK);
  ASSERT_EQ(enumerate.result.vt, VT_UNKNOWN);
  const ComPtr<IUnknown> wrapped = TestSrvLib::IChildPtr(item3.result.pdispVal).Items();
  for (IUnknown* unknown : {enumerate.result.punkVal, wrapped.Get()}) {
    ASSERT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, items.ReleaseAndGetAddressOfVoid()), S_OK);
    VARIANT pair[2];
    ASSERT_EQ(items->Next(2, pair, &fetched), S_OK);
    EXPECT_EQ(std::make_pair(pair[0].lVal, pair[1].lVal), std::make_pair(LONG{3}, LONG{4}));
  }
}

TEST_F(DispatcherTest, SafeArraysPassInAndOut) {
  SAFEARRAY* array = nullptr;
  Variant ref;
  client::RefArray(ref, &array, VT_ARRAY | VT_UI1);
  Call create;
  Invoke(create, widget_.Get(), 0x60020006, DISPATCH_METHOD, {Variant(BYTE{10}), ref});
  ASSERT_EQ(create.hr, S_OK);
  ASSERT_NE(array, nullptr);
  SafeArray owned = SafeArray::Attach(array);
  EXPECT_EQ(owned.Count(), 4u);
  {
    SafeArrayData<BYTE> data(array);
    EXPECT_EQ(data[3], 13);
  }
  // An array by value is filled in a copy: the caller's stays as it was.
  Variant by_value;
  by_value.vt = VT_ARRAY | VT_UI1;
  SafeArrayCopy(array, &by_value.parray);
  Call copy;
  Invoke(copy, widget_.Get(), 0x60020006, DISPATCH_METHOD, {Variant(BYTE{50}), by_value});
  ASSERT_EQ(copy.hr, S_OK);
  SafeArrayData<BYTE> unchanged(by_value.parray);
  EXPECT_EQ(unchanged[0], 10);
}

TEST_F(DispatcherTest, VariantParametersPassAsGiven) {
  Call echo;
  Invoke(echo, widget_.Get(), 0x6002000e, DISPATCH_METHOD, {Variant(u"text")});
  ASSERT_EQ(echo.hr, S_OK);
  EXPECT_EQ(echo.result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(echo.result.bstrVal), u"text");
  Call flags;
  Invoke(flags, widget_.Get(), 0x6002000c, DISPATCH_METHOD, {});
  ASSERT_EQ(flags.hr, S_OK);
  EXPECT_EQ(flags.result.lVal, 102);  // defaults: enabled (-1) and TestColorBlue
}

TEST_F(DispatcherTest, TypeInfoListsMembersParametersAndHelp) {
  UINT count = 0;
  ASSERT_EQ(widget_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(widget_->GetTypeInfo(0, 0, info.ReleaseAndGetAddressOf()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, IID_IWidget);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  WORD funcs = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  ASSERT_EQ(funcs, 23);

  bool saw_level = false;
  for (UINT i = 0; i < funcs; ++i) {
    FUNCDESC* f = nullptr;
    ASSERT_EQ(info->GetFuncDesc(i, &f), S_OK);
    if (f->memid == 0x60020003) {
      ASSERT_EQ(f->cParams, 4);
      EXPECT_TRUE(f->lprgelemdescParam[1].paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT);
      EXPECT_EQ(f->lprgelemdescParam[1].paramdesc.pparamdescex->varDefaultValue.dblVal, 2.5);
      EXPECT_EQ(f->lprgelemdescParam[3].tdesc.vt, VT_PTR);
      EXPECT_EQ(f->lprgelemdescParam[3].tdesc.lptdesc->vt, VT_BSTR);
      BSTR names[5] = {};
      UINT got = 0;
      ASSERT_EQ(info->GetNames(f->memid, names, 5, &got), S_OK);
      ASSERT_EQ(got, 5u);
      EXPECT_EQ(BstrView(names[0]), u"Format");
      EXPECT_EQ(BstrView(names[2]), u"Scale");
      for (BSTR b : names) SysFreeString(b);
    }
    if (f->memid == 0x60020002 && f->invkind == INVOKE_PROPERTYGET) {
      saw_level = true;
      BSTR doc = nullptr;
      ASSERT_EQ(info->GetDocumentation(f->memid, nullptr, &doc, nullptr, nullptr), S_OK);
      EXPECT_EQ(BstrView(doc), u"Level of one output");
      SysFreeString(doc);
      // The index is an enumeration of the library: its type information is reachable.
      ASSERT_EQ(f->lprgelemdescParam[0].tdesc.vt, VT_USERDEFINED);
      ComPtr<ITypeInfo> colors;
      ASSERT_EQ(info->GetRefTypeInfo(f->lprgelemdescParam[0].tdesc.hreftype, colors.ReleaseAndGetAddressOf()),
                S_OK);
      VARDESC* v = nullptr;
      ASSERT_EQ(colors->GetVarDesc(4, &v), S_OK);
      EXPECT_EQ(v->lpvarValue->lVal, -1);
      BSTR name = nullptr;
      UINT got = 0;
      ASSERT_EQ(colors->GetNames(v->memid, &name, 1, &got), S_OK);
      EXPECT_EQ(BstrView(name), u"TestColorNone");
      SysFreeString(name);
      colors->ReleaseVarDesc(v);
    }
    info->ReleaseFuncDesc(f);
  }
  EXPECT_TRUE(saw_level);
  FUNCDESC* none = nullptr;
  EXPECT_EQ(info->GetFuncDesc(funcs, &none), TYPE_E_ELEMENTNOTFOUND);
}

TEST_F(DispatcherTest, MalformedCallsAreRefused) {
  const IID other = IID_IDispatch;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(widget_->Invoke(0x60020001, other, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"Count")};
  DISPID id = 0;
  EXPECT_EQ(widget_->GetIDsOfNames(other, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);

  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = 1;
  DISPID named = 0;
  DISPPARAMS more_named{&arg, &named, 1, 2};
  EXPECT_EQ(widget_->Invoke(0x60020003, IID_NULL, 0, DISPATCH_METHOD, &more_named, &result, nullptr, nullptr),
            E_INVALIDARG);
  DISPPARAMS no_array{nullptr, nullptr, 1, 0};
  EXPECT_EQ(widget_->Invoke(0x60020003, IID_NULL, 0, DISPATCH_METHOD, &no_array, &result, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(widget_->Invoke(0x60020001, IID_NULL, 0, 0, &none, &result, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  // No DISPPARAMS at all is a call without arguments; no result variant means the result is dropped.
  EXPECT_EQ(
      widget_->Invoke(0x60020001, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &result, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(
      widget_->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr, nullptr),
      S_OK);
  // A failure without EXCEPINFO leaves the error information for the caller to take.
  arg.lVal = 7;  // no such output
  DISPPARAMS bad_index{&arg, nullptr, 1, 0};
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(
      widget_->Invoke(0x60020002, IID_NULL, 0, DISPATCH_PROPERTYGET, &bad_index, &result, nullptr, nullptr),
      DISP_E_EXCEPTION);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_EQ(BstrView(description), u"No such output");
  SysFreeString(description);
  info->Release();
}

TEST_F(DispatcherTest, ReferencesToVariantsAreFollowed) {
  Variant inner(SHORT{12});
  Variant outer;
  client::RefVARIANT(outer, &inner);
  Call call;
  Invoke(call, widget_.Get(), 0x6002000f, DISPATCH_METHOD, {outer, Variant(2.0), Variant(u"abc")});
  ASSERT_EQ(call.hr, S_OK);
  EXPECT_EQ(call.result.dblVal, 27.0);

  Variant dangling;
  dangling.vt = VT_BYREF | VT_VARIANT;
  dangling.pvarVal = nullptr;
  Call bad;
  Invoke(bad, widget_.Get(), 0x6002000f, DISPATCH_METHOD, {dangling, Variant(2.0), Variant(u"abc")});
  EXPECT_EQ(bad.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bad.arg_err, 2u);

  // A put by reference (Set) falls back on the plain put of a value property.
  Call putref;
  Invoke(putref, widget_.Get(), 0x60020001, DISPATCH_PROPERTYPUTREF, {},
         {{DISPID_PROPERTYPUT, Variant(LONG{8})}});
  EXPECT_EQ(putref.hr, S_OK);
}

class ProbeTest : public DispatcherTest {
 protected:
  void SetUp() override {
    DispatcherTest::SetUp();
    ASSERT_EQ(widget_.As(&probe_), S_OK);
  }
  ComPtr<IProbe> probe_;
};

TEST_F(ProbeTest, InstrumentTextIsNeverAReasonToFail) {
  Call lenient;
  Invoke(lenient, probe_.Get(), 1, DISPATCH_METHOD, {});
  ASSERT_EQ(lenient.hr, S_OK);
  ASSERT_EQ(lenient.result.vt, VT_BSTR);
  EXPECT_EQ(BstrView(lenient.result.bstrVal), u"\u00E9t\u00E9");

  // The strict conversion throws inside the member: the caller gets the failure, the process lives on.
  Call strict;
  Invoke(strict, probe_.Get(), 2, DISPATCH_METHOD, {});
  ASSERT_EQ(strict.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(strict.excep.scode, kConversionFailed);
  EXPECT_EQ(strict.result.vt, VT_EMPTY);
}

TEST_F(ProbeTest, ExceptionsLeavingAMemberBecomeExceptionInformation) {
  const HRESULT probe_error = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);
  struct Case {
    TestThrow kind;
    HRESULT scode;
    std::u16string description;
    std::u16string source;
  } cases[] = {
      {TestThrowComError, probe_error, u"The instrument went away", u"TestSrv.Widget"},
      {TestThrowComErrorWithoutInfo, probe_error, u"Unknown error 0x80040201", u""},
      {TestThrowComErrorOfSuccess, E_FAIL, Utf8OrLatin1ToUtf16(com_error(S_FALSE).what()), u""},
      {TestThrowRuntimeError, E_FAIL, u"Lost the plot", u""},
      {TestThrowLatin1RuntimeError, E_FAIL, u"\u00E9t\u00E9", u""},
      {TestThrowBadAlloc, E_OUTOFMEMORY, SystemMessageTextW(E_OUTOFMEMORY), u""},
      {TestThrowNonStandard, E_UNEXPECTED, SystemMessageTextW(E_UNEXPECTED), u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    ASSERT_FALSE(c.description.empty());
    Call call;
    Invoke(call, probe_.Get(), 3, DISPATCH_METHOD, {Variant(LONG{c.kind})});
    ASSERT_EQ(call.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(call.excep.scode, c.scode);
    EXPECT_EQ(BstrView(call.excep.bstrDescription), c.description);
    EXPECT_EQ(BstrView(call.excep.bstrSource), c.source);
    EXPECT_EQ(call.result.vt,
              VT_EMPTY);  // the result the member set before it threw is freed, not handed out

    // A client through DispatchPtr sees the same failure as a com_error.
    try {
      DispatchPtr(probe_.Get()).InvokeById(3, DISPATCH_METHOD, {Variant(LONG{c.kind})});
      ADD_FAILURE() << "no exception";
    } catch (const com_error& e) {
      EXPECT_EQ(e.Error(), c.scode);
      EXPECT_EQ(e.Description(), c.description);
    }
  }
  // Without EXCEPINFO the caller finds the description as the thread's error information.
  VARIANT arg;
  arg.vt = VT_I4;
  arg.lVal = TestThrowRuntimeError;
  DISPPARAMS params{&arg, nullptr, 1, 0};
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(probe_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_EXCEPTION);
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  BSTR description = nullptr;
  info->GetDescription(&description);
  EXPECT_EQ(BstrView(description), u"Lost the plot");
  SysFreeString(description);
  info->Release();
}

// The type and value of a variant as text: "19:4000000000".
std::u16string Describe(const VARIANT& v) {
  Variant text;
  if (FAILED(VariantChangeType(&text, &v, 0, VT_BSTR))) return u"(no text)";
  return Utf8OrLatin1ToUtf16(std::to_string(v.vt)) + u":" + std::u16string(BstrView(text.bstrVal));
}

TEST_F(ProbeTest, DefaultsOfEveryTypeReachTheMemberAsTypeInfoReportsThem) {
  // IProbe::Defaults has a parameter of each type a default value can have; each default by its type.
  const std::map<VARTYPE, std::u16string> expected = {
      {VT_I2, u"-2"},   {VT_I4, u"-100000"}, {VT_R4, u"1.5"},    {VT_R8, u"-2.25"},      {VT_BSTR, u"unit"},
      {VT_BOOL, u"-1"}, {VT_UI1, u"200"},    {VT_UI2, u"65535"}, {VT_UI4, u"4000000000"}};
  std::set<VARTYPE> listed;
  for (const DefaultValueType& type : kDefaultValueTypes) listed.insert(type.vt);

  ComPtr<ITypeInfo> info;
  ASSERT_EQ(probe_->GetTypeInfo(0, 0, info.ReleaseAndGetAddressOf()), S_OK);
  FUNCDESC* f = nullptr;
  for (UINT i = 0; info->GetFuncDesc(i, &f) == S_OK && f->memid != 4; ++i) info->ReleaseFuncDesc(f);
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->memid, 4);

  Call call;  // every argument omitted
  Invoke(call, probe_.Get(), 4, DISPATCH_METHOD, {});
  ASSERT_EQ(call.hr, S_OK);
  ASSERT_EQ(call.result.vt, VT_ARRAY | VT_VARIANT);
  SafeArrayData<VARIANT> received(call.result.parray);
  ASSERT_EQ(received.status(), S_OK);
  // The same call through the client wrapper, whose C++ default arguments come from the same defaults.
  const Variant wrapped = TestSrvLib::IProbePtr(probe_.Get()).Defaults();
  ASSERT_EQ(wrapped.vt, VT_ARRAY | VT_VARIANT);
  SafeArrayData<VARIANT> passed(wrapped.parray);
  ASSERT_EQ(passed.status(), S_OK);

  std::set<VARTYPE> covered;
  for (SHORT k = 0; k + 1 < f->cParams; ++k) {
    SCOPED_TRACE(k);
    const ELEMDESC& param = f->lprgelemdescParam[k];
    ASSERT_TRUE(param.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT);
    const VARIANT& reported = param.paramdesc.pparamdescex->varDefaultValue;
    EXPECT_EQ(reported.vt, param.tdesc.vt) << "a default has the type of its parameter";
    covered.insert(reported.vt);
    ASSERT_EQ(expected.count(reported.vt), 1u);
    EXPECT_EQ(Describe(reported),
              Utf8OrLatin1ToUtf16(std::to_string(reported.vt)) + u":" + expected.at(reported.vt));
    EXPECT_EQ(Describe(received[k]), Describe(reported));
    EXPECT_EQ(Describe(passed[k]), Describe(reported));
  }
  info->ReleaseFuncDesc(f);
  EXPECT_EQ(covered, listed) << "every type of the table has its parameter";
}

TEST(ClientTest, ResultsAreCoercedToTheWrappersType) {
  Variant text(u"12");
  EXPECT_EQ(client::TakeI4(text), 12);
  EXPECT_EQ(text.vt, VT_EMPTY);
  Variant number(LONG{34});
  EXPECT_EQ(client::TakeBSTR(number).View(), u"34");
  Variant empty;
  EXPECT_FALSE(client::TakeDISPATCH(empty));
  Variant word(u"word");
  EXPECT_THROW(client::TakeR8(word), com_error);
  Variant not_array(LONG{1});
  EXPECT_THROW(client::TakeArray(not_array, VT_ARRAY | VT_UI1), com_error);
  EXPECT_THROW(DispatchPtr().GetIDOfName(u"x"), com_error);
}

}  // namespace
}  // namespace pgx::auto_
