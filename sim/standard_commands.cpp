// The IEEE 488.2 common commands and the :SYSTem:ERRor and :STATus subsystems every instrument has.

#include "sim/call.h"
#include "sim/engine.h"
#include "sim/instrument.h"
#include "sim/scpi_error.h"

namespace pgx::sim {
namespace {

StatusRegisters& registers(Call& c) {
  return c.engine().status();
}

// A register of the questionable group: the query answers it, the setter takes a 16-bit value (a negative one
// as the controller's sign-extended 16 bits).
template <StatusRegisters::Questionable Which>
void questionable_register(Instrument&, Call& c) {
  if (c.is_query()) {
    if (c.expect(0, 0)) c.reply_integer(registers(c).questionable(Which));
    return;
  }
  long long v = 0;
  if (!c.expect(1, 1) || !c.integer(0, -32768, 65535, v)) return;
  registers(c).set_questionable(Which, static_cast<std::uint16_t>(v & 0xFFFF));
}

// An 8-bit enable register (*ESE, *SRE).
template <unsigned (StatusRegisters::*Get)() const, void (StatusRegisters::*Set)(unsigned)>
void enable_register(Instrument&, Call& c) {
  if (c.is_query()) {
    if (c.expect(0, 0)) c.reply_integer((registers(c).*Get)());
    return;
  }
  long long v = 0;
  if (!c.expect(1, 1) || !c.integer(0, 0, 255, v)) return;
  (registers(c).*Set)(static_cast<unsigned>(v));
}

constexpr Handler kEventEnable =
    &enable_register<&StatusRegisters::event_enable, &StatusRegisters::set_event_enable>;
constexpr Handler kServiceRequestEnable =
    &enable_register<&StatusRegisters::service_request_enable, &StatusRegisters::set_service_request_enable>;

}  // namespace

void Engine::add_standard_commands(CommandTree& t) {
  t.add_common("*IDN", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) c.reply_raw(in.identity());
  });
  t.add_common("*OPT", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) c.reply_raw(in.options());
  });
  t.add_common(
      "*RST",
      [](Instrument& in, Call& c) {
        if (c.expect(0, 0)) in.reset();
      },
      nullptr);
  t.add_common(
      "*CLS",
      [](Instrument&, Call& c) {
        if (c.expect(0, 0)) c.engine().clear_status();
      },
      nullptr);
  t.add_common("*ESE", kEventEnable, kEventEnable);
  t.add_common("*ESR", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_integer(registers(c).take_event_status());
  });
  t.add_common("*SRE", kServiceRequestEnable, kServiceRequestEnable);
  t.add_common("*STB", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_integer(c.engine().status_byte());
  });
  t.add_common(
      "*OPC",
      [](Instrument&, Call& c) {
        if (c.expect(0, 0)) registers(c).raise_events(StatusRegisters::kOpc);
      },
      [](Instrument&, Call& c) {
        if (c.expect(0, 0)) c.reply_raw("1");
      });
  t.add_common(
      "*WAI", [](Instrument&, Call& c) { c.expect(0, 0); }, nullptr);
  t.add_common("*TST", nullptr, [](Instrument& in, Call& c) {
    if (!c.expect(0, 0)) return;
    int r = in.self_test();
    if (r != 0) c.engine().push_error(err::kSelfTestFailed);
    c.reply_integer(r);
  });
  t.add_common("*CAL", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) in.calibrate(c);
  });
  t.add_common(
      "*SAV",
      [](Instrument& in, Call& c) {
        long long n = 0;
        if (c.expect(1, 1) && c.integer(0, -2147483647LL, 2147483647LL, n)) in.save(c, n);
      },
      nullptr);
  t.add_common(
      "*RCL",
      [](Instrument& in, Call& c) {
        long long n = 0;
        if (c.expect(1, 1) && c.integer(0, -2147483647LL, 2147483647LL, n)) in.recall(c, n);
      },
      nullptr);
  t.add_common("*LRN", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) in.learn(c);
  });
  t.add_common(
      "*TRG",
      [](Instrument& in, Call& c) {
        if (c.expect(0, 0)) in.trigger(c);
      },
      nullptr);

  t.add(":SYSTem:ERRor[:NEXT]", nullptr, [](Instrument&, Call& c) {
    if (!c.expect(0, 0)) return;
    ErrorQueue::Entry e = c.engine().errors().pop();
    c.reply_integer(e.code);
    c.append_raw(",");
    c.append_string(e.text);
  });
  t.add(":SYSTem:ERRor:COUNt", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_integer(static_cast<long long>(c.engine().errors().size()));
  });
  t.add(":SYSTem:VERSion", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_raw("1999.0");
  });
  t.add(
      ":STATus:PRESet",
      [](Instrument&, Call& c) {
        if (c.expect(0, 0)) registers(c).preset();
      },
      nullptr);
  t.add(":STATus:QUEStionable[:EVENt]", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_integer(registers(c).take_questionable_event());
  });
  t.add(":STATus:QUEStionable:CONDition", nullptr, [](Instrument&, Call& c) {
    c.engine().update_questionable();
    if (c.expect(0, 0)) c.reply_integer(registers(c).questionable_condition());
  });
  using Q = StatusRegisters::Questionable;
  constexpr Handler kEnable = &questionable_register<Q::kEnable>;
  constexpr Handler kPositive = &questionable_register<Q::kPositiveTransition>;
  constexpr Handler kNegative = &questionable_register<Q::kNegativeTransition>;
  t.add(":STATus:QUEStionable:ENABle", kEnable, kEnable);
  t.add(":STATus:QUEStionable:PTRansition", kPositive, kPositive);
  t.add(":STATus:QUEStionable:NTRansition", kNegative, kNegative);
}

// ---- Instrument defaults -------------------------------------------------------------------------------

void Instrument::calibrate(Call& call) {
  call.fail(err::kUndefinedHeader);
}
void Instrument::save(Call& call, long long) {
  call.fail(err::kUndefinedHeader);
}
void Instrument::recall(Call& call, long long) {
  call.fail(err::kUndefinedHeader);
}
void Instrument::learn(Call& call) {
  call.fail(err::kUndefinedHeader);
}
void Instrument::trigger(Call& call) {
  call.fail(err::kUndefinedHeader);
}

}  // namespace pgx::sim
