// Status and Group against the recording driver: the SCPI of each register of each group, the registers a
// group lacks, the 16-bit values sent sign-extended, and the register writes that the instrument refuses
// reaching the caller as failures with the instrument's message whether or not AutoDetect is on.
#include "server/pattern/status.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "server/core/messages.h"
#include "server/testing/recorded_instrument.h"

namespace pgx::server {
namespace {

using driver::testing::Scpi;
using testing::ChildOf;
using testing::RecordedInstrument;
using testing::TakeErrorText;
using Lines = std::vector<std::string>;

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instrument_.emplace("Q530A,Q530A");
    status_ = ChildOf(instrument_->instrument.Get(), &IInstrument::get_Status);
    questionable_ = ChildOf(status_.Get(), &IStatus::get_Questionable);
    standard_event_ = ChildOf(status_.Get(), &IStatus::get_StandardEvent);
    driver().ClearCalls();
  }

  driver::testing::RecordingDriver& driver() { return instrument_->driver; }

  std::optional<RecordedInstrument> instrument_;
  auto_::ComPtr<IStatus> status_;
  auto_::ComPtr<IGroup> questionable_;
  auto_::ComPtr<IGroup> standard_event_;
};

using GroupRead = HRESULT (STDMETHODCALLTYPE IGroup::*)(SHORT*);
using GroupWrite = HRESULT (STDMETHODCALLTYPE IGroup::*)(SHORT);

struct ReadCase {
  const char* what;
  bool standard_event;
  GroupRead read;
  const char* query;  // nullptr: the group lacks the register
};

TEST_F(StatusTest, EachGroupReadsItsOwnRegisters) {
  const ReadCase cases[] = {
      {"questionable condition", false, &IGroup::get_ConditionRegister, ":STAT:QUES:COND?"},
      {"questionable enable", false, &IGroup::get_EnableRegister, ":STAT:QUES:ENAB?"},
      {"questionable event", false, &IGroup::get_EventRegister, ":STAT:QUES:EVEN?"},
      {"questionable NTR", false, &IGroup::get_NegTransitionRegister, ":STAT:QUES:NTR?"},
      {"questionable PTR", false, &IGroup::get_PosTransitionReg, ":STAT:QUES:PTR?"},
      {"standard event enable", true, &IGroup::get_EnableRegister, "*ESE?"},
      {"standard event event", true, &IGroup::get_EventRegister, "*ESR?"},
      {"standard event condition", true, &IGroup::get_ConditionRegister, nullptr},
      {"standard event NTR", true, &IGroup::get_NegTransitionRegister, nullptr},
      {"standard event PTR", true, &IGroup::get_PosTransitionReg, nullptr},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.what);
    driver().ClearCalls();
    if (c.query) driver().Answer(c.query, "32767");
    IGroup* group = c.standard_event ? standard_event_.Get() : questionable_.Get();
    SHORT value = -7;
    EXPECT_EQ((group->*c.read)(nullptr), E_POINTER);
    if (c.query) {
      EXPECT_EQ((group->*c.read)(&value), S_OK);
      EXPECT_EQ(value, 32767);
      EXPECT_EQ(driver().Calls(), Lines{"pgxgen_cmdInt16_Q(1, \"" + std::string(c.query) + "\")"});
    } else {
      EXPECT_EQ((group->*c.read)(&value), kErrNotSupported);
      EXPECT_EQ(TakeErrorText(), "The current instrument does not support this function.");
      EXPECT_EQ(value, -7);
      EXPECT_EQ(driver().Calls(), Lines{});
    }
  }
}

struct WriteCase {
  const char* what;
  bool standard_event;
  GroupWrite write;
  const char* header;  // nullptr: the group lacks the register
};

// With AutoDetect on the driver checks every write anyway; the value goes out sign-extended.
TEST_F(StatusTest, EachGroupWritesItsOwnRegistersSignExtended) {
  driver().Return("pgxgen_errorQueryDetect_Q", {1});
  const WriteCase cases[] = {
      {"questionable enable", false, &IGroup::put_EnableRegister, ":STAT:QUES:ENAB"},
      {"questionable NTR", false, &IGroup::put_NegTransitionRegister, ":STAT:QUES:NTR"},
      {"questionable PTR", false, &IGroup::put_PosTransitionReg, ":STAT:QUES:PTR"},
      {"standard event enable", true, &IGroup::put_EnableRegister, "*ESE"},
      {"standard event NTR", true, &IGroup::put_NegTransitionRegister, nullptr},
      {"standard event PTR", true, &IGroup::put_PosTransitionReg, nullptr},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.what);
    driver().ClearCalls();
    IGroup* group = c.standard_event ? standard_event_.Get() : questionable_.Get();
    const auto all_bits = static_cast<SHORT>(0xFFFF);
    if (c.header) {
      EXPECT_EQ((group->*c.write)(all_bits), S_OK);
      EXPECT_EQ((group->*c.write)(4), S_OK);
      const std::string header = c.header;
      EXPECT_EQ(driver().CallsTo("pgxgen_cmdInt"), (Lines{"pgxgen_cmdInt(1, \"" + header + "\", -1)",
                                                          "pgxgen_cmdInt(1, \"" + header + "\", 4)"}));
    } else {
      EXPECT_EQ((group->*c.write)(all_bits), kErrNotSupported);
      EXPECT_EQ(driver().CallCount(), 0u);
    }
  }
}

TEST_F(StatusTest, StatusMembersSendTheirCommands) {
  driver().Answer("*STB?", "68");
  driver().Answer("*SRE?", "32");
  driver().Return("pgxgen_opc_Q", {1});
  SHORT byte = 0, enable = 0;
  VARIANT_BOOL complete = VARIANT_FALSE;
  EXPECT_EQ(status_->get_Byte(&byte), S_OK);
  EXPECT_EQ(status_->Clear(), S_OK);
  EXPECT_EQ(status_->Preset(), S_OK);
  EXPECT_EQ(status_->get_OperationComplete(&complete), S_OK);
  EXPECT_EQ(status_->get_ServiceRequestEnable(&enable), S_OK);
  EXPECT_EQ(byte, 68);
  EXPECT_EQ(complete, VARIANT_TRUE);
  EXPECT_EQ(enable, 32);
  EXPECT_EQ(driver().Calls(), (Lines{
                                  "pgxgen_cmdInt16_Q(1, \"*STB?\")",
                                  "pgxgen_cmd(1, \"*CLS\")",
                                  "pgxgen_cmd(1, \":STAT:PRES\")",
                                  "pgxgen_opc_Q(1)",
                                  "pgxgen_cmdInt16_Q(1, \"*SRE?\")",
                              }));
  driver().ClearCalls();
  for (auto get : {&IStatus::get_Byte, &IStatus::get_ServiceRequestEnable})
    EXPECT_EQ((status_.Get()->*get)(nullptr), E_POINTER);
  EXPECT_EQ(status_->get_OperationComplete(nullptr), E_POINTER);
  EXPECT_EQ(driver().CallCount(), 0u);
}

TEST_F(StatusTest, GroupsAreCachedAndTheOperationGroupIsRefused) {
  EXPECT_EQ(ChildOf(status_.Get(), &IStatus::get_Questionable).Get(), questionable_.Get());
  EXPECT_EQ(ChildOf(status_.Get(), &IStatus::get_StandardEvent).Get(), standard_event_.Get());
  EXPECT_NE(questionable_.Get(), standard_event_.Get());
  IGroup* operation = reinterpret_cast<IGroup*>(0x1);
  EXPECT_EQ(status_->get_Operation(&operation), kErrNotSupported);
  EXPECT_EQ(operation, nullptr);
  EXPECT_EQ(status_->get_Operation(nullptr), E_POINTER);
  EXPECT_EQ(status_->get_Questionable(nullptr), E_POINTER);
  EXPECT_EQ(status_->get_StandardEvent(nullptr), E_POINTER);
  EXPECT_EQ(driver().CallCount(), 0u);
}

// The instrument takes 0-255 for "*SRE": -1 (all 16 bits set, sign-extended) is refused with its own error,
// which must fail the member with the instrument's message, not pass as success, with AutoDetect on or off.
TEST_F(StatusTest, ARefusedServiceRequestEnableFailsWithTheInstrumentsMessage) {
  for (bool auto_detect : {false, true}) {
    SCOPED_TRACE(auto_detect ? "AutoDetect on" : "AutoDetect off");
    driver().ClearCalls();
    driver().Return("pgxgen_errorQueryDetect_Q", {auto_detect ? 1.0 : 0.0});
    driver().FailOnce(Scpi{"*SRE"}, PGXGEN_ERROR_INSTRUMENT);
    driver().QueueInstrumentError(-222, "Data out of range");
    EXPECT_EQ(status_->put_ServiceRequestEnable(-1), kErrDriver);
    EXPECT_EQ(TakeErrorText(),
              "The PNP driver or Visa library returned an error\nInstr. Error [-222]: Data out of range");
    const Lines checked_once = {"pgxgen_errorQueryDetect_Q(1)", "pgxgen_errorQueryDetect(1, 1)",
                                "pgxgen_cmdInt(1, \"*SRE\", -1)", "pgxgen_errorQueryDetect(1, 0)"};
    const Lines checked_always = {"pgxgen_errorQueryDetect_Q(1)", "pgxgen_cmdInt(1, \"*SRE\", -1)"};
    const Lines calls = driver().Calls();
    // The error report reads the instrument's queue after the write.
    ASSERT_GE(calls.size(), auto_detect ? 2u : 4u);
    EXPECT_EQ(Lines(calls.begin(), calls.begin() + (auto_detect ? 2 : 4)),
              auto_detect ? checked_always : checked_once);
  }
}

// The driver's check is switched back off even when switching it on worked but the write failed otherwise.
TEST_F(StatusTest, ACheckedWriteRestoresAutoDetectOnEveryPath) {
  driver().FailOnce(Scpi{":STAT:QUES:ENAB"}, VI_ERROR_TMO);
  EXPECT_EQ(questionable_->put_EnableRegister(4), kErrDriver);
  EXPECT_EQ(driver().CallsTo("pgxgen_errorQueryDetect"),
            (Lines{"pgxgen_errorQueryDetect(1, 1)", "pgxgen_errorQueryDetect(1, 0)"}));
  driver().ClearCalls();
  driver().FailOnce("pgxgen_errorQueryDetect", VI_ERROR_INV_OBJECT);
  EXPECT_EQ(standard_event_->put_EnableRegister(4), kErrDriver);
  EXPECT_EQ(driver().CallsTo("pgxgen_cmdInt"), Lines{});  // not sent unchecked
}

}  // namespace
}  // namespace pgx::server
