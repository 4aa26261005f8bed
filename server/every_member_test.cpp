// Every member of every class a script reaches, called late-bound by name through IDispatch with arguments
// made from the type library, while the driver fails every call and the error objects are verbose. Whatever
// a member does, it must not crash, must answer S_OK or a failure, and must say in its error information
// which member failed, spelt as the type library spells it; and when the client lets go of the root,
// nothing may be left (the sanitizers report leaks, the module counts objects).
#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "automation/module.h"
#include "automation/safearray.h"
#include "automation/typelib.h"
#include "automation/variant.h"
#include "server/pgxsrv_idl.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using auto_::ComPtr;
using auto_::FuncInfo;
using auto_::ParamInfo;
using auto_::TypeInfoEntry;
using testing::RecordedInstrument;

const auto_::LibraryInfo& Library() {
  return pgxsrv_TypeLibrary();
}

// The name a member's error texts give it: the class (the interface without its "I") and the member.
std::string MemberName(const TypeInfoEntry& type, const FuncInfo& member) {
  return std::string(type.name + 1) + "." + member.name;
}

// Members whose error texts name another member by design.
const std::map<std::string, std::string> kNamedOtherwise = {
    {"Pulse.Frequency", "Instrument.Frequency"},  // the instrument's own member answers
};
// Classes that report through no error object: they fail with the HRESULT alone.
bool ReportsWithoutErrorObject(const TypeInfoEntry& type) {
  return std::string_view(type.name) == "ILimit";
}

std::u16string Utf16(const std::string& text) {
  std::u16string wide;
  auto_::Utf8ToUtf16(text, wide);
  return wide;
}

// Which arguments a call gets: values every member accepts; every optional argument left out and every
// enumeration at its end sentinel, which no member accepts; or the extremes of each type (the most negative
// integer, NaN, a long text, an empty array).
enum class Arguments { kAccepted, kOmittedOrOutOfRange, kExtreme };

// The arguments of one call, in IDispatch order (last parameter first), with the storage of the
// by-reference ones.
class ArgumentList {
 public:
  ArgumentList(const FuncInfo& member, Arguments kind) {
    const bool put = member.invkind == INVOKE_PROPERTYPUT;
    std::vector<auto_::Variant> in_order;
    for (USHORT k = 0; k < member.param_count; ++k) {
      const ParamInfo& p = member.params[k];
      if (p.is_retval()) continue;
      if (kind == Arguments::kOmittedOrOutOfRange && p.is_optional()) {
        in_order.push_back(auto_::Variant::Missing());
      } else {
        in_order.push_back(Make(p, kind));
      }
    }
    // IDispatch wants the last parameter first; a put's value goes as the named DISPID_PROPERTYPUT.
    args_.assign(in_order.rbegin(), in_order.rend());
    params_.rgvarg = args_.empty() ? nullptr : args_.data();
    params_.cArgs = static_cast<UINT>(args_.size());
    if (put) {
      params_.rgdispidNamedArgs = &put_id_;
      params_.cNamedArgs = 1;
    }
  }
  ~ArgumentList() {
    for (SAFEARRAY* array : arrays_) SafeArrayDestroy(array);
  }
  ArgumentList(const ArgumentList&) = delete;
  ArgumentList& operator=(const ArgumentList&) = delete;

  DISPPARAMS* params() { return &params_; }

 private:
  static LONG EnumerationValue(const TypeInfoEntry& type, Arguments kind) {
    if (kind == Arguments::kAccepted) return type.values[0].value;
    if (kind == Arguments::kExtreme) return std::numeric_limits<LONG>::min();
    for (USHORT i = 0; i < type.value_count; ++i) {
      if (std::string_view(type.values[i].name).ends_with("End")) return type.values[i].value;
    }
    return type.values[type.value_count - 1].value + 1;
  }

  static LONG Integer(Arguments kind) {
    return kind == Arguments::kExtreme ? std::numeric_limits<LONG>::min() : 1;
  }
  static double Real(Arguments kind) {
    return kind == Arguments::kExtreme ? std::numeric_limits<double>::quiet_NaN() : 1.0;
  }

  auto_::Variant Make(const ParamInfo& p, Arguments kind) {
    const VARTYPE vt = p.type.vt;
    const TypeInfoEntry* named = p.type.type_name ? Library().Find(p.type.type_name) : nullptr;
    if (vt == (VT_ARRAY | VT_UI1)) {
      SAFEARRAY*& array =
          arrays_.emplace_back(SafeArrayCreateVector(VT_UI1, 0, kind == Arguments::kExtreme ? 0 : 64));
      auto_::Variant v;
      v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
      v.pparray = &array;
      return v;
    }
    if (p.type.byref) {
      // An [out] or [in, out] scalar: the caller's storage, holding a value the member accepts.
      LONGLONG& storage = storage_.emplace_back(0);
      if (vt == VT_R8) {
        *reinterpret_cast<double*>(&storage) = Real(kind);
      } else if (named && named->kind == TKIND_ENUM) {
        *reinterpret_cast<LONG*>(&storage) = EnumerationValue(*named, kind);
      } else {
        *reinterpret_cast<LONG*>(&storage) = Integer(kind);
      }
      auto_::Variant v;
      v.vt = static_cast<VARTYPE>(VT_BYREF | vt);
      v.byref = &storage;
      return v;
    }
    if (named && named->kind == TKIND_ENUM) return auto_::Variant(EnumerationValue(*named, kind));
    switch (vt) {
      case VT_I2:
        return auto_::Variant(static_cast<SHORT>(kind == Arguments::kExtreme ? SHRT_MIN : 1));
      case VT_I4:
      case VT_VARIANT:
        return auto_::Variant(Integer(kind));
      case VT_R4:
      case VT_R8:
        return auto_::Variant(Real(kind));
      case VT_BOOL:
        return auto_::Variant(true);
      case VT_BSTR:
        return auto_::Variant(std::u16string(kind == Arguments::kExtreme ? 1000 : 1, u'x'));
      default:
        ADD_FAILURE() << "no argument of type " << p.type.idl << " for " << p.name;
        return auto_::Variant();
    }
  }

  std::vector<auto_::Variant> args_;
  std::deque<LONGLONG> storage_;
  std::vector<SAFEARRAY*> arrays_;
  DISPID put_id_ = DISPID_PROPERTYPUT;
  DISPPARAMS params_{nullptr, nullptr, 0, 0};
};

struct Outcome {
  HRESULT invoke;  // what Invoke answered
  HRESULT member;  // what the member answered (S_OK when Invoke succeeded)
  std::u16string description;
  auto_::Variant result;
};

// Calls `member` of `object` by its name.
Outcome Call(IDispatch* object, const FuncInfo& member, Arguments kind) {
  Outcome outcome{};
  std::u16string name = Utf16(member.name);
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  outcome.invoke = object->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(outcome.invoke)) return outcome;
  EXPECT_EQ(id, member.dispid) << member.name;
  ArgumentList args(member, kind);
  EXCEPINFO excep{};
  UINT arg_err = 0;
  const WORD flags = member.invkind == INVOKE_PROPERTYPUT   ? DISPATCH_PROPERTYPUT
                     : member.invkind == INVOKE_PROPERTYGET ? DISPATCH_PROPERTYGET
                                                            : DISPATCH_METHOD;
  outcome.invoke = object->Invoke(id, IID_NULL, 0, flags, args.params(), &outcome.result, &excep, &arg_err);
  outcome.member = outcome.invoke == DISP_E_EXCEPTION ? excep.scode : outcome.invoke;
  if (excep.bstrDescription) outcome.description = auto_::BstrView(excep.bstrDescription);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrHelpFile);
  return outcome;
}

// One object of each interface a script can reach from the root, found by following every property that
// hands out an object of the library (with the driver answering).
std::map<std::string, ComPtr<IDispatch>> ReachableObjects(IDispatch* root) {
  std::map<std::string, ComPtr<IDispatch>> found;
  std::vector<std::pair<const TypeInfoEntry*, ComPtr<IDispatch>>> pending;
  pending.emplace_back(Library().Find("IPgxGen"), ComPtr<IDispatch>(root));
  found["IPgxGen"] = ComPtr<IDispatch>(root);
  while (!pending.empty()) {
    auto [type, object] = pending.back();
    pending.pop_back();
    for (USHORT i = 0; i < type->func_count; ++i) {
      const FuncInfo& member = type->funcs[i];
      if (member.invkind != INVOKE_PROPERTYGET || member.param_count == 0) continue;
      const ParamInfo& retval = member.params[member.param_count - 1];
      if (!retval.is_retval() || retval.type.vt != VT_DISPATCH || !retval.type.type_name) continue;
      const TypeInfoEntry* child_type = Library().Find(retval.type.type_name);
      if (!child_type || found.count(child_type->name)) continue;
      Outcome outcome = Call(object.Get(), member, Arguments::kAccepted);
      if (outcome.invoke != S_OK || outcome.result.vt != VT_DISPATCH || !outcome.result.pdispVal) continue;
      ComPtr<IDispatch> child(outcome.result.pdispVal);
      found[child_type->name] = child;
      pending.emplace_back(child_type, child);
    }
  }
  return found;
}

void SetVerbose(IDispatch* err) {
  auto_::Variant on(true);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&on, &put, 1, 1};
  std::u16string name = u"Verbose";
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  ASSERT_EQ(err->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  ASSERT_EQ(err->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr), S_OK);
}

ComPtr<IDispatch> ErrOf(IDispatch* object) {
  auto_::Variant err;
  std::u16string name = u"Err";
  LPOLESTR names[] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &err, nullptr, nullptr), S_OK);
  return ComPtr<IDispatch>(err.vt == VT_DISPATCH ? err.pdispVal : nullptr);
}

// The front-ends of the instrument: models with few and with many functions missing, so that members
// run both into the driver and into the model restrictions.
struct Model {
  const char* front_ends;
  bool levels;  // the model sets levels (and so has Voltage, Current and Limit)
};
// What the driver does once the objects are reached.
enum class Driver {
  kFailsEveryCall,  // a time-out: every member that reaches it fails
  kAnswersNothing,  // success with zero values and empty texts, which no instrument would answer
};

void CallEveryMember(const Model& model, Driver driver) {
  {
    RecordedInstrument instrument(model.front_ends);
    ComPtr<IDispatch> root;
    ASSERT_EQ(instrument.root->QueryInterface(IID_IDispatch, root.ReleaseAndGetAddressOfVoid()), S_OK);
    std::map<std::string, ComPtr<IDispatch>> objects = ReachableObjects(root.Get());
    for (const char* expected :
         {"IInstruments",  "IInstrument", "IErr",      "IRestrictions", "IChannels",   "IChannel",
          "IOutput",       "IPulse",      "IDelay",    "IDoubleDelay",  "ITransition", "IMode",
          "ITrigger",      "IArm",        "IClkInput", "IExtInput",     "ITrgOutput",  "IPattern",
          "IPllReference", "ISetting",    "IStatus",   "IGroup",        "I_Cmd"}) {
      EXPECT_TRUE(objects.count(expected)) << expected << " was not reached";
    }
    for (const char* expected : {"IVoltage", "ICurrent", "ILimit"}) {
      EXPECT_EQ(objects.count(expected), model.levels ? 1u : 0u) << expected;
    }
    SetVerbose(ErrOf(root.Get()).Get());
    SetVerbose(ErrOf(objects["IInstrument"].Get()).Get());

    instrument.driver.Reset();
    if (driver == Driver::kFailsEveryCall) {
      for (const std::string& function : driver::testing::RecordingDriver::Functions()) {
        instrument.driver.Fail(function, VI_ERROR_TMO);
      }
    }

    int calls = 0;
    for (const auto& [interface_name, object] : objects) {
      const TypeInfoEntry& type = *Library().Find(interface_name);
      for (USHORT i = type.func_count - type.own_func_count; i < type.func_count; ++i) {
        const FuncInfo& member = type.funcs[i];
        const std::string name = MemberName(type, member);
        auto other = kNamedOtherwise.find(name);
        const std::u16string decoration = u" [in the call to PGXGEN...." +
                                          Utf16(other == kNamedOtherwise.end() ? name : other->second) + u"]";
        for (Arguments kind : {Arguments::kAccepted, Arguments::kOmittedOrOutOfRange, Arguments::kExtreme}) {
          SCOPED_TRACE(name + (kind == Arguments::kAccepted              ? " (accepted arguments)"
                               : kind == Arguments::kOmittedOrOutOfRange ? " (out of range)"
                                                                         : " (extremes)"));
          Outcome outcome = Call(object.Get(), member, kind);
          ++calls;
          // The arguments were of the right types, so only the member itself may fail.
          ASSERT_TRUE(outcome.invoke == S_OK || outcome.invoke == DISP_E_EXCEPTION)
              << std::hex << outcome.invoke;
          if (outcome.invoke == S_OK) continue;
          EXPECT_TRUE(FAILED(outcome.member)) << std::hex << outcome.member;
          std::string text;
          auto_::Utf16ToUtf8(outcome.description, text);
          if (ReportsWithoutErrorObject(type)) {
            EXPECT_EQ(outcome.description.find(u"[in the call to"), std::u16string::npos) << text;
          } else {
            EXPECT_NE(outcome.description.find(decoration), std::u16string::npos) << text;
          }
        }
      }
    }
    EXPECT_GT(calls, 250);
  }
  EXPECT_EQ(auto_::Module::ObjectCount(), 0);
}

class EveryMember : public ::testing::TestWithParam<Model> {};

TEST_P(EveryMember, FailsSoundlyAndNamesItselfWhenTheDriverFailsEveryCall) {
  CallEveryMember(GetParam(), Driver::kFailsEveryCall);
}

TEST_P(EveryMember, FailsSoundlyAndNamesItselfWhenTheDriverAnswersNothing) {
  CallEveryMember(GetParam(), Driver::kAnswersNothing);
}

INSTANTIATE_TEST_SUITE_P(Models, EveryMember,
                         ::testing::Values(Model{"Q530A,Q530A", true}, Model{"Q520A", false},
                                           Model{"M4040A", true}),
                         [](const ::testing::TestParamInfo<Model>& info) {
                           std::string name = info.param.front_ends;
                           for (char& c : name) c = c == ',' ? '_' : c;
                           return name;
                         });

}  // namespace
}  // namespace pgx::server
