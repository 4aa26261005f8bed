// The IEEE 488.2 common commands and the :SYSTem:ERRor and :STATus subsystems every instrument has.

#include "sim/call.h"
#include "sim/engine.h"
#include "sim/instrument.h"
#include "sim/scpi_error.h"

namespace pgx::sim {
namespace {

Engine& eng(Call& c) {
  return c.engine();
}

void register_value(Call& c, std::uint16_t& reg) {
  if (c.is_query()) {
    if (c.expect(0, 0)) c.reply_integer(reg);
    return;
  }
  long long v = 0;
  if (!c.expect(1, 1) || !c.integer(0, -32768, 65535, v)) return;
  reg = static_cast<std::uint16_t>(v & 0x7FFF);
}

void enable_byte(Call& c, unsigned& reg, unsigned mask) {
  if (c.is_query()) {
    if (c.expect(0, 0)) c.reply_integer(reg);
    return;
  }
  long long v = 0;
  if (!c.expect(1, 1) || !c.integer(0, 0, 255, v)) return;
  reg = static_cast<unsigned>(v) & mask;
}

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
        if (c.expect(0, 0)) eng(c).clear_status();
      },
      nullptr);
  t.add_common(
      "*ESE", [](Instrument&, Call& c) { enable_byte(c, eng(c).ese, 0xFF); },
      [](Instrument&, Call& c) { enable_byte(c, eng(c).ese, 0xFF); });
  t.add_common("*ESR", nullptr, [](Instrument&, Call& c) {
    if (!c.expect(0, 0)) return;
    unsigned v = eng(c).esr;
    eng(c).esr = 0;
    c.reply_integer(v);
  });
  t.add_common(
      "*SRE", [](Instrument&, Call& c) { enable_byte(c, eng(c).sre, 0xBF); },
      [](Instrument&, Call& c) { enable_byte(c, eng(c).sre, 0xBF); });
  t.add_common("*STB", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_integer(eng(c).status_byte());
  });
  t.add_common(
      "*OPC",
      [](Instrument&, Call& c) {
        if (c.expect(0, 0)) eng(c).esr |= kOpc;
      },
      [](Instrument&, Call& c) {
        if (c.expect(0, 0)) c.reply_raw("1");
      });
  t.add_common(
      "*WAI", [](Instrument&, Call& c) { c.expect(0, 0); }, nullptr);
  t.add_common("*TST", nullptr, [](Instrument& in, Call& c) {
    if (!c.expect(0, 0)) return;
    int r = in.self_test();
    if (r != 0) eng(c).push_error(err::kSelfTestFailed);
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
    ErrorQueue::Entry e = eng(c).errors().pop();
    c.reply_integer(e.code);
    c.append_raw(",");
    c.append_string(e.text);
  });
  t.add(":SYSTem:ERRor:COUNt", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_integer(static_cast<long long>(eng(c).errors().size()));
  });
  t.add(":SYSTem:VERSion", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_raw("1999.0");
  });
  t.add(
      ":STATus:PRESet",
      [](Instrument&, Call& c) {
        if (!c.expect(0, 0)) return;
        eng(c).ques_enable = 0;
        eng(c).ques_ptr = 0x7FFF;
        eng(c).ques_ntr = 0;
      },
      nullptr);
  t.add(":STATus:QUEStionable[:EVENt]", nullptr, [](Instrument&, Call& c) {
    if (!c.expect(0, 0)) return;
    c.reply_integer(eng(c).ques_event);
    eng(c).ques_event = 0;
  });
  t.add(":STATus:QUEStionable:CONDition", nullptr, [](Instrument&, Call& c) {
    eng(c).update_questionable();
    if (c.expect(0, 0)) c.reply_integer(eng(c).ques_condition);
  });
  t.add(
      ":STATus:QUEStionable:ENABle", [](Instrument&, Call& c) { register_value(c, eng(c).ques_enable); },
      [](Instrument&, Call& c) { register_value(c, eng(c).ques_enable); });
  t.add(
      ":STATus:QUEStionable:PTRansition", [](Instrument&, Call& c) { register_value(c, eng(c).ques_ptr); },
      [](Instrument&, Call& c) { register_value(c, eng(c).ques_ptr); });
  t.add(
      ":STATus:QUEStionable:NTRansition", [](Instrument&, Call& c) { register_value(c, eng(c).ques_ntr); },
      [](Instrument&, Call& c) { register_value(c, eng(c).ques_ntr); });
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
