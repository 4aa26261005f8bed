// Arm against the recording driver: its keyword tables in both directions, the values without a keyword, and
// the VXI arming restriction of its source.
#include "server/trigger/arm.h"

#include <gtest/gtest.h>

#include <optional>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using testing::ChildOf;
using testing::RecordedInstrument;

using Lines = std::vector<std::string>;

class ArmTest : public ::testing::Test {
 protected:
  auto_::ComPtr<IArm> Open(const char* front_ends) {
    instrument_.emplace(front_ends);
    return ChildOf(ChildOf(instrument_->instrument.Get(), &IInstrument::get_Trigger).Get(),
                   &ITrigger::get_Arm);
  }

  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  std::optional<RecordedInstrument> instrument_;
};

// A keyword member of Arm: its set and its get.
struct KeywordMember {
  const char* name;
  HRESULT (*put)(IArm*, LONG);
  HRESULT (*get)(IArm*, LONG*);
  const char* command;
};

const KeywordMember kSense = {
    "Sense", [](IArm* a, LONG v) { return a->put_Sense(PgxArmSense(v)); },
    [](IArm* a, LONG* v) { return a->get_Sense(reinterpret_cast<PgxArmSense*>(v)); }, ":ARM:SENS"};
const KeywordMember kSlope = {
    "Slope", [](IArm* a, LONG v) { return a->put_Slope(PgxArmSlope(v)); },
    [](IArm* a, LONG* v) { return a->get_Slope(reinterpret_cast<PgxArmSlope*>(v)); }, ":ARM:SLOP"};
const KeywordMember kSource = {
    "Source", [](IArm* a, LONG v) { return a->put_Source(PgxArmSource(v)); },
    [](IArm* a, LONG* v) { return a->get_Source(reinterpret_cast<PgxArmSource*>(v)); }, ":ARM:SOUR"};

struct Keyword {
  const KeywordMember* member;
  LONG value;
  const char* keyword;
};

// Each value is sent as its keyword, and the keyword reads back as the value.
TEST_F(ArmTest, KeywordsTravelBothWays) {
  const Keyword cases[] = {
      {&kSense, PgxArmSenseEdge, "EDGE"},          {&kSense, PgxArmSenseLevel, "LEV"},
      {&kSlope, PgxArmSlopePositive, "POS"},       {&kSlope, PgxArmSlopeNegative, "NEG"},
      {&kSlope, PgxArmSlopeEither, "EITH"},        {&kSource, PgxArmSourceImmediate, "IMM"},
      {&kSource, PgxArmSourceInternalPll, "INT2"}, {&kSource, PgxArmSourceExternal, "EXT"},
      {&kSource, PgxArmSourceManual, "MAN"},       {&kSource, PgxArmSourceECLT0, "ECLT0"},
      {&kSource, PgxArmSourceECLT1, "ECLT1"},      {&kSource, PgxArmSourceTTLT0, "TTLT0"},
      {&kSource, PgxArmSourceTTLT7, "TTLT7"},
  };
  auto arm = Open("Q530A");  // a model that arms from every source
  for (const Keyword& c : cases) {
    SCOPED_TRACE(std::string(c.member->name) + " " + c.keyword);
    driver().ClearCalls();
    driver().Answer(std::string(c.member->command) + "?", c.keyword);
    LONG read = -1;
    EXPECT_EQ(c.member->put(arm.Get(), c.value), S_OK);
    EXPECT_EQ(c.member->get(arm.Get(), &read), S_OK);
    EXPECT_EQ(read, c.value);
    EXPECT_EQ(driver().Calls(),
              (Lines{"pgxgen_cmdString(1, \"" + std::string(c.member->command) + "\", \"" + c.keyword + "\")",
                     "pgxgen_cmdString_Q(1, \"" + std::string(c.member->command) + "?\", 256)"}));
  }
}

struct Refusal {
  const KeywordMember* member;
  LONG value;
  const char* front_ends;
  HRESULT result;
};

// Values without a keyword and out of range are refused before anything is sent; a VXI trigger line as the
// arming source only on a model that cannot arm from the backplane, and only after the range check.
TEST_F(ArmTest, RefusalsSendNothing) {
  const Refusal cases[] = {
      {&kSense, PgxArmSenseEnd, "Q530A", E_INVALIDARG},
      {&kSense, -1, "Q530A", E_INVALIDARG},
      {&kSlope, PgxArmSlopeAsIs, "Q530A", E_INVALIDARG},
      {&kSlope, PgxArmSlopeEnd, "Q530A", E_INVALIDARG},
      {&kSource, 2, "Q530A", E_INVALIDARG},
      {&kSource, 2, "M4030A", E_INVALIDARG},
      {&kSource, PgxArmSourceEnd, "M4030A", E_INVALIDARG},
      {&kSource, -1, "M4030A", E_INVALIDARG},
      {&kSource, PgxArmSourceECLT0, "M4030A", kErrNotSupported},
      {&kSource, PgxArmSourceTTLT7, "M4010A", kErrNotSupported},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(std::string(c.member->name) + " " + std::to_string(c.value) + " on " + c.front_ends);
    auto arm = Open(c.front_ends);
    EXPECT_EQ(c.member->put(arm.Get(), c.value), c.result);
    EXPECT_EQ(driver().CallCount(), 0u);
  }
}

// The comparison is exact: a reply in another case or with the long form is not a keyword, and the value
// is left as it was.
TEST_F(ArmTest, AnUnknownReplyIsAnInvalidResponse) {
  auto arm = Open("M4030A");
  for (const char* reply : {"edge", "LEVEL", ""}) {
    SCOPED_TRACE(reply);
    driver().Answer(":ARM:SENS?", reply);
    LONG read = -1;
    EXPECT_EQ(kSense.get(arm.Get(), &read), kErrInvalidResponse);
    EXPECT_EQ(read, -1);
  }
  EXPECT_EQ(arm->get_Source(nullptr), E_POINTER);
}

}  // namespace
}  // namespace pgx::server
