// pgx as a user runs it, in this process: the server created by ProgID from the build's registry, the
// built-in simulated bench (whose instruments keep their state for the life of the process), and the
// output checked line by line, as text and as JSON.
#include "apps/pgx/app.h"

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "apps/pgx/connection.h"
#include "apps/pgx/shell.h"
#include "visa/testing/test_files.h"

namespace pgx::cli {
namespace {

using visa::testing::read_file;
using visa::testing::read_file_once_it_has;
using visa::testing::ScopedEnv;
using visa::testing::TempDir;

struct Result {
  int code = -1;
  std::string out, err;

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::vector<nlohmann::json> Json() const {
    std::vector<nlohmann::json> objects;
    for (const std::string& line : Lines()) objects.push_back(nlohmann::json::parse(line));
    return objects;
  }
};

Result Pgx(std::vector<std::string> args, const std::string& input = {}) {
  args.insert(args.begin(), "pgx");
  std::istringstream in(input);
  std::ostringstream out, err;
  Result result;
  result.code = Main(args, in, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

TEST(PgxList, ShowsTheEightPulseGeneratorsOfTheDefaultBenchAsATable) {
  const Result r = Pgx({"list"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = r.Lines();
  ASSERT_EQ(lines.size(), 10u) << r.out;
  EXPECT_EQ(Words(lines[0]), (std::vector<std::string>{"#", "Resource", "Interface", "Slot", "Logical",
                                                       "address", "Model", "code", "GPIB", "address"}));
  EXPECT_EQ(Words(lines[1]), (std::vector<std::string>{"1", "VXI0::8::INSTR", "VXI", "2", "8", "0401", "-"}));
  EXPECT_EQ(Words(lines[4]),
            (std::vector<std::string>{"4", "VXI0::32::INSTR", "VXI", "5", "32", "0404", "-"}));
  EXPECT_EQ(Words(lines[5]),
            (std::vector<std::string>{"5", "GPIB0::10::INSTR", "GPIB", "-", "-", "-", "10"}));
  EXPECT_EQ(Words(lines[8]),
            (std::vector<std::string>{"8", "GPIB0::13::INSTR", "GPIB", "-", "-", "-", "13"}));
  EXPECT_EQ(r.out.find("GPIB0::22::INSTR"), std::string::npos) << "the multimeter is no pulse generator";
  EXPECT_EQ(lines[9], "8 pulse generators found.");
  // Columns line up under their headers.
  EXPECT_EQ(lines[1].find("VXI "), lines[0].find("Interface"));
}

TEST(PgxList, AsJsonOneObjectPerInstrumentWithItsAttributeRecord) {
  const Result r = Pgx({"list", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<nlohmann::json> objects = r.Json();
  ASSERT_EQ(objects.size(), 8u);
  EXPECT_EQ(objects[1]["name"], "VXI0::16::INSTR");
  EXPECT_EQ(objects[1]["slot"], 3);
  EXPECT_EQ(objects[1]["logical_address"], 16);
  EXPECT_EQ(objects[1]["model_code"], "0402");
  EXPECT_TRUE(objects[1]["gpib_address"].is_null());
  EXPECT_EQ(objects[1]["attributes"]["ManfId"], 4095);
  EXPECT_EQ(objects[1]["attributes"]["GpibPriAddr"], 0);
  EXPECT_EQ(objects[6]["name"], "GPIB0::12::INSTR");
  EXPECT_EQ(objects[6]["interface"], "GPIB");
  EXPECT_EQ(objects[6]["gpib_address"], 12);
  EXPECT_EQ(objects[6]["attributes"]["GpibSecAddr"], 65535);
  EXPECT_EQ(objects[6]["attributes"]["Slot"], 0);
}

TEST(PgxList, ABenchFileOfTheUsersOwn) {
  TempDir dir;
  const std::string bench = dir.write("lab.yaml", R"(resources:
  - name: GPIB2::5::INSTR
    front-ends: [Q530A]
  - name: VXI1::40::INSTR
    slot: 7
    model-code: 0x0403
    front-ends: [M4030A, M4030A]
  - name: GPIB2::6::INSTR
    kind: oscilloscope
)");
  const Result r = Pgx({"--bench", bench, "list"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = r.Lines();
  ASSERT_EQ(lines.size(), 4u) << r.out;
  EXPECT_EQ(Words(lines[1])[1], "GPIB2::5::INSTR");
  EXPECT_EQ(Words(lines[2]),
            (std::vector<std::string>{"2", "VXI1::40::INSTR", "VXI", "7", "40", "0403", "-"}));
  EXPECT_EQ(lines[3], "2 pulse generators found.");

  const Result missing = Pgx({"--bench", dir.file("none.yaml"), "list"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("the bench file " + dir.file("none.yaml") + " does not exist"),
            std::string::npos);
}

TEST(PgxInfo, ShowsIdentityChannelsVersionsAndWhatTheModelLacks) {
  const Result r = Pgx({"info", "GPIB0::11::INSTR"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = r.Lines();
  ASSERT_GE(lines.size(), 8u) << r.out;
  EXPECT_EQ(lines[0], "GPIB0::11::INSTR");
  EXPECT_EQ(lines[1], "  Identity      PGX Instruments,Q500A,DE52000011,1.0");
  EXPECT_EQ(lines[2], "  Options       Q520A,Q520A");
  EXPECT_EQ(lines[3], "  Channels      2");
  EXPECT_EQ(lines[4], "    Channel 1   Q520A");
  EXPECT_EQ(lines[5], "    Channel 2   Q520A");
  EXPECT_EQ(lines[6].rfind("  Version       ", 0), 0u);
  EXPECT_NE(r.out.find("Product Version: "), std::string::npos);

  // The names listed are exactly the bits of the mask.
  const Result json = Pgx({"--json", "info", "6"});
  ASSERT_EQ(json.code, 0) << json.err;
  const nlohmann::json object = json.Json().at(0);
  EXPECT_EQ(object["name"], "GPIB0::11::INSTR");
  EXPECT_EQ(object["Channels"][1]["front_end"], "Q520A");
  std::map<std::string, long> values;
  for (const std::string& line : Pgx({"members", "PgxNotImplFunctions"}).Lines()) {
    const std::vector<std::string> words = Words(line);
    if (words.size() == 2) values[words[0]] = std::stol(words[1]);
  }
  long bits = 0;
  for (const auto& name : object["missing"]) {
    ASSERT_EQ(values.count(name.get<std::string>()), 1u) << name;
    bits |= values[name.get<std::string>()];
  }
  EXPECT_EQ(bits, object["BitMask"].get<long>() & 0xFFFF);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", object["BitMask"].get<long>());
  EXPECT_NE(r.out.find(std::string("  Restrictions  ") + hex), std::string::npos) << r.out;
}

TEST(PgxStatements, GetSetAndCallOnTheOpenedInstrument) {
  // The bench lives in this process: what one command sets, the next reads.
  Result r = Pgx({"set", "5", "Frequency", "2.5e6"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Pgx({"get", "GPIB0::10::INSTR", "Frequency"});
  EXPECT_EQ(r.out, "2500000\n");
  r = Pgx({"get", "5", "channels.item(1).number"});  // names in any case
  EXPECT_EQ(r.out, "1\n");
  r = Pgx({"get", "5", "IsOpen"});
  EXPECT_EQ(r.out, "True\n");
  r = Pgx({"get", "5", "Err.Text(0x80070057)"});  // a hex HRESULT fills a long's sign bit
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out, "\n");
  r = Pgx({"call", "5", "Channels.Refresh"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // A get with an [out] argument shows it after the value.
  r = Pgx({"get", "5", "SelfTest"});
  EXPECT_EQ(r.out, "Self-test passed.\npResultAsNumber = 0\n");
}

TEST(PgxStatements, JsonNamesTheConstantAndShowsInOutArguments) {
  Result r = Pgx({"--json", "set", "6", "PulseMode(3)", "PgxPulseModeBurst"});
  ASSERT_EQ(r.code, 0) << r.err << r.out;
  nlohmann::json set = r.Json().at(0);
  EXPECT_EQ(set["statement"], 1);
  EXPECT_EQ(set["path"], "PulseMode(3)");
  EXPECT_EQ(set["value"], 1);
  EXPECT_EQ(set["vartype"], "VT_I4");
  EXPECT_EQ(set["name"], "PgxPulseModeBurst");
  ASSERT_TRUE(set.contains("out"));
  EXPECT_TRUE(set["out"]["Length"].is_number());

  r = Pgx({"get", "6", "PulseMode(2)", "--json"});
  ASSERT_EQ(r.code, 0) << r.err << r.out;
  nlohmann::json get = r.Json().at(0);
  EXPECT_EQ(get["vartype"], "VT_I4");
  EXPECT_EQ(get["name"], "PgxPulseModeBurst");
  EXPECT_EQ(get["out"]["Length"], 3) << "the in/out argument comes back as the instrument has it";

  r = Pgx({"get", "6", "PulseMode(2)"});
  EXPECT_EQ(r.out, "PgxPulseModeBurst (1)\nLength = 3\n");
}

TEST(PgxStatements, AFailingMemberPrintsItsCodeDescriptionAndPathAndExitsNonZero) {
  Result r = Pgx({"get", "1", "Channels.Item(3).Number"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "pgx: Channels.Item(3) failed: 0x80070057 The parameter is incorrect.\n");

  r = Pgx({"--json", "get", "1", "Channels.Item(3).Number"});
  EXPECT_EQ(r.code, 1);
  const nlohmann::json object = r.Json().at(0);
  EXPECT_EQ(object["statement"], 1);
  EXPECT_EQ(object["path"], "Channels.Item(3).Number");
  EXPECT_EQ(object["error"]["hresult"], "0x80070057");
  EXPECT_EQ(object["error"]["description"], "The parameter is incorrect.");
  EXPECT_TRUE(object["error"].contains("source"));

  // The driver's message comes with the server's, on lines of their own; --verbose-errors names the call.
  r = Pgx({"--verbose-errors", "set", "1", "Frequency", "-5"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.err.rfind("pgx: Frequency failed: 0x8004046C The PNP driver or Visa library returned an error", 0),
      0u)
      << r.err;
  EXPECT_NE(r.err.find("\n    Instr. Error [-222]: Data out of range"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[in the call to"), std::string::npos) << r.err;
}

TEST(PgxStatements, BadInputGetsAClearMessageAndNeverACrash) {
  TempDir dir;
  const std::string empty_registry = dir.write("registry", "; pgx registry\n");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"get", "1", "Frequncy"}, "Frequncy is not a member of IInstrument (did you mean Frequency?)"},
      {{"get", "1", "Channels.Cont"}, "Cont is not a member of IChannels (did you mean Count?)"},
      {{"get", "1", "Channels.Item(1"}, "expected ',' or ')'"},
      {{"get", "1", "Open(True, False, True, 1)"},
       "Open takes 3 arguments (IdQuery, ResetInstrument, AutoDetectErrors), 4 given"},
      {{"get", "1", "Open(Reset:=True)"}, "Open has no parameter Reset"},
      {{"get", "1", "Open(IdQuery:=True, IdQuery:=False)"}, "IdQuery is given twice"},
      {{"get", "1", "Open(IdQuery:=True, False)"}, "arguments by position come before those by name"},
      {{"get", "1", "Err.Text"}, "ErrNumber of Text is required (long)"},
      {{"get", "1", "Err.Text(\"five\")"}, "ErrNumber of Text is a number (long), not \"five\""},
      {{"get", "1", "Err.Text(1.5)"}, "is a whole number (long), not 1.5"},
      {{"get", "1", "Err.Text(3000000000)"}, "out of range: a long is -2147483648 to 2147483647"},
      {{"get", "1", "Version(PgxArmSourceExternal)"},
       "OfWhat of Version is a PgxVersionData, one of: PgxVersionScpi"},
      {{"get", "1", "Version(Nonsense)"}, "OfWhat of Version is a PgxVersionData"},
      {{"get", "1", "Version([1, 2])"}, "OfWhat of Version is a PgxVersionData"},
      {{"call", "1", "AttributeInfo(5)"},
       "Array of AttributeInfo is an array of bytes, written [1, 2, 255], not 5"},
      {{"set", "1", "Frequency", "abc"}, "the value of Frequency is a number (double), not abc"},
      {{"set", "1", "Frequency", "[1"}, "the value of Frequency: at column 3"},
      {{"set", "1", "TimeOut", "1.5"}, "whole number"},
      {{"set", "1", "AutoDetect", "maybe"}, "is True or False, not maybe"},
      {{"set", "1", "Caption", "\"open"}, "no closing quote"},
      {{"set", "1", "IdString", "x"}, "IInstrument.IdString is read-only"},
      {{"set", "1", "Close", "1"}, "IInstrument.Close is a method: use call"},
      {{"get", "1", "Channels.Count.Value"}, "Channels.Count is not an object, so it has no member Value"},
      {{"get", "1", "Parent.Name"}, "Parent is Nothing"},
      {{"get", "99", "Frequency"}, "there is no instrument 99: the server found 8"},
      {{"get", "0", "Frequency"}, "numbered from 1"},
      {{"get", "GPIB0::99::INSTR", "Frequency"}, "no pulse generator GPIB0::99::INSTR among the 8"},
      {{"get", "GPIB0::\"10", "Frequency"}, "is neither an instrument number nor a resource name"},
      {{"run", dir.file("missing.pgx")}, "cannot read the script"},
      {{"members", "INothing"}, "INothing is not a type of pgxsrv"},
      {{"--registry", empty_registry, "list"}, "Pgxsrv.PgxGen is not registered in " + empty_registry},
      {{"--registry", dir.file("none"), "list"}, "does not exist"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const Result r = Pgx(c.args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("pgx: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  // Command lines CLI11 cannot read.
  for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                               {"get", "1"},
                                               {"frobnicate"},
                                               {"run", "1", "a", "b"},
                                               {"--bogus", "list"}}) {
    EXPECT_EQ(Pgx(args).code, 2);
  }
}

TEST(PgxHelp, CoversEveryCommandAndExitsZero) {
  Result r = Pgx({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* command :
       {"list", "info", "get", "set", "call", "run", "shell", "errors", "members", "idl", "--json", "--trace",
        "--bench", "--registry", "--verbose-errors", "--no-id-query", "--reset", "--no-auto-detect"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
  r = Pgx({"run", "--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("--stop-on-error"), std::string::npos);
  EXPECT_NE(r.out.find("A script has one statement per line"), std::string::npos);
}

constexpr const char* kScript = R"(# A script with failing lines.
get Frequency
set Frequency 3e6

get Frequency
get Frequncy
set Channels.Item(9).Number 1
call Channels.Refresh
errors
get Channels.Count
)";

TEST(PgxRun, AFailingLineIsReportedAndTheScriptGoesOn) {
  TempDir dir;
  const std::string script = dir.write("script.pgx", kScript);
  const Result r = Pgx({"run", "GPIB0::12::INSTR", script});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "Frequency = 1000000\n"
            "Frequency = 3000000\n"
            "Instrument errors: none\n"
            "Warnings: none\n"
            "Channels.Count = 2\n");
  EXPECT_EQ(r.err,
            "pgx: line 6: Frequncy is not a member of IInstrument (did you mean Frequency?); pgx members "
            "IInstrument lists them\n"
            "pgx: line 7: Channels.Item(9) failed: 0x80070057 The parameter is incorrect.\n");
}

// Arguments that come back stand below the line that names the statement they belong to, whether it
// returns a value, sets one or calls a method that returns nothing.
TEST(PgxRun, ArgumentsThatComeBackAreShownUnderTheirStatement) {
  const Result r = Pgx({"run", "GPIB0::12::INSTR"},
                       "set Channels.Item(1).Output.Hold PgxOutputTypeVoltage\n"
                       "call Channels.Item(1).Output.SetLevel(PgxFormatHighLow, PgxOutputTypeAsIs, 1.5, 0)\n"
                       "call Channels.Item(1).Output.GetLevel(PgxFormatAmplitudeOffset)\n"
                       "set PulseMode(4) PgxPulseModeBurst\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Channels.Item(1).Output.GetLevel(PgxFormatAmplitudeOffset)\n"
            "  OutputType = PgxOutputTypeVoltage (0)\n"
            "  OffsetOrHigh = 0.75\n"
            "  AmplitudeOrLow = 1.5\n"
            "PulseMode(4) <- PgxPulseModeBurst (1)\n"
            "  Length = 4\n");
}

TEST(PgxRun, StopOnErrorEndsAtTheFirstFailingLineFromStandardInput) {
  const Result r = Pgx({"run", "7", "-", "--stop-on-error"}, kScript);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "Frequency = 1000000\nFrequency = 3000000\n");
  EXPECT_NE(r.err.find("line 6:"), std::string::npos);
  EXPECT_EQ(r.err.find("line 7:"), std::string::npos);
}

TEST(PgxRun, AsJsonOneObjectPerStatementNumberedInOrder) {
  const Result r = Pgx({"--json", "run", "7"}, kScript);
  EXPECT_EQ(r.code, 1);
  const std::vector<nlohmann::json> objects = r.Json();
  ASSERT_EQ(objects.size(), 8u) << r.out;
  for (std::size_t i = 0; i < objects.size(); ++i) EXPECT_EQ(objects[i]["statement"], i + 1);
  EXPECT_EQ(objects[1]["path"], "Frequency");
  EXPECT_EQ(objects[1]["value"], 3e6);
  EXPECT_EQ(objects[1]["vartype"], "VT_R8");
  EXPECT_EQ(objects[3]["error"]["hresult"], nullptr);
  EXPECT_EQ(objects[4]["error"]["hresult"], "0x80070057");
  EXPECT_EQ(objects[4]["path"], "Channels.Item(9).Number");
  EXPECT_EQ(objects[6]["value"]["Warnings"], "");
  EXPECT_EQ(objects[7]["value"], 2);
  EXPECT_EQ(r.err, "");
}

TEST(PgxRun, WithoutATargetPathsStartAtTheRoot) {
  const Result r = Pgx({"run", "-"},
                       "get Instruments.Count\n"
                       "get Instruments.Item(\"GPIB0::13::INSTR\").Open(True)\n"
                       "get Instruments.Item(\"GPIB0::13::INSTR\").Channels.Count\n"
                       "get Instruments.Item(0)\n"
                       "get Enabled\n");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Instruments.Count = 8\n"
            "Instruments.Item(\"GPIB0::13::INSTR\").Open(True) = True\n"
            "Instruments.Item(\"GPIB0::13::INSTR\").Channels.Count = 1\n"
            "Instruments.Item(0) = Nothing\n"
            "Enabled = True\n");
}

TEST(PgxShell, ReadsStatementsAndBarePathsUntilQuit) {
  const Result r = Pgx({"shell", "8"},
                       "Frequency\n"
                       "set Frequency 4e6\n"
                       "get frequency\n"
                       "nonsense\n"
                       "members IRestrictions\n"
                       "quit\n"
                       "get Frequency\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "1000000\n4000000\nIRestrictions: dual interface, 1 member\n  get  BitMask: long\n");
  EXPECT_EQ(r.err,
            "pgx: line 4: nonsense is not a member of IInstrument; pgx members IInstrument lists them\n");
}

TEST(PgxShell, CompletesMembersAlongThePathAndConstantsInValues) {
  Settings settings;
  Connection connection(settings);
  connection.Open("1");
  using V = std::vector<std::string>;
  EXPECT_EQ(Completions(connection, "ge"), V({"get"}));
  EXPECT_EQ(Completions(connection, "get Chan"), V({"ChannelMath", "Channels"}));
  EXPECT_EQ(Completions(connection, "get channels.item(1).vol"), V({"Voltage"}));
  EXPECT_EQ(Completions(connection, "set Channels.Item(1).Voltage.Li"), V({"Limit"}));
  EXPECT_EQ(Completions(connection, "get Trigger.Arm.So"), V({"Source"}));
  EXPECT_EQ(Completions(connection, "set Trigger.Arm.Source PgxArmSourceE"),
            V({"PgxArmSourceECLT0", "PgxArmSourceECLT1", "PgxArmSourceExternal"}));
  EXPECT_EQ(Completions(connection, "get Version(PgxVersionA"), V({"PgxVersionActiveX", "PgxVersionAll"}));
  EXPECT_EQ(Completions(connection, "members PgxArmS"), V({"PgxArmSense", "PgxArmSlope", "PgxArmSource"}));
  // A result typed IDispatch leads nowhere known; hidden members are not offered.
  EXPECT_EQ(Completions(connection, "get Parent.Na"), V{});
  EXPECT_EQ(Completions(connection, "get _C"), V{});
  EXPECT_EQ(Completions(connection, "get Nonsense.X"), V{});
}

TEST(PgxTypeLibrary, MembersAndIdlComeFromTheServersLibrary) {
  Result r = Pgx({"members", "Instrument"});
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = r.Lines();
  EXPECT_EQ(lines[0], "IInstrument: dual interface, 36 members");
  auto has = [&](const std::string& text) {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  };
  EXPECT_TRUE(has("  get/put  Frequency: double"));
  EXPECT_TRUE(has("  method   Reset()"));
  EXPECT_TRUE(has("  get/put  PulseMode([in, out, optional] long* Length): PgxPulseMode"));
  EXPECT_TRUE(
      has("  get      Open([in, optional, defaultvalue(0)] VARIANT_BOOL IdQuery, [in, optional, "
          "defaultvalue(0)] VARIANT_BOOL ResetInstrument, [in, optional, defaultvalue(0)] VARIANT_BOOL "
          "AutoDetectErrors): VARIANT_BOOL"))
      << r.out;
  EXPECT_TRUE(has("  get      _Cmd: I_Cmd*  (hidden)"));

  r = Pgx({"members", "PgxVi"});
  EXPECT_NE(r.out.find("PgxViUnknownSlot     -1\n"), std::string::npos) << r.out;
  r = Pgx({"members"});
  EXPECT_NE(r.out.find("\nEnumerations\n"), std::string::npos);
  EXPECT_NE(r.out.find("ViAttributeInfo"), std::string::npos);

  r = Pgx({"idl"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("[uuid(08ACD48B-64AD-4782-BBEB-E36F0F560001), version(1.0)", 0), 0u)
      << r.out.substr(0, 200);
  EXPECT_NE(r.out.find("interface IInstrument : IDispatch {"), std::string::npos);
  EXPECT_NE(r.out.find("coclass PgxGen {"), std::string::npos);
}

TEST(PgxOptions, TraceRecordsTheIdentityCheckAndOpenOptionsReachTheInstrument) {
  TempDir dir;
  const std::string trace = dir.file("io.trace");
  Result r = Pgx({"--trace", trace, "--reset", "--no-auto-detect", "get", "GPIB0::10::INSTR", "AutoDetect"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "False\n");
  r = Pgx({"get", "GPIB0::10::INSTR", "AutoDetect"});
  EXPECT_EQ(r.out, "True\n");
  const std::string text = read_file_once_it_has(trace, "*RST");
  EXPECT_NE(text.find("GPIB0::10::INSTR viWrite \"*IDN?"), std::string::npos) << text.substr(0, 400);
  EXPECT_NE(text.find("*RST"), std::string::npos);
}

}  // namespace
}  // namespace pgx::cli
