// Discovery against the recording driver and the VISA layer over a bench file each test writes: which
// resources become instruments, what each one learns of its VISA attributes, how Item finds them, and the
// resource manager closed on every path.
#include "server/session/instruments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "automation/comptr.h"
#include "automation/safearray.h"
#include "automation/variant.h"
#include "driver/testing/recording_driver.h"
#include "server/core/pgx_gen.h"
#include "visa/testing/test_files.h"
#include "visa/trace.h"
#include "visa/visa.h"

namespace pgx::server {
namespace {

using auto_::ComPtr;
using auto_::Variant;
using driver::testing::RecordingDriver;
using driver::testing::Reply;
using visa::testing::read_file;
using visa::testing::ScopedEnv;
using visa::testing::TempDir;

constexpr HRESULT kDriverFailure = static_cast<HRESULT>(0x8004046C);

// Two pulse generators and an instrument of another kind, as the bench file lists them.
constexpr const char* kSmallBench = R"(resources:
  - name: VXI0::24::INSTR
    slot: 4
    model-code: 0x0403
    front-ends: [M4030A]
  - name: GPIB1::7::INSTR
    front-ends: [Q510A]
  - name: GPIB0::22::INSTR
    kind: digital-multimeter
)";

constexpr const char* kTwoPulseGenerators = R"(resources:
  - name: GPIB0::10::INSTR
    front-ends: [Q510A]
  - name: VXI0::8::INSTR
    front-ends: [M4010A]
)";

std::string Text(BSTR text) {
  std::string out;
  auto_::BstrToUtf8(text, &out);
  return out;
}

// The resources VISA finds, in the order it lists them.
std::vector<std::string> FoundResources() {
  std::vector<std::string> names;
  ViSession manager = 0;
  if (viOpenDefaultRM(&manager) < VI_SUCCESS) return names;
  ViFindList list = 0;
  ViUInt32 count = 0;
  char name[VI_FIND_BUFLEN] = {};
  if (viFindRsrc(manager, "?*INSTR", &list, &count, name) >= VI_SUCCESS) {
    for (ViUInt32 i = 0; i < count; ++i) {
      names.emplace_back(name);
      if (i + 1 < count && viFindNext(list, name) < VI_SUCCESS) break;
    }
  }
  viClose(manager);
  return names;
}

class InstrumentsTest : public ::testing::Test {
 protected:
  void UseBench(const std::string& yaml) { bench_.emplace("PGX_VISA_BENCH", dir_.write("bench.yaml", yaml)); }

  ComPtr<IInstruments> Collection() {
    ComPtr<IPgxGen> root;
    EXPECT_EQ(PgxGen::CreateInstance(IID_IPgxGen, root.ReleaseAndGetAddressOfVoid()), S_OK);
    ComPtr<IInstruments> instruments;
    EXPECT_EQ(root->get_Instruments(instruments.ReleaseAndGetAddressOf()), S_OK);
    return instruments;
  }

  static LONG Count(IInstruments* instruments) {
    LONG count = -1;
    EXPECT_EQ(instruments->get_Count(&count), S_OK);
    return count;
  }

  static ComPtr<IInstrument> Item(IInstruments* instruments, const Variant& index, HRESULT expected = S_OK) {
    ComPtr<IInstrument> item;
    EXPECT_EQ(instruments->get_Item(index, item.ReleaseAndGetAddressOf()), expected);
    return item;
  }

  static std::string Name(IInstrument* instrument) {
    BSTR name = nullptr;
    EXPECT_EQ(instrument->get_Name(&name), S_OK);
    std::string text = Text(name);
    SysFreeString(name);
    return text;
  }

  static ViAttributeInfo Attributes(IInstrument* instrument) {
    auto_::SafeArray bytes(VT_UI1, 0, sizeof(ViAttributeInfo));
    SAFEARRAY* array = bytes.get();
    EXPECT_EQ(instrument->AttributeInfo(&array), S_OK);
    ViAttributeInfo info{};
    auto_::SafeArrayData<BYTE> data(array);
    std::memcpy(&info, data.data(), sizeof info);
    return info;
  }

  // The identity checks of the next search: the resources `accepted` picks open a session (numbered
  // 1, 2, ...), the others fail. Returns the accepted names in the order VISA lists them.
  template <class Accept>
  std::vector<std::string> IdentityChecks(Accept accepted) {
    std::vector<std::string> names;
    for (const std::string& name : FoundResources()) {
      const bool ok = accepted(name);
      if (ok) names.push_back(name);
      driver_.ScriptOnce("pgxgen_init", ok ? Reply{VI_SUCCESS, {static_cast<double>(names.size())}, {}}
                                           : Reply{PGXGEN_ERROR_FAIL_ID_QUERY, {}, {}});
    }
    return names;
  }
  static bool PulseGenerator(const std::string& name) { return name != "GPIB0::22::INSTR"; }

  RecordingDriver driver_;
  TempDir dir_;
  std::optional<ScopedEnv> bench_;
};

TEST_F(InstrumentsTest, OnlyResourcesThatPassTheIdentityCheckBecomeInstruments) {
  UseBench(kSmallBench);
  const std::vector<std::string> accepted = IdentityChecks(PulseGenerator);
  ASSERT_EQ(accepted.size(), 2u);
  ComPtr<IInstruments> instruments = Collection();
  EXPECT_EQ(Count(instruments.Get()), 2);

  const std::vector<std::string> inits = driver_.CallsTo("pgxgen_init");
  ASSERT_EQ(inits.size(), 3u);
  for (const std::string& init : inits) EXPECT_TRUE(init.ends_with(", 1, 0)")) << init;  // id query, no reset
  EXPECT_EQ(Name(Item(instruments.Get(), Variant(LONG{1})).Get()), accepted[0]);
  EXPECT_EQ(Name(Item(instruments.Get(), Variant(LONG{2})).Get()), accepted[1]);
  // The identity check's sessions are closed at once; the failed one never opened.
  EXPECT_EQ(driver_.CallsTo("pgxgen_close"),
            (std::vector<std::string>{"pgxgen_close(1)", "pgxgen_close(2)"}));
}

TEST_F(InstrumentsTest, AWarningFromTheIdentityCheckSkipsTheResourceButClosesItsSession) {
  UseBench("resources:\n  - name: GPIB0::3::INSTR\n    front-ends: [Q510A]\n");
  driver_.ScriptOnce("pgxgen_init", Reply{PGXGEN_WARN_NSUP_ID_QUERY, {7}, {}});
  ComPtr<IInstruments> instruments = Collection();
  EXPECT_EQ(Count(instruments.Get()), 0);
  EXPECT_EQ(driver_.CallsTo("pgxgen_close"), std::vector<std::string>{"pgxgen_close(7)"});
}

TEST_F(InstrumentsTest, EachInstrumentKeepsTheAttributesItsInterfaceHas) {
  UseBench(R"(resources:
  - name: VXI2::24::INSTR
    slot: 4
    model-code: 0x0403
    front-ends: [M4030A]
  - name: GPIB1::7::INSTR
    front-ends: [Q510A]
  - name: GPIB0::9::3::INSTR
    front-ends: [Q520A]
)");
  ComPtr<IInstruments> instruments = Collection();
  ASSERT_EQ(Count(instruments.Get()), 3);
  for (LONG i = 1; i <= 3; ++i) {
    ComPtr<IInstrument> instrument = Item(instruments.Get(), Variant(i));
    const std::string name = Name(instrument.Get());
    const ViAttributeInfo a = Attributes(instrument.Get());
    SCOPED_TRACE(name);
    EXPECT_EQ(a.ManfId, 4095);
    EXPECT_NE(a.RsrcSpecVersion, 0u);
    if (name == "VXI2::24::INSTR") {
      EXPECT_EQ(a.IntfType, PgxViIntfVxi);
      EXPECT_EQ(a.IntfNum, 2);
      EXPECT_EQ(a.VxiLa, 24);
      EXPECT_EQ(a.Slot, 4);
      EXPECT_EQ(a.ModelCode, 0x0403);
      // A VXI resource has no GPIB address: the fields stay 0.
      EXPECT_EQ(a.GpibPriAddr, 0);
      EXPECT_EQ(a.GpibSecAddr, 0);
    } else {
      EXPECT_EQ(a.IntfType, PgxViIntfGpib);
      EXPECT_EQ(a.IntfNum, name == "GPIB1::7::INSTR" ? 1 : 0);
      EXPECT_EQ(a.GpibPriAddr, name == "GPIB1::7::INSTR" ? 7 : 9);
      EXPECT_EQ(a.GpibSecAddr, name == "GPIB1::7::INSTR" ? PgxViNoSecAddr : 3);
      // A GPIB resource has no slot, logical address or model code: the fields stay 0.
      EXPECT_EQ(a.Slot, 0);
      EXPECT_EQ(a.VxiLa, 0);
      EXPECT_EQ(a.ModelCode, 0);
    }
  }
}

TEST_F(InstrumentsTest, ItemFindsByNumberOrExactNameAndGivesNothingForAnythingElse) {
  UseBench(kSmallBench);
  IdentityChecks(PulseGenerator);
  ComPtr<IInstruments> instruments = Collection();
  ComPtr<IInstrument> first = Item(instruments.Get(), Variant(SHORT{1}));
  ASSERT_TRUE(first);
  const std::string name = Name(first.Get());
  EXPECT_EQ(Item(instruments.Get(), Variant(LONG{1})).Get(), first.Get());
  EXPECT_EQ(Item(instruments.Get(), Variant(name.c_str())).Get(), first.Get());
  LONG by_reference = 1;
  Variant reference;
  reference.vt = VT_I4 | VT_BYREF;
  reference.plVal = &by_reference;
  EXPECT_EQ(Item(instruments.Get(), reference).Get(), first.Get());

  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const Variant nothing[] = {Variant(LONG{0}),
                             Variant(LONG{3}),
                             Variant(SHORT{-1}),
                             Variant("GPIB0::22::INSTR"),
                             Variant(lower.c_str()),
                             Variant(""),
                             Variant(1.0),
                             Variant(true),
                             Variant()};
  for (const Variant& index : nothing) {
    EXPECT_EQ(Item(instruments.Get(), index).Get(), nullptr) << "vt " << index.vt;
  }
  IInstrument** null_out = nullptr;
  EXPECT_EQ(instruments->get_Item(Variant(LONG{1}), null_out), E_POINTER);
}

TEST_F(InstrumentsTest, AFreshCollectionLooksForTheInstrumentsOnceWhicheverMemberComesFirst) {
  UseBench(kTwoPulseGenerators);
  {
    ComPtr<IInstruments> instruments = Collection();
    EXPECT_TRUE(Item(instruments.Get(), Variant(LONG{1})));
    EXPECT_EQ(Count(instruments.Get()), 2);
  }
  EXPECT_EQ(driver_.CallCount("pgxgen_init"), 2u);

  driver_.ClearCalls();
  ComPtr<IInstruments> instruments = Collection();
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(instruments->get__NewEnum(unknown.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IEnumVARIANT> enumerator;
  ASSERT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, enumerator.ReleaseAndGetAddressOfVoid()), S_OK);
  VARIANT items[4];
  ULONG fetched = 0;
  EXPECT_EQ(enumerator->Next(4, items, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 2u);
  for (ULONG i = 0; i < fetched; ++i) {
    EXPECT_EQ(items[i].vt, VT_DISPATCH);
    VariantClear(&items[i]);
  }
  EXPECT_EQ(Count(instruments.Get()), 2);
  EXPECT_EQ(driver_.CallCount("pgxgen_init"), 2u);
}

TEST_F(InstrumentsTest, RefreshReplacesTheInstrumentsClientsMayStillHold) {
  UseBench(kTwoPulseGenerators);
  ComPtr<IInstruments> instruments = Collection();
  ComPtr<IInstrument> before = Item(instruments.Get(), Variant(LONG{1}));
  ASSERT_EQ(instruments->Refresh(), S_OK);
  ComPtr<IInstrument> after = Item(instruments.Get(), Variant(LONG{1}));
  EXPECT_NE(before.Get(), after.Get());
  EXPECT_EQ(Name(before.Get()), Name(after.Get()));
  EXPECT_EQ(Count(instruments.Get()), 2);
}

TEST_F(InstrumentsTest, ABusWithoutResourcesIsAFailureOfTheDriverOrVisa) {
  UseBench("resources: []\n");
  ComPtr<IInstruments> instruments = Collection();
  LONG count = -1;
  EXPECT_EQ(instruments->get_Count(&count), kDriverFailure);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(instruments->Refresh(), kDriverFailure);
  EXPECT_EQ(Item(instruments.Get(), Variant(LONG{1})).Get(), nullptr);
  EXPECT_EQ(driver_.CallCount("pgxgen_init"), 0u);
}

// A machine with many serial ports and a few pulse generators still lists the pulse generators.
TEST_F(InstrumentsTest, MoreThanAHundredResourcesAreAllSearched) {
  std::ostringstream yaml;
  yaml << "resources:\n";
  for (int board = 1; board <= 120; ++board)
    yaml << "  - name: ASRL" << board << "::INSTR\n    kind: serial-device\n";
  yaml << "  - name: GPIB0::5::INSTR\n    front-ends: [Q510A]\n";
  yaml << "  - name: VXI0::8::INSTR\n    front-ends: [M4010A]\n";
  yaml << "  - name: GPIB0::6::INSTR\n    front-ends: [Q530A]\n";
  UseBench(yaml.str());
  EXPECT_EQ(IdentityChecks([](const std::string& name) { return name.rfind("ASRL", 0) != 0; }).size(), 3u);

  ComPtr<IInstruments> instruments = Collection();
  ASSERT_EQ(Count(instruments.Get()), 3);
  EXPECT_EQ(driver_.CallCount("pgxgen_init"), 123u);
  for (const char* name : {"GPIB0::5::INSTR", "VXI0::8::INSTR", "GPIB0::6::INSTR"}) {
    EXPECT_TRUE(Item(instruments.Get(), Variant(name))) << name;
  }
  EXPECT_FALSE(Item(instruments.Get(), Variant("ASRL120::INSTR")));
}

// The trace shows every VISA call: the resource manager discovery opens is closed again, also when the
// search fails.
TEST_F(InstrumentsTest, TheResourceManagerIsClosedOnEveryPath) {
  const std::string trace = dir_.file("io.trace");
  ScopedEnv tracing("PGX_VISA_TRACE", trace);
  for (const char* bench : {kSmallBench, "resources: []\n"}) {
    UseBench(bench);
    ComPtr<IInstruments> instruments = Collection();
    instruments->Refresh();
  }
  visa::Trace::instance().flush();
  std::istringstream lines(read_file(trace));
  std::vector<std::string> managers;
  std::string line;
  int closed = 0, opened = 0;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string time, thread, handle, resource, call;
    fields >> time >> thread >> handle >> resource >> call;
    if (call == "viOpenDefaultRM") {
      managers.push_back(handle);
      ++opened;
    } else if (call == "viClose" && std::find(managers.begin(), managers.end(), handle) != managers.end()) {
      ++closed;
    }
  }
  EXPECT_EQ(opened, 2);
  EXPECT_EQ(closed, 2);
  visa::Trace::instance().open("");
}

}  // namespace
}  // namespace pgx::server
