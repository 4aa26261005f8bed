// The server's type library as clients see it: every interface with its members, the DISPIDs, kinds,
// parameters and defaults that scripts and bound clients depend on, the constants with their sentinels, the
// VISA attribute record, and names that late binding can resolve without ambiguity.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "automation/dispatcher.h"
#include "automation/idl_export.h"
#include "server/pgxsrv_idl.h"

namespace {

using pgx::auto_::DispatchTable;
using pgx::auto_::FuncInfo;
using pgx::auto_::LibraryInfo;
using pgx::auto_::ParamInfo;
using pgx::auto_::TypeInfoEntry;

const LibraryInfo& Library() {
  return pgxsrv_TypeLibrary();
}

const TypeInfoEntry& Type(std::string_view name) {
  const TypeInfoEntry* t = Library().Find(name);
  if (!t) throw std::runtime_error("no type " + std::string(name));
  return *t;
}

std::span<const FuncInfo> Funcs(const TypeInfoEntry& t) {
  return {t.funcs, t.func_count};
}

// The member `name` of kind `kind` of interface `itf`, or nullptr.
const FuncInfo* Member(std::string_view itf, std::string_view name, INVOKEKIND kind) {
  for (const FuncInfo& f : Funcs(Type(itf)))
    if (f.name == name && f.invkind == kind) return &f;
  return nullptr;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::u16string Upper16(std::string_view s) {
  std::u16string out;
  for (char c : s) out += static_cast<char16_t>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

constexpr INVOKEKIND kGet = INVOKE_PROPERTYGET;
constexpr INVOKEKIND kPut = INVOKE_PROPERTYPUT;
constexpr INVOKEKIND kMethod = INVOKE_FUNC;

// The restriction masks of the instrument models, written with the constants: a constant with a wrong value
// breaks the build here.
static_assert(PgxNotImplVxi == (PgxNotImplVxiTrigSource | PgxNotImplVxiTrigEnable | PgxNotImplArmSourceVxi));
static_assert((PgxNotImplOutImpedance | PgxNotImplLoadComp | PgxNotImplOutputMath | PgxNotImplOutStateCompl |
               PgxNotImplVxiTrigSource) == 0x07C0);
static_assert((PgxNotImplTransTime | PgxNotImplTransHold | PgxNotImplLevel | PgxNotImplLimit |
               PgxNotImplOutImpedance | PgxNotImplLoadComp | PgxNotImplOutputMath | PgxNotImplOutStateCompl |
               PgxNotImplVxiTrigSource) == 0x07F3);
static_assert((PgxNotImplOutStateCompl | PgxNotImplTrgOutSrc) == 0x8200);
static_assert((PgxNotImplTransHold | PgxNotImplLeTeCouple | PgxNotImplOutImpedance | PgxNotImplLoadComp |
               PgxNotImplOutputMath | PgxNotImplLeTeAbs | PgxNotImplTrgOutSrc) == 0xC1C6);
static_assert((PgxNotImplPattern | PgxNotImplOutStateCompl | PgxNotImplVxi | PgxNotImplAutoCalibrate |
               PgxNotImplTrgOutSrc) == 0xBE08);
static_assert((PgxNotImplOutStateCompl | PgxNotImplVxi | PgxNotImplAutoCalibrate | PgxNotImplTrgOutSrc) ==
              0xBE00);
static_assert((PgxNotImplOutStateCompl | PgxNotImplVxiTrigSource | PgxNotImplVxiTrigEnable |
               PgxNotImplArmSourceVxi | PgxNotImplTrgOutSrc) == 0x9E00);
static_assert((PgxNotImplTransHold | PgxNotImplLeTeCouple | PgxNotImplOutImpedance | PgxNotImplLoadComp |
               PgxNotImplOutputMath | PgxNotImplVxi | PgxNotImplLeTeAbs | PgxNotImplTrgOutSrc) == 0xDDC6);
// The record's "none" values, read from fields of the VISA types, are the constants that name them.
static_assert(decltype(ViAttributeInfo::GpibSecAddr){0xFFFF} == PgxViNoSecAddr);
static_assert(decltype(ViAttributeInfo::Slot){-1} == PgxViUnknownSlot);
// The VXI trigger lines are numbered as the arming sources that name the same lines.
static_assert(LONG{PgxVxiTriggerLineECLT0} == LONG{PgxArmSourceECLT0} &&
              LONG{PgxVxiTriggerLineTTLT7} == LONG{PgxArmSourceTTLT7});

TEST(PgxsrvTypeLibrary, IsTheLibraryClientsLookUp) {
  const LibraryInfo& lib = Library();
  EXPECT_STREQ(lib.name, "pgxsrv");
  EXPECT_EQ(lib.major, 1);
  EXPECT_EQ(lib.minor, 0);
  ASSERT_NE(lib.helpstring, nullptr);
  EXPECT_EQ(lib.libid, LIBID_pgxsrv);

  std::map<TYPEKIND, int> kinds;
  for (const TypeInfoEntry& t : std::span(lib.types, lib.type_count)) ++kinds[t.kind];
  EXPECT_EQ(kinds[TKIND_INTERFACE], 27);
  EXPECT_EQ(kinds[TKIND_DISPATCH], 1);
  EXPECT_EQ(kinds[TKIND_COCLASS], 1);
  EXPECT_EQ(kinds[TKIND_ENUM], 33);
  EXPECT_EQ(kinds[TKIND_RECORD], 1);
}

TEST(PgxsrvTypeLibrary, EveryTypeHasItsOwnGuid) {
  const LibraryInfo& lib = Library();
  std::set<GUID> seen{lib.libid};
  for (const TypeInfoEntry& t : std::span(lib.types, lib.type_count)) {
    ASSERT_TRUE(t.has_guid) << t.name;
    EXPECT_TRUE(seen.insert(t.guid).second) << t.name << " repeats a GUID";
    EXPECT_EQ(lib.FindGuid(t.guid), &t) << t.name;
  }
}

TEST(PgxsrvTypeLibrary, EveryInterfaceIsDualWithAllItsMembers) {
  // Interface, members (a property's get and put count once), entries (get, put and method each).
  struct Row {
    const char* name;
    int members;
    int entries;
  } rows[] = {
      {"IPgxGen", 3, 4},   {"IInstruments", 5, 5}, {"IInstrument", 36, 44}, {"IRestrictions", 1, 1},
      {"IErr", 9, 10},     {"I_Cmd", 10, 17},      {"IChannels", 4, 4},     {"IChannel", 8, 10},
      {"IVoltage", 5, 9},  {"ICurrent", 5, 9},     {"ILimit", 3, 6},        {"IOutput", 8, 14},
      {"IPulse", 9, 15},   {"IDelay", 3, 6},       {"IDoubleDelay", 4, 8},  {"ITransition", 5, 10},
      {"IMode", 9, 9},     {"ITrigger", 8, 11},    {"IArm", 5, 10},         {"IClkInput", 3, 6},
      {"IExtInput", 2, 4}, {"ITrgOutput", 5, 10},  {"IPattern", 9, 11},     {"IPllReference", 1, 2},
      {"ISetting", 4, 4},  {"IStatus", 8, 9},      {"IGroup", 5, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TypeInfoEntry& t = Type(row.name);
    EXPECT_EQ(t.kind, TKIND_INTERFACE);
    EXPECT_STREQ(t.base, "IDispatch");
    EXPECT_EQ(t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE),
              TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(t.func_count, row.entries);
    EXPECT_EQ(t.own_func_count, row.entries);
    std::set<std::string> names;
    for (const FuncInfo& f : Funcs(t)) names.insert(f.name);
    EXPECT_EQ(static_cast<int>(names.size()), row.members);
  }
}

TEST(PgxsrvTypeLibrary, EveryPropertyPutHasItsGetWithTheSameValueType) {
  const LibraryInfo& lib = Library();
  for (const TypeInfoEntry& t : std::span(lib.types, lib.type_count)) {
    if (t.kind != TKIND_INTERFACE) continue;
    for (const FuncInfo& put : Funcs(t)) {
      if (put.invkind != kPut) continue;
      SCOPED_TRACE(std::string(t.name) + "." + put.name);
      const FuncInfo* get = Member(t.name, put.name, kGet);
      ASSERT_NE(get, nullptr);
      ASSERT_EQ(get->param_count, put.param_count);
      const ParamInfo& value = put.params[put.param_count - 1];
      const ParamInfo& result = get->params[get->param_count - 1];
      EXPECT_TRUE(result.is_retval());
      EXPECT_EQ(value.type.vt, result.type.vt);
      EXPECT_EQ(value.type.byref, 0);
      EXPECT_STREQ(value.name, "Value");
      if (value.type.type_name) {
        EXPECT_STREQ(value.type.type_name, result.type.type_name);
      }
      // The index arguments before the value are the same in both directions.
      for (USHORT i = 0; i + 1 < put.param_count; ++i) {
        EXPECT_STREQ(put.params[i].name, get->params[i].name);
        EXPECT_EQ(put.params[i].type.vt, get->params[i].type.vt);
      }
    }
  }
}

TEST(PgxsrvTypeLibrary, DispidsClientsCallBy) {
  struct Row {
    const char* itf;
    const char* member;
    INVOKEKIND kind;
    DISPID id;
  } rows[] = {
      {"IPgxGen", "Enabled", kGet, -514},
      {"IPgxGen", "Enabled", kPut, -514},
      {"IPgxGen", "Instruments", kGet, 0},
      {"IPgxGen", "Err", kGet, 0x60020001},
      {"IInstruments", "Item", kGet, 0},
      {"IInstruments", "Refresh", kMethod, 0x60020002},
      {"IInstrument", "Caption", kPut, 0},
      {"IInstrument", "AttributeInfo", kMethod, 0x60020020},
      {"IInstrument", "Mode", kGet, 0x60020021},
      {"IInstrument", "Version", kGet, 0x60020023},
      {"IInstrument", "IsTransactionActive", kGet, 0x60020024},
      {"IInstrument", "Open", kGet, 0x60020010},
      {"IInstrument", "Options", kGet, 0x60020012},
      {"IInstrument", "Restrictions", kGet, 0x22},
      {"IInstrument", "Trigger", kGet, 0x6002001f},
      {"IRestrictions", "BitMask", kGet, 0x60020000},
      {"IErr", "Warnings", kGet, 0x60020008},
      {"I_Cmd", "Cmd", kMethod, 0},
      {"I_Cmd", "UInt32", kPut, 0x60020009},
      {"IChannel", "Number", kGet, 0},
      {"IChannel", "Voltage", kGet, 0x60020007},
      {"IVoltage", "Amplitude", kGet, 0},
      {"ILimit", "High", kPut, 0},
      {"IOutput", "NormalState", kPut, 0},
      {"IOutput", "SetLevel", kMethod, 0x60020007},
      {"IPulse", "Frequency", kGet, 0},
      {"IPulse", "TrailingEdgeDelay", kPut, 0x60020006},
      {"IPulse", "Width", kGet, 0x60020009},
      {"IDelay", "Value", kPut, 0},
      {"IDoubleDelay", "Enabled", kGet, 0},
      {"IDoubleDelay", "Value", kGet, 0x60020003},
      {"ITransition", "LeadingEdge", kGet, 0},
      {"ITransition", "TrailingEdge", kPut, 0x60020004},
      {"IMode", "TriggeredPulses", kMethod, 0x60020009},
      {"ITrigger", "Mode", kPut, 0},
      {"ITrigger", "Fire", kMethod, 0x60020006},
      {"ITrigger", "Output", kGet, 0x60020007},
      {"ITrgOutput", "Level", kPut, 0},
      {"IPattern", "CalcPRBS", kMethod, 0x60020008},
      {"IPattern", "State", kGet, 0},
      {"IPllReference", "Source", kPut, 0},
      {"IStatus", "ServiceRequestEnable", kPut, 0x60020008},
      {"IGroup", "PosTransitionReg", kPut, 0x60020005},
  };
  for (const Row& row : rows) {
    const FuncInfo* f = Member(row.itf, row.member, row.kind);
    ASSERT_NE(f, nullptr) << row.itf << "." << row.member;
    EXPECT_EQ(f->dispid, row.id) << row.itf << "." << row.member;
  }
}

TEST(PgxsrvTypeLibrary, ParametersWithTheirDirectionsAndDefaults) {
  constexpr USHORT kIn = PARAMFLAG_FIN, kOut = PARAMFLAG_FOUT, kOpt = PARAMFLAG_FOPT,
                   kDef = PARAMFLAG_FHASDEFAULT;
  struct Row {
    const char* itf;
    const char* member;
    INVOKEKIND kind;
    USHORT index;
    const char* name;
    VARTYPE vt;
    int byref;
    USHORT flags;
    const char* type_name;
  } rows[] = {
      {"IInstrument", "Open", kGet, 0, "IdQuery", VT_BOOL, 0, kIn | kOpt | kDef, nullptr},
      {"IInstrument", "Open", kGet, 1, "ResetInstrument", VT_BOOL, 0, kIn | kOpt | kDef, nullptr},
      {"IInstrument", "Open", kGet, 2, "AutoDetectErrors", VT_BOOL, 0, kIn | kOpt | kDef, nullptr},
      {"IInstrument", "PulseMode", kGet, 0, "Length", VT_I4, 1, kIn | kOut | kOpt, nullptr},
      {"IInstrument", "PulseMode", kPut, 0, "Length", VT_I4, 1, kIn | kOut | kOpt, nullptr},
      {"IInstrument", "PulseMode", kPut, 1, "Value", VT_I4, 0, kIn, "PgxPulseMode"},
      {"IInstrument", "IsTransactionActive", kGet, 0, "ByteCount", VT_I4, 1, kOut | kOpt, nullptr},
      {"IInstrument", "SelfTest", kGet, 0, "pResultAsNumber", VT_I2, 1, kOut, nullptr},
      {"IInstrument", "Version", kGet, 0, "OfWhat", VT_I4, 0, kIn, "PgxVersionData"},
      {"IInstrument", "Transaction", kMethod, 0, "Action", VT_I4, 0, kIn, "PgxTransaction"},
      {"IInstrument", "AttributeInfo", kMethod, 0, "Array", VT_ARRAY | VT_UI1, 1, kIn | kOut, nullptr},
      {"IInstruments", "Item", kGet, 0, "Index", VT_VARIANT, 0, kIn, nullptr},
      {"IChannels", "Item", kGet, 0, "Index", VT_I4, 0, kIn, nullptr},
      {"IErr", "Item", kGet, 0, "Index", VT_I4, 0, kIn, nullptr},
      {"IErr", "Text", kGet, 0, "ErrNumber", VT_I4, 0, kIn, nullptr},
      {"I_Cmd", "UInt16", kGet, 1, "Value", VT_I4, 1, kOut | PARAMFLAG_FRETVAL, nullptr},
      {"I_Cmd", "Int8ArrPut", kMethod, 1, "Array", VT_ARRAY | VT_UI1, 1, kIn | kOut, nullptr},
      {"IOutput", "GetLevel", kMethod, 1, "OutputType", VT_I4, 1, kOut, "PgxOutputType"},
      {"IOutput", "GetLevel", kMethod, 3, "AmplitudeOrLow", VT_R8, 1, kOut, nullptr},
      {"IOutput", "SetLevel", kMethod, 0, "AmplOffOrHiLo", VT_I4, 0, kIn, "PgxOutputLevelFormat"},
      {"IDelay", "Value", kGet, 0, "Units", VT_I4, 1, kIn | kOut, "PgxPulseUnitsX"},
      {"IDoubleDelay", "Value", kPut, 0, "Units", VT_I4, 1, kIn | kOut, "PgxPulseUnits"},
      {"ITransition", "TrailingEdge", kGet, 0, "Units", VT_I4, 1, kIn | kOut, "PgxPulseUnits"},
      {"IMode", "GatedBurst", kMethod, 4, "GatedLevel", VT_I4, 0, kIn, "PgxArmSlope"},
      {"IMode", "TriggeredBurst", kMethod, 6, "PllValue", VT_R8, 0, kIn, nullptr},
      {"ITrgOutput", "Level", kGet, 0, "Output", VT_I4, 0, kIn, "PgxTriggerOutput"},
      {"IPattern", "DataGetFromInstrument", kMethod, 3, "PatternLength", VT_I4, 1, kOut, nullptr},
      {"IPattern", "DataPRBS", kMethod, 1, "PolynomialExponent", VT_I2, 0, kIn, nullptr},
      {"IPattern", "CalcPRBS", kMethod, 3, "ByteArray", VT_ARRAY | VT_UI1, 1, kIn | kOut, nullptr},
      {"IPllReference", "Source", kGet, 0, "ExternalFrequency", VT_R8, 1, kOut, nullptr},
      {"IPllReference", "Source", kPut, 0, "ExternalFrequency", VT_R8, 1, kIn, nullptr},
      {"ISetting", "SaveToMem", kMethod, 0, "SettingNumber", VT_I2, 0, kIn, nullptr},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.itf) + "." + row.member + " parameter " + row.name);
    const FuncInfo* f = Member(row.itf, row.member, row.kind);
    ASSERT_NE(f, nullptr);
    ASSERT_LT(row.index, f->param_count);
    const ParamInfo& p = f->params[row.index];
    EXPECT_STREQ(p.name, row.name);
    EXPECT_EQ(p.type.vt, row.vt);
    EXPECT_EQ(p.type.byref, row.byref);
    EXPECT_EQ(p.flags, row.flags);
    if (row.type_name) {
      EXPECT_STREQ(p.type.type_name, row.type_name);
    } else {
      EXPECT_EQ(p.type.type_name, nullptr);
    }
    if (row.flags & kDef) {
      EXPECT_EQ(p.default_value.vt, VT_BOOL);
      EXPECT_EQ(p.default_value.integer, 0);
    }
  }
  // Open is read as a property: its result is a boolean.
  const FuncInfo* open = Member("IInstrument", "Open", kGet);
  EXPECT_EQ(open->param_count, 4);
  EXPECT_EQ(open->params[3].type.vt, VT_BOOL);
  EXPECT_TRUE(open->params[3].is_retval());
}

TEST(PgxsrvTypeLibrary, ObjectsAreHandedOutAsTheirInterfaces) {
  struct Row {
    const char* itf;
    const char* member;
    const char* returns;  // nullptr: a plain IDispatch
  } rows[] = {
      {"IPgxGen", "Err", "IErr"},
      {"IPgxGen", "Instruments", "IInstruments"},
      {"IInstruments", "Item", "IInstrument"},
      {"IInstruments", "Err", "IErr"},
      {"IInstrument", "_Cmd", "I_Cmd"},
      {"IInstrument", "Channels", "IChannels"},
      {"IInstrument", "Err", "IErr"},
      {"IInstrument", "Mode", "IMode"},
      {"IInstrument", "Parent", nullptr},
      {"IInstrument", "Pattern", "IPattern"},
      {"IInstrument", "PllReference", "IPllReference"},
      {"IInstrument", "Restrictions", "IRestrictions"},
      {"IInstrument", "Setting", "ISetting"},
      {"IInstrument", "Status", "IStatus"},
      {"IInstrument", "Trigger", "ITrigger"},
      {"IChannels", "Item", "IChannel"},
      {"IChannel", "Current", "ICurrent"},
      {"IChannel", "Output", "IOutput"},
      {"IChannel", "Parent", "IInstrument"},
      {"IChannel", "Pulse", "IPulse"},
      {"IChannel", "Voltage", "IVoltage"},
      {"IVoltage", "Limit", "ILimit"},
      {"ICurrent", "Limit", "ILimit"},
      {"IPulse", "Delay", "IDelay"},
      {"IPulse", "DoubleDelay", "IDoubleDelay"},
      {"IPulse", "Transition", "ITransition"},
      {"ITrigger", "Arm", "IArm"},
      {"ITrigger", "ClockInput", "IClkInput"},
      {"ITrigger", "ExternalInput", "IExtInput"},
      {"ITrigger", "Output", "ITrgOutput"},
      {"IStatus", "Operation", "IGroup"},
      {"IStatus", "Questionable", "IGroup"},
      {"IStatus", "StandardEvent", "IGroup"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.itf) + "." + row.member);
    const FuncInfo* f = Member(row.itf, row.member, kGet);
    ASSERT_NE(f, nullptr);
    const ParamInfo& result = f->params[f->param_count - 1];
    ASSERT_TRUE(result.is_retval());
    EXPECT_EQ(result.type.vt, VT_DISPATCH);
    if (row.returns) {
      ASSERT_NE(result.type.type_name, nullptr);
      EXPECT_STREQ(result.type.type_name, row.returns);
      EXPECT_EQ(*result.type.iid, Type(row.returns).guid);
    } else {
      EXPECT_EQ(*result.type.iid, IID_IDispatch);
    }
  }
}

TEST(PgxsrvTypeLibrary, HiddenMembersAndEnumerators) {
  for (const char* itf : {"IInstruments", "IErr", "IChannels"}) {
    const FuncInfo* e = Member(itf, "_NewEnum", kGet);
    ASSERT_NE(e, nullptr) << itf;
    EXPECT_EQ(e->dispid, DISPID_NEWENUM) << itf;
    EXPECT_EQ(e->flags, FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED) << itf;
    EXPECT_EQ(e->params[0].type.vt, VT_UNKNOWN) << itf;
  }
  EXPECT_EQ(Member("IInstrument", "_Cmd", kGet)->flags, FUNCFLAG_FHIDDEN);
  // Nothing else is hidden from a client's object browser.
  const LibraryInfo& lib = Library();
  int hidden = 0;
  for (const TypeInfoEntry& t : std::span(lib.types, lib.type_count))
    for (const FuncInfo& f : Funcs(t)) hidden += (f.flags & FUNCFLAG_FHIDDEN) != 0;
  EXPECT_EQ(hidden, 4);
}

TEST(PgxsrvTypeLibrary, HelpStrings) {
  struct Row {
    const char* itf;
    const char* member;  // nullptr: the type's own help string
    INVOKEKIND kind;
    const char* text;
  } rows[] = {
      {"IChannels", "Count", kGet, "Returns number of channels available"},
      {"IChannels", "Item", kGet, "Given an index, returns a channel"},
      {"IChannels", "Refresh", kMethod, "Refreshes the links to available channels"},
      {"IMode", "ContinuousBurst", kMethod, "Set Continuous Burst Mode"},
      {"IMode", "TriggeredPulses", kMethod, "Set Triggered Pulses Mode"},
      {"IPllReference", "Source", kGet, "Set/read source and frequency (if applicable)"},
      {"ISetting", "LoadFromMem", kMethod, "Use one of the previously stored settings"},
      {"ISetting", "SaveToFile", kMethod, "Store current setting to a file"},
      {"IOutput", nullptr, kMethod, "Channel Output Parameters"},
      {"IMode", nullptr, kMethod, "Instrument Trigger and Pulse Mode"},
      {"IPattern", nullptr, kMethod, "Instrument Pattern Data"},
      {"IGroup", nullptr, kMethod, "Instrument Status Group"},
      {"PgxVi", nullptr, kMethod, "Visa constants"},
      {"PgxNotImplFunctions", nullptr, kMethod, "Functional Restriction constants"},
      {"PgxSignalFormat", nullptr, kMethod, "Pattern mode channel signal format constants"},
      {"PgxOutputType", nullptr, kMethod, "Channel Output level types"},
      {"PgxPulseUnitsX", nullptr, kMethod, "Pulse delay unit constants"},
      {"PgxPllRefSource", nullptr, kMethod, "PPL reference source constants"},
      {"PgxGen", nullptr, kMethod, "PgxGen Class"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.itf) + "." + (row.member ? row.member : ""));
    const char* text = nullptr;
    if (row.member) {
      const FuncInfo* f = Member(row.itf, row.member, row.kind);
      ASSERT_NE(f, nullptr);
      text = f->helpstring;
    } else {
      text = Type(row.itf).helpstring;
    }
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, row.text);
  }
}

// Late binding resolves a name in any case to one DISPID; two members whose names differ only in case, or a
// get and put of different ids, would leave one of them unreachable by name.
TEST(PgxsrvTypeLibrary, NamesResolveWithoutRegardToCase) {
  const LibraryInfo& lib = Library();
  for (const TypeInfoEntry& t : std::span(lib.types, lib.type_count)) {
    if (t.kind != TKIND_INTERFACE) continue;
    SCOPED_TRACE(t.name);
    std::map<std::string, std::string> spelling;
    std::map<DISPID, std::string> owner;
    DispatchTable table(t);
    for (const FuncInfo& f : Funcs(t)) {
      auto [it, fresh] = spelling.emplace(Lower(f.name), f.name);
      EXPECT_EQ(it->second, f.name) << "two spellings of one name";
      auto [o, first] = owner.emplace(f.dispid, f.name);
      EXPECT_EQ(o->second, f.name) << "DISPID " << f.dispid << " is shared";
      EXPECT_EQ(table.FindName(Upper16(f.name).c_str()), f.dispid) << f.name;
    }
  }
}

TEST(PgxsrvTypeLibrary, EveryEnumerationHasItsSentinels) {
  const LibraryInfo& lib = Library();
  for (const TypeInfoEntry& t : std::span(lib.types, lib.type_count)) {
    if (t.kind != TKIND_ENUM) continue;
    SCOPED_TRACE(t.name);
    EXPECT_EQ(std::string_view(t.name).substr(0, 3), "Pgx");
    ASSERT_GE(t.value_count, 3);
    const std::string_view first = t.values[0].name, last = t.values[t.value_count - 1].name;
    EXPECT_TRUE(first.ends_with("Start")) << first;
    EXPECT_TRUE(last.ends_with("End")) << last;
    // Between the sentinels no two constants share a value.
    std::set<LONG> values;
    for (USHORT i = 1; i + 1 < t.value_count; ++i)
      EXPECT_TRUE(values.insert(t.values[i].value).second) << t.values[i].name << " repeats a value";
    // The first sentinel is the least value and the end lies past every value, except where a constant is
    // deliberately outside the range a setting accepts.
    if (std::string_view(t.name) == "PgxVi" || std::string_view(t.name) == "PgxTriggerOutputSource") continue;
    for (USHORT i = 1; i + 1 < t.value_count; ++i) {
      EXPECT_GE(t.values[i].value, t.values[0].value) << t.values[i].name;
      EXPECT_LT(t.values[i].value, t.values[t.value_count - 1].value) << t.values[i].name;
    }
  }
}

TEST(PgxsrvTypeLibrary, ConstantsThatBreakTheUsualPattern) {
  struct Row {
    const char* enumeration;
    const char* constant;
    LONG value;
  } rows[] = {
      {"PgxVi", "PgxViNoSecAddr", 65535},
      {"PgxVi", "PgxViUnknownSlot", -1},
      {"PgxVi", "PgxViEnd", 65535},
      {"PgxSelftestResult", "PgxSelftestResultStart", 1},
      {"PgxSelftestResult", "PgxSelftestResultEnd", 16},
      {"PgxTransaction", "PgxTransactionStart", 0},
      {"PgxNotImplFunctions", "PgxNotImplVxi", 7168},
      {"PgxNotImplFunctions", "PgxNotImplFunctionsEnd", 65536},
      {"PgxPulseType", "PgxPulseTypeStart", 1},
      {"PgxPulseHoldMode", "PgxPulseHoldModeStart", 1},
      {"PgxTrailEdgeCoupling", "PgxTrailEdgeCoupleOnce", 2},
      {"PgxTriggerSlope", "PgxTriggerSlopeAsIs", 3},
      {"PgxArmSource", "PgxArmSourceExternal", 3},
      {"PgxArmSource", "PgxArmSourceTTLT7", 14},
      {"PgxArmPllFormat", "PgxArmPllFormatAsIs", 3},
      {"PgxTriggerOutputSource", "PgxTriggerOutputSourceStart", 1},
      {"PgxTriggerOutputSource", "PgxTriggerOutputAutoCouple", 0},
      {"PgxTriggerOutputSource", "PgxTriggerOutputSourceEnd", 1},
      {"PgxVxiTriggerLine", "PgxVxiTriggerLineStart", 5},
      {"PgxVxiTriggerLine", "PgxVxiTriggerLineNone", 15},
      {"PgxDataChannel", "PgxDataStrobe", 3},
  };
  for (const Row& row : rows) {
    const TypeInfoEntry& t = Type(row.enumeration);
    const pgx::auto_::EnumValueInfo* found = nullptr;
    for (const auto& v : std::span(t.values, t.value_count))
      if (std::string_view(v.name) == row.constant) found = &v;
    ASSERT_NE(found, nullptr) << row.constant;
    EXPECT_EQ(found->value, row.value) << row.constant;
  }
  EXPECT_EQ(Type("PgxArmSource").value_count, 16);
  EXPECT_EQ(Type("PgxVxiTriggerLine").value_count, 13);
  EXPECT_EQ(Type("PgxNotImplFunctions").value_count, 19);
}

TEST(PgxsrvTypeLibrary, VisaAttributeRecordIs28BytesWithoutGaps) {
  const TypeInfoEntry& r = Type("ViAttributeInfo");
  EXPECT_EQ(r.kind, TKIND_RECORD);
  EXPECT_STREQ(r.tag, "_ViAttributeInfo");
  EXPECT_EQ(r.size, 28u);
  EXPECT_EQ(sizeof(ViAttributeInfo), 28u);
  struct Row {
    const char* name;
    std::size_t offset;
    VARTYPE vt;
  } rows[] = {
      {"RsrcImplVersion", 0, VT_UI4}, {"RsrcLockState", 4, VT_UI4}, {"RsrcSpecVersion", 8, VT_UI4},
      {"ManfId", 12, VT_UI2},         {"IntfNum", 14, VT_UI2},      {"IntfType", 16, VT_UI2},
      {"GpibPriAddr", 18, VT_UI2},    {"GpibSecAddr", 20, VT_UI2},  {"Slot", 22, VT_I2},
      {"VxiLa", 24, VT_I2},           {"ModelCode", 26, VT_UI2},
  };
  ASSERT_EQ(r.field_count, std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_STREQ(r.fields[i].name, rows[i].name);
    EXPECT_EQ(r.fields[i].offset, rows[i].offset) << rows[i].name;
    EXPECT_EQ(r.fields[i].type.vt, rows[i].vt) << rows[i].name;
    EXPECT_EQ(r.fields[i].array_count, 0u) << rows[i].name;
  }
}

TEST(PgxsrvTypeLibrary, PgxGenIsTheCreatableRootWithoutEvents) {
  const TypeInfoEntry& c = Type("PgxGen");
  EXPECT_EQ(c.kind, TKIND_COCLASS);
  EXPECT_EQ(c.guid, CLSID_PgxGen);
  EXPECT_TRUE(c.flags & TYPEFLAG_FCANCREATE);
  ASSERT_EQ(c.impl_count, 2);
  EXPECT_STREQ(c.impls[0].name, "IPgxGen");
  EXPECT_EQ(c.impls[0].flags, IMPLTYPEFLAG_FDEFAULT);
  EXPECT_FALSE(c.impls[0].dispinterface);
  EXPECT_STREQ(c.impls[1].name, "_IPgxGenEvents");
  EXPECT_EQ(c.impls[1].flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  EXPECT_TRUE(c.impls[1].dispinterface);

  const TypeInfoEntry& events = Type("_IPgxGenEvents");
  EXPECT_EQ(events.kind, TKIND_DISPATCH);
  EXPECT_EQ(events.func_count, 0);
  EXPECT_EQ(events.var_count, 0);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What `pgx idl` prints for the server is a complete description: generating from it gives the same tables
// and declarations as the source does.
TEST(PgxsrvTypeLibrary, PrintedIdlGeneratesTheSameCode) {
  char pattern[] = "/tmp/pgxsrv-idl-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::filesystem::path dir = pattern;
  // The generated files name their source: print it under the same name.
  std::ofstream(dir / "pgxsrv.idl") << pgx::auto_::ExportIdl(Library());
  const std::string command = std::string("'") + PGX_PYTHON + "' '" + PGX_IDL_GENERATOR + "' '" +
                              (dir / "pgxsrv.idl").string() + "' --header '" +
                              (dir / "pgxsrv_idl.h").string() + "' --source '" +
                              (dir / "pgxsrv_idl.cpp").string() + "' --include server/pgxsrv_idl.h 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe)) output += buf;
  const int status = ::pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
  const std::filesystem::path generated = std::filesystem::path(PGX_GENERATED_DIR) / "server";
  EXPECT_EQ(ReadFile(dir / "pgxsrv_idl.h"), ReadFile(generated / "pgxsrv_idl.h"));
  EXPECT_EQ(ReadFile(dir / "pgxsrv_idl.cpp"), ReadFile(generated / "pgxsrv_idl.cpp"));
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
