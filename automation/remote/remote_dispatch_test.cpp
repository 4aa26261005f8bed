// One table of dispatch cases, each run on the test server's widget in process and on a widget hosted
// by pgxd on loopback: what a caller sees (HRESULT, EXCEPINFO, argument error, result, by-reference
// arguments) must be the same both ways, and what the table says.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "automation/activation.h"
#include "automation/apartment.h"
#include "automation/client.h"
#include "automation/member_chain.h"
#include "automation/remote/testing/host_process.h"
#include "automation/testing/testsrv_client.h"
#include "automation/testing/testsrv_idl.h"

namespace {

using pgx::auto_::ComPtr;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;

std::string Narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x80) {
      out += static_cast<char>(c);
    } else {
      char buf[12];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

std::string Render(const VARIANT& v);

// An object by what it says about itself: its Index (children) or its Name (widgets).
std::string RenderObject(IDispatch* object) {
  if (!object) return "nothing";
  for (const char16_t* member : {u"Index", u"Name"}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
    DISPID id = 0;
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) continue;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Variant value;
    if (SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value,
                                 nullptr, nullptr))) {
      return "object(" + Narrow(member) + "=" + Render(value) + ")";
    }
  }
  return "object(?)";
}

std::string RenderArray(SAFEARRAY* array) {
  if (!array) return "array(null)";
  VARTYPE vt = VT_EMPTY;
  SafeArrayGetVartype(array, &vt);
  std::string out = "array(vt" + std::to_string(vt);
  for (UINT d = 1; d <= SafeArrayGetDim(array); ++d) {
    LONG lo = 0;
    LONG hi = 0;
    SafeArrayGetLBound(array, d, &lo);
    SafeArrayGetUBound(array, d, &hi);
    out += " " + std::to_string(lo) + ".." + std::to_string(hi);
  }
  out += ":";
  const ULONG count = pgx::auto_::SafeArrayElementCount(array);
  pgx::auto_::SafeArrayData<BYTE> data(array);
  for (ULONG i = 0; i < count; ++i) {
    const BYTE* p = data.data() + static_cast<std::size_t>(i) * array->cbElements;
    VARIANT item;
    VariantInit(&item);
    if (vt == VT_VARIANT) {
      item = *reinterpret_cast<const VARIANT*>(p);
    } else {
      item.vt = vt;
      std::memcpy(&item.llVal, p, array->cbElements);
    }
    out += " " + Render(item);
  }
  return out + ")";
}

std::string Render(const VARIANT& v) {
  if (v.vt & VT_ARRAY) return RenderArray(v.parray);
  char buf[64];
  switch (v.vt) {
    case VT_EMPTY:
      return "empty";
    case VT_NULL:
      return "null";
    case VT_I2:
      return "i2 " + std::to_string(v.iVal);
    case VT_I4:
      return "i4 " + std::to_string(v.lVal);
    case VT_R4:
      std::snprintf(buf, sizeof buf, "r4 %g", v.fltVal);
      return buf;
    case VT_R8:
      std::snprintf(buf, sizeof buf, "r8 %g", v.dblVal);
      return buf;
    case VT_BSTR:
      return "\"" + Narrow(pgx::auto_::BstrView(v.bstrVal)) + "\"";
    case VT_BOOL:
      return v.boolVal ? "true" : "false";
    case VT_ERROR:
      std::snprintf(buf, sizeof buf, "error 0x%08X", static_cast<unsigned>(v.scode));
      return buf;
    case VT_UI1:
      return "ui1 " + std::to_string(v.bVal);
    case VT_UI2:
      return "ui2 " + std::to_string(v.uiVal);
    case VT_UI4:
      return "ui4 " + std::to_string(v.ulVal);
    case VT_DISPATCH:
      return RenderObject(v.pdispVal);
    case VT_UNKNOWN: {
      if (!v.punkVal) return "unknown(null)";
      ComPtr<IEnumVARIANT> items;
      if (SUCCEEDED(v.punkVal->QueryInterface(IID_IEnumVARIANT, items.ReleaseAndGetAddressOfVoid()))) {
        std::string out = "enum(";
        for (;;) {
          Variant item;
          ULONG fetched = 0;
          if (items->Next(1, &item, &fetched) != S_OK || fetched == 0) break;
          out += " " + Render(item);
        }
        return out + ")";
      }
      return "unknown";
    }
    default:
      return "vt" + std::to_string(v.vt);
  }
}

// One call through IDispatch::Invoke as a late-bound caller makes it, rendered as what the caller sees.
struct Call {
  std::u16string member;
  WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
  std::vector<VARIANT> args;  // DISPPARAMS order: last parameter first
  std::vector<DISPID> named;

  std::string On(IDispatch* object) {
    LPOLESTR names[] = {member.data()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return Hr(hr);
    if (flags & DISPATCH_PROPERTYPUT) named.push_back(DISPID_PROPERTYPUT);
    DISPPARAMS dp{args.empty() ? nullptr : args.data(), named.empty() ? nullptr : named.data(),
                  static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
    Variant result;
    EXCEPINFO excep{};
    UINT arg_err = 99;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp, &result, &excep, &arg_err);
    std::string out = Hr(hr);
    if (hr == DISP_E_EXCEPTION) {
      char buf[32];
      std::snprintf(buf, sizeof buf, " scode=0x%08X", static_cast<unsigned>(excep.scode));
      out += buf;
      out += " source=" + Narrow(pgx::auto_::BstrView(excep.bstrSource));
      out += " \"" + Narrow(pgx::auto_::BstrView(excep.bstrDescription)) + "\"";
      SysFreeString(excep.bstrSource);
      SysFreeString(excep.bstrDescription);
      SysFreeString(excep.bstrHelpFile);
    }
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND) out += " argerr=" + std::to_string(arg_err);
    if (SUCCEEDED(hr)) out += " -> " + Render(result);
    return out;
  }

  static std::string Hr(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
  }
};

VARIANT I4(LONG x) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = x;
  return v;
}
VARIANT R8(double x) {
  VARIANT v;
  v.vt = VT_R8;
  v.dblVal = x;
  return v;
}
VARIANT Str(const Variant& keep) {
  return keep;  // borrowed
}

struct Case {
  const char* name;
  std::function<std::string(IDispatch*)> run;
  const char* expected;
};

std::string CallMember(IDispatch* w, std::u16string member, std::vector<VARIANT> args = {},
                       WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET) {
  Call c{std::move(member), flags, std::move(args), {}};
  return c.On(w);
}

const Variant kUnit(u"V");
const Variant kText(std::u16string_view(u"tr\u00e9s\0bien", 9));
const Variant kFailText(u"Out of range: 7");

std::vector<Case> Cases() {
  return {
      {"default property get", [](IDispatch* w) { return CallMember(w, u"Name"); },
       "0x00000000 -> \"widget\""},
      {"property put then get",
       [](IDispatch* w) {
         std::string out = CallMember(w, u"Count", {I4(42)}, DISPATCH_PROPERTYPUT);
         return out + " / " + CallMember(w, u"Count");
       },
       "0x00000000 -> empty / 0x00000000 -> i4 42"},
      {"indexed property",
       [](IDispatch* w) {
         std::string out = CallMember(w, u"Level", {R8(2.5), I4(TestColorGreen)}, DISPATCH_PROPERTYPUT);
         out += " / " + CallMember(w, u"Level", {I4(TestColorGreen)});
         return out + " / " + CallMember(w, u"Level", {I4(7)});
       },
       "0x00000000 -> empty / 0x00000000 -> r8 2.5 / 0x80020009 scode=0x80070057 source=TestSrv.Widget "
       "\"No such output\""},
      {"optional arguments take their defaults",
       [](IDispatch* w) { return CallMember(w, u"Format", {I4(3)}) + " / " + CallMember(w, u"Flags"); },
       "0x00000000 -> \"7.5 unit\" / 0x00000000 -> i4 102"},
      {"named arguments",
       [](IDispatch* w) {
         LPOLESTR names[] = {const_cast<LPOLESTR>(u"Format"), const_cast<LPOLESTR>(u"Suffix"),
                             const_cast<LPOLESTR>(u"Number")};
         DISPID ids[3];
         if (FAILED(w->GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids)))
           return std::string("names");
         Call c{u"Format", DISPATCH_METHOD, {Str(kUnit), I4(4)}, {ids[1], ids[2]}};
         return c.On(w);
       },
       "0x00000000 -> \"10 V\""},
      {"by-reference out and in-out arguments",
       [](IDispatch* w) {
         LONG quotient = -1;
         LONG remainder = 100;
         VARIANT q;
         q.vt = VT_BYREF | VT_I4;
         q.plVal = &quotient;
         VARIANT r;
         r.vt = VT_BYREF | VT_I4;
         r.plVal = &remainder;
         std::string out = CallMember(w, u"Divide", {r, q, I4(5), I4(17)});
         return out + " q=" + std::to_string(quotient) + " r=" + std::to_string(remainder);
       },
       "0x00000000 -> empty q=3 r=102"},
      {"a by-reference variant argument",
       [](IDispatch* w) {
         Variant length(LONG{5});
         VARIANT l;
         l.vt = VT_BYREF | VT_VARIANT;
         l.pvarVal = &length;
         std::string out = CallMember(w, u"Mode", {I4(TestColorBlue), l}, DISPATCH_PROPERTYPUT);
         Variant read(LONG{0});
         VARIANT r;
         r.vt = VT_BYREF | VT_VARIANT;
         r.pvarVal = &read;
         out += " / " + CallMember(w, u"Mode", {r});
         return out + " length=" + Render(read) + " unchanged=" + Render(length);
       },
       "0x00000000 -> empty / 0x00000000 -> i4 2 length=i4 5 unchanged=i4 5"},
      {"a failing member writes nothing back",
       [](IDispatch* w) {
         LONG quotient = -1;
         VARIANT q;
         q.vt = VT_BYREF | VT_I4;
         q.plVal = &quotient;
         return CallMember(w, u"Divide", {q, I4(0), I4(17)}) + " q=" + std::to_string(quotient);
       },
       "0x80020009 scode=0x80070057 source=TestSrv.Widget \"Division by zero\" q=-1"},
      {"safe array in and out by reference",
       [](IDispatch* w) {
         SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 1, 3);
         VARIANT a;
         a.vt = VT_BYREF | VT_ARRAY | VT_UI1;
         a.pparray = &bytes;
         BYTE seed = 10;
         VARIANT s;
         s.vt = VT_UI1;
         s.bVal = seed;
         std::string out = CallMember(w, u"Fill", {a, s});
         VARIANT shown;
         shown.vt = VT_ARRAY | VT_UI1;
         shown.parray = bytes;
         out += " " + Render(shown);
         SafeArrayDestroy(bytes);
         return out;
       },
       "0x00000000 -> empty array(vt17 1..3: ui1 10 ui1 11 ui1 12)"},
      {"a NULL array by reference comes back made",
       [](IDispatch* w) {
         SAFEARRAY* bytes = nullptr;
         VARIANT a;
         a.vt = VT_BYREF | VT_ARRAY | VT_UI1;
         a.pparray = &bytes;
         std::string out = CallMember(w, u"Fill", {a, I4(1)});
         VARIANT shown;
         shown.vt = VT_ARRAY | VT_UI1;
         shown.parray = bytes;
         out += " " + Render(shown);
         SafeArrayDestroy(bytes);
         return out;
       },
       "0x00000000 -> empty array(vt17 0..3: ui1 1 ui1 2 ui1 3 ui1 4)"},
      {"values of every type echo back",
       [](IDispatch* w) {
         std::string out;
         VARIANT values[8];
         values[0] = I4(-7);
         values[1] = R8(0.125);
         values[2] = Str(kText);
         values[3].vt = VT_BOOL;
         values[3].boolVal = VARIANT_TRUE;
         values[4].vt = VT_NULL;
         values[5].vt = VT_EMPTY;
         values[6].vt = VT_ERROR;
         values[6].scode = DISP_E_PARAMNOTFOUND;
         values[7].vt = VT_UI2;
         values[7].uiVal = 65535;
         for (VARIANT& v : values) out += CallMember(w, u"Echo", {v}) + "; ";
         return out;
       },
       "0x00000000 -> i4 -7; 0x00000000 -> r8 0.125; 0x00000000 -> \"tr\\u00E9s\\u0000bien\"; 0x00000000 -> "
       "true; "
       "0x00000000 -> null; 0x00000000 -> empty; 0x8002000F; 0x00000000 -> ui2 65535; "},
      {"an array of variants echoes back",
       [](IDispatch* w) {
         SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 1}};
         SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
         {
           pgx::auto_::SafeArrayData<VARIANT> items(array);
           items[0] = I4(1);
           items[1].vt = VT_BSTR;
           items[1].bstrVal = SysAllocString(u"two");
           items[2] = R8(3.5);
           items[3].vt = VT_BOOL;
           items[3].boolVal = VARIANT_FALSE;
         }
         VARIANT v;
         v.vt = VT_ARRAY | VT_VARIANT;
         v.parray = array;
         std::string out = CallMember(w, u"Echo", {v});
         SafeArrayDestroy(array);
         return out;
       },
       "0x00000000 -> array(vt12 0..1 1..2: i4 1 \"two\" r8 3.5 false)"},
      {"a missing argument", [](IDispatch* w) { return CallMember(w, u"Echo", {}); }, "0x8002000F"},
      {"objects in results",
       [](IDispatch* w) {
         std::string out = CallMember(w, u"Child");
         out += " / " + CallMember(w, u"Item", {I4(2)});
         return out + " / " + CallMember(w, u"Item", {I4(9)});
       },
       "0x00000000 -> object(Index=i4 0) / 0x00000000 -> object(Index=i4 2) / 0x80020009 scode=0x80070057 "
       "source=TestSrv.Widget \"Index out of range\""},
      {"an object's own members and its parent",
       [](IDispatch* w) {
         Variant child;
         Call c{u"Item", DISPATCH_PROPERTYGET, {I4(3)}, {}};
         LPOLESTR names[] = {const_cast<LPOLESTR>(u"Item")};
         DISPID id;
         w->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
         DISPPARAMS dp{c.args.data(), nullptr, 1, 0};
         w->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &dp, &child, nullptr, nullptr);
         if (child.vt != VT_DISPATCH) return std::string("no child");
         std::string out = CallMember(child.pdispVal, u"Parent");
         return out + " / " + CallMember(child.pdispVal, u"Items");
       },
       "0x00000000 -> object(Name=\"widget\") / 0x00000000 -> enum( i4 3 i4 4)"},
      {"an object passed back to its host is the same object",
       [](IDispatch* w) {
         Variant child;
         DISPPARAMS none{nullptr, nullptr, 0, 0};
         LPOLESTR names[] = {const_cast<LPOLESTR>(u"Child")};
         DISPID id;
         w->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
         w->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &child, nullptr, nullptr);
         return CallMember(w, u"Adopt", {child});
       },
       "0x00000000 -> true"},
      {"a collection enumerates its objects",
       [](IDispatch* w) {
         Call c{u"_NewEnum", DISPATCH_PROPERTYGET, {}, {}};
         DISPPARAMS none{nullptr, nullptr, 0, 0};
         Variant items;
         HRESULT hr = w->Invoke(DISPID_NEWENUM, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                &items, nullptr, nullptr);
         return Call::Hr(hr) + " -> " + Render(items);
       },
       "0x00000000 -> enum( object(Index=i4 1) object(Index=i4 2) object(Index=i4 3))"},
      {"errors carry their information",
       [](IDispatch* w) {
         Variant code(LONG{static_cast<LONG>(0x80040201)});
         return CallMember(w, u"Fail", {Str(kFailText), code});
       },
       "0x80020009 scode=0x80040201 source=TestSrv.Widget \"Out of range: 7\""},
      {"dispatch errors of the caller's own making",
       [](IDispatch* w) {
         Variant text(u"seven");
         std::string out = CallMember(w, u"Item", {Str(text)});
         out += " / " + CallMember(w, u"Mix", {I4(1)});
         out += " / " + CallMember(w, u"NoSuchMember");
         return out + " / " + CallMember(w, u"Count", {}, DISPATCH_METHOD);
       },
       "0x80020009 scode=0x80020005 source=TestSrv.Widget \"Index must be a number\" / 0x8002000F / "
       "0x80020006 / "
       "0x80020003"},
      {"type mismatch names the argument",
       [](IDispatch* w) {
         Variant text(u"many");
         return CallMember(w, u"Mix", {Str(kUnit), R8(2), Str(text)});
       },
       "0x80020005 argerr=2"},
      {"a slow member", [](IDispatch* w) { return CallMember(w, u"Pause", {I4(1)}); }, "0x00000000 -> i4 1"},
      {"the generated client wrappers",
       [](IDispatch* w) {
         TestSrvLib::IWidgetPtr widget(w);
         widget.PutName(pgx::auto_::Bstr(u"bench"));
         LONG q = 0;
         LONG r = 1;
         widget.Divide(23, 4, &q, &r);
         std::string out = Narrow(widget.GetName().View()) + " " + Narrow(widget.Format(2, 1.5).View()) +
                           " " + std::to_string(q) + " " + std::to_string(r) + " " +
                           std::to_string(widget.GetItem(Variant(LONG{2})).GetIndex());
         try {
           widget.Fail(0x80040333, Variant(u"wrapped"));
         } catch (const pgx::auto_::com_error& e) {
           char buf[16];
           std::snprintf(buf, sizeof buf, "%08X", static_cast<unsigned>(e.Error()));
           out += std::string(" ") + buf + " " + e.what();
         }
         return out;
       },
       "bench 3 unit 5 4 2 80040333 wrapped"},
      {"a chain of members",
       [](IDispatch* w) {
         std::vector<pgx::auto_::MemberStep> steps(4);
         steps[0].name = u"Item";
         steps[0].args.push_back(Variant(LONG{2}));
         steps[1].name = u"Parent";
         steps[2].name = u"Child";
         steps[3].name = u"Index";
         std::string out = Render(pgx::auto_::InvokeChain(w, steps));
         steps[0].args[0] = Variant(LONG{8});
         try {
           pgx::auto_::InvokeChain(w, steps);
         } catch (const pgx::auto_::com_error& e) {
           out += std::string(" / ") + e.what();
         }
         steps[0].args[0] = Variant(LONG{1});
         steps[1].name = u"Index";
         try {
           pgx::auto_::InvokeChain(w, steps);
         } catch (const pgx::auto_::com_error& e) {
           out += std::string(" / ") + Call::Hr(e.Error());
         }
         return out;
       },
       "i4 0 / Index out of range / 0x80020005"},
      {"type information lists the members",
       [](IDispatch* w) {
         ComPtr<ITypeInfo> info;
         HRESULT hr = w->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.ReleaseAndGetAddressOf());
         if (FAILED(hr)) return Call::Hr(hr);
         TYPEATTR* attr = nullptr;
         info->GetTypeAttr(&attr);
         std::string out = std::to_string(attr->cFuncs) + " members:";
         const WORD funcs = attr->cFuncs;
         info->ReleaseTypeAttr(attr);
         for (WORD i = 0; i < funcs; i += 5) {
           FUNCDESC* fd = nullptr;
           info->GetFuncDesc(i, &fd);
           BSTR names[4] = {};
           UINT n = 0;
           info->GetNames(fd->memid, names, 4, &n);
           out += " " + Narrow(pgx::auto_::BstrView(names[0])) + "/" + std::to_string(fd->invkind) + "/" +
                  std::to_string(fd->cParams);
           for (BSTR b : names) SysFreeString(b);
           info->ReleaseFuncDesc(fd);
         }
         BSTR doc = nullptr;
         info->GetDocumentation(0x60020002, nullptr, &doc, nullptr, nullptr);
         out += " \"" + Narrow(pgx::auto_::BstrView(doc)) + "\"";
         SysFreeString(doc);
         return out;
       },
       "23 members: Name/2/1 Level/4/2 Fill/1/2 GetAttributes/1/1 Echo/1/2 \"Level of one output\""},
  };
}

class RemoteDispatchTest : public ::testing::TestWithParam<Case> {
 protected:
  static void SetUpTestSuite() { host_ = new pgx::remote::testing::HostProcess(); }
  static void TearDownTestSuite() {
    delete host_;
    host_ = nullptr;
  }

  static pgx::remote::testing::HostProcess* host_;
  pgx::auto_::ApartmentScope apartment_;
};
pgx::remote::testing::HostProcess* RemoteDispatchTest::host_ = nullptr;

TEST_P(RemoteDispatchTest, SameLocallyAndThroughTheHost) {
  const Case& c = GetParam();
  ASSERT_TRUE(host_->listening());
  ComPtr<IDispatch> local;
  ASSERT_EQ(CoCreateInstance(CLSID_Widget, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                             local.ReleaseAndGetAddressOfVoid()),
            S_OK);
  ComPtr<IDispatch> remote;
  ASSERT_EQ(pgx::remote::testing::CreateWidget(host_->server_name(), remote.ReleaseAndGetAddressOf()), S_OK);
  const std::string here = c.run(local.Get());
  const std::string there = c.run(remote.Get());
  EXPECT_EQ(here, c.expected);
  EXPECT_EQ(there, here);
}

INSTANTIATE_TEST_SUITE_P(Cases, RemoteDispatchTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p; ++p) {
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           }
                           return name;
                         });

}  // namespace
