// Status and Group late-bound on the built-in bench, against the simulated instrument's status model: event
// registers latch and clear on read, the transition filters choose which changes of a condition latch, enable
// masks reach the status byte, and a value the instrument refuses fails with the instrument's own message.
#include <string>

#include "server/testing/on_bench.h"

namespace {

using pgx::auto_::com_error;
using pgx::auto_::DispatchPtr;
using pgx::auto_::Variant;
using namespace pgx::server::testing;

// Status byte and standard event bits.
constexpr SHORT kErrorQueued = 4, kQuestionableSummary = 8, kEventSummary = 32;
constexpr SHORT kOperationComplete = 1, kCommandError = 32;
// The questionable condition bit of a clipped width.
constexpr SHORT kTime = 4;

SHORT Short(const Variant& v) {
  EXPECT_EQ(v.vt, VT_I2);
  return v.iVal;
}

class StatusOnBench : public OnBench {
 protected:
  void SetUp() override {
    OnBench::SetUp();
    instrument_ = Open(kQ530Ax2);
    status_ = Object(instrument_.InvokeByName(u"Status", kGet));
    questionable_ = Object(status_.InvokeByName(u"Questionable", kGet));
    standard_event_ = Object(status_.InvokeByName(u"StandardEvent", kGet));
    cmd_ = Object(instrument_.InvokeByName(u"_Cmd", kGet));
  }
  void TearDown() override {
    instrument_ = status_ = questionable_ = standard_event_ = cmd_ = nullptr;
    OnBench::TearDown();
  }

  SHORT Read(const DispatchPtr& object, const char16_t* member) {
    return Short(object.InvokeByName(member, kGet));
  }
  // Clips the width of channel 1 to the period, or not.
  void ClipWidth(bool clipped) {
    instrument_.InvokeByName(u"Period", kPut, {Variant(1e-6)});
    DispatchPtr pulse = Object(ChannelOf(instrument_, 1).InvokeByName(u"Pulse", kGet));
    pulse.InvokeByName(u"Width", kPut, {Variant(clipped ? 2e-6 : 1e-7)});
  }

  DispatchPtr instrument_, status_, questionable_, standard_event_, cmd_;
};

TEST_F(StatusOnBench, StandardEventsLatchUntilReadAndReachTheStatusByte) {
  status_.InvokeByName(u"Clear", kCall);
  EXPECT_EQ(Read(standard_event_, u"EventRegister"), 0);
  standard_event_.InvokeByName(u"EnableRegister", kPut, {Variant(kOperationComplete)});
  EXPECT_EQ(Read(standard_event_, u"EnableRegister"), kOperationComplete);
  instrument_.InvokeByName(u"AutoDetect", kPut, {Variant(false)});
  cmd_.InvokeByName(u"Cmd", kCall, {Variant(u":NO:SUCH:HEADER")});  // a command error, left in the queue
  EXPECT_EQ(Read(status_, u"Byte") & (kErrorQueued | kEventSummary), kErrorQueued);  // not enabled
  cmd_.InvokeByName(u"Cmd", kCall, {Variant(u"*OPC")});
  EXPECT_EQ(Read(status_, u"Byte") & (kErrorQueued | kEventSummary), kErrorQueued | kEventSummary);
  EXPECT_EQ(Read(standard_event_, u"EventRegister"), kCommandError | kOperationComplete);
  EXPECT_EQ(Read(standard_event_, u"EventRegister"), 0);  // reading cleared it
  EXPECT_EQ(Read(status_, u"Byte") & (kErrorQueued | kEventSummary), kErrorQueued);
  status_.InvokeByName(u"Clear", kCall);  // empties the error queue, keeps the enable
  EXPECT_EQ(Read(status_, u"Byte") & kErrorQueued, 0);
  EXPECT_EQ(Read(standard_event_, u"EnableRegister"), kOperationComplete);
  EXPECT_EQ(status_.InvokeByName(u"OperationComplete", kGet).boolVal, VARIANT_TRUE);
  EXPECT_EQ(FailureOf([&] { standard_event_.InvokeByName(u"ConditionRegister", kGet); }), kRefused);
  EXPECT_EQ(FailureOf([&] { status_.InvokeByName(u"Operation", kGet); }), kRefused);
}

TEST_F(StatusOnBench, TransitionFiltersChooseWhichChangesLatch) {
  status_.InvokeByName(u"Preset", kCall);
  EXPECT_EQ(Read(questionable_, u"PosTransitionReg"), 32767);
  EXPECT_EQ(Read(questionable_, u"NegTransitionRegister"), 0);
  EXPECT_EQ(Read(questionable_, u"EnableRegister"), 0);
  ClipWidth(false);
  Read(questionable_, u"EventRegister");

  // Rising edges latch by default.
  ClipWidth(true);
  EXPECT_EQ(Read(questionable_, u"ConditionRegister") & kTime, kTime);
  EXPECT_EQ(Read(questionable_, u"EventRegister"), kTime);
  EXPECT_EQ(Read(questionable_, u"EventRegister"), 0);

  // Only falling edges now.
  questionable_.InvokeByName(u"PosTransitionReg", kPut, {Variant(SHORT{0})});
  questionable_.InvokeByName(u"NegTransitionRegister", kPut, {Variant(kTime)});
  ClipWidth(false);
  EXPECT_EQ(Read(questionable_, u"ConditionRegister") & kTime, 0);
  questionable_.InvokeByName(u"EnableRegister", kPut, {Variant(kTime)});
  EXPECT_EQ(Read(status_, u"Byte") & kQuestionableSummary, kQuestionableSummary);
  EXPECT_EQ(Read(questionable_, u"EventRegister"), kTime);
  ClipWidth(true);
  EXPECT_EQ(Read(questionable_, u"EventRegister"), 0);

  // A 16-bit value with bit 15 set goes out sign-extended; the register keeps bits 0 to 14.
  questionable_.InvokeByName(u"EnableRegister", kPut, {Variant(static_cast<SHORT>(0xFFFF))});
  EXPECT_EQ(Read(questionable_, u"EnableRegister"), 32767);
}

// "*SRE" and "*ESE" take 0 to 255: -1 is refused by the instrument, and the member fails with its message
// whether AutoDetect is on or off; the mask stays as it was.
TEST_F(StatusOnBench, AnEnableMaskTheInstrumentRefusesFailsWithItsMessage) {
  for (bool auto_detect : {false, true}) {
    SCOPED_TRACE(auto_detect);
    instrument_.InvokeByName(u"AutoDetect", kPut, {Variant(auto_detect)});
    status_.InvokeByName(u"ServiceRequestEnable", kPut, {Variant(SHORT{32})});
    EXPECT_EQ(Read(status_, u"ServiceRequestEnable"), 32);
    for (const DispatchPtr* object : {&status_, &standard_event_}) {
      const char16_t* member = object == &status_ ? u"ServiceRequestEnable" : u"EnableRegister";
      try {
        object->InvokeByName(member, kPut, {Variant(SHORT{-1})});
        ADD_FAILURE() << "a refused mask passed as success";
      } catch (const com_error& e) {
        EXPECT_EQ(e.Error(), static_cast<HRESULT>(0x8004046C));
        EXPECT_NE(e.Description().find(u"Instr. Error [-222]: Data out of range"), std::u16string::npos)
            << e.what();
      }
    }
    EXPECT_EQ(Read(status_, u"ServiceRequestEnable"), 32);
    EXPECT_EQ(instrument_.InvokeByName(u"AutoDetect", kGet).boolVal,
              auto_detect ? VARIANT_TRUE : VARIANT_FALSE);
    EXPECT_EQ(Read(status_, u"Byte") & kErrorQueued, 0);  // the report read the instrument's queue
  }
}

}  // namespace
