#include "sim/engine.h"

#include <algorithm>
#include <cmath>

#include "sim/call.h"
#include "sim/instrument.h"

namespace pgx::sim {
namespace {

constexpr bool is_space(char c) { return static_cast<unsigned char>(c) <= ' ' && c != '\n'; }
constexpr bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr std::size_t kMaxMnemonic = 12;

struct Cursor {
  std::string_view s;
  std::size_t i = 0;
  bool end() const { return i >= s.size(); }
  char peek() const { return i < s.size() ? s[i] : '\0'; }
  void skip_space() {
    while (i < s.size() && is_space(s[i])) ++i;
  }
};

// Parses the parameters of one unit up to ';' or the end. Returns 0 or an error number.
int parse_params(Cursor& c, std::array<Param, Call::kMaxParams>& params, std::size_t& count) {
  count = 0;
  c.skip_space();
  if (c.end() || c.peek() == ';') return 0;
  while (true) {
    c.skip_space();
    if (c.end() || c.peek() == ';' || c.peek() == ',') return err::kSyntax;  // empty parameter
    Param p;
    char ch = c.peek();
    if (ch == '"' || ch == '\'') {
      const char quote = ch;
      std::size_t start = ++c.i;
      while (true) {
        if (c.end()) return err::kInvalidStringData;
        if (c.s[c.i] == quote) {
          if (c.i + 1 < c.s.size() && c.s[c.i + 1] == quote) {
            c.i += 2;
            continue;
          }
          break;
        }
        ++c.i;
      }
      p.kind = Param::Kind::kString;
      p.text = c.s.substr(start, c.i - start);
      ++c.i;
    } else if (ch == '#' && c.i + 1 < c.s.size() && is_digit(c.s[c.i + 1])) {
      int n = c.s[c.i + 1] - '0';
      c.i += 2;
      if (n == 0) {  // indefinite length: everything up to the terminator
        p.kind = Param::Kind::kBlock;
        p.text = c.s.substr(c.i);
        c.i = c.s.size();
      } else {
        if (c.i + static_cast<std::size_t>(n) > c.s.size()) return err::kInvalidBlockData;
        std::size_t len = 0;
        for (int k = 0; k < n; ++k) {
          char d = c.s[c.i + static_cast<std::size_t>(k)];
          if (!is_digit(d)) return err::kInvalidBlockData;
          len = len * 10 + static_cast<std::size_t>(d - '0');
        }
        c.i += static_cast<std::size_t>(n);
        if (len > c.s.size() - c.i) return err::kInvalidBlockData;
        p.kind = Param::Kind::kBlock;
        p.text = c.s.substr(c.i, len);
        c.i += len;
      }
    } else {
      std::size_t start = c.i;
      while (!c.end() && c.s[c.i] != ',' && c.s[c.i] != ';') {
        if (c.s[c.i] == '"' || c.s[c.i] == '\'') return err::kInvalidCharacter;
        ++c.i;
      }
      std::size_t stop = c.i;
      while (stop > start && is_space(c.s[stop - 1])) --stop;
      p.kind = Param::Kind::kToken;
      p.text = c.s.substr(start, stop - start);
    }
    if (count >= Call::kMaxParams) return err::kParameterNotAllowed;
    params[count++] = p;
    c.skip_space();
    if (c.end() || c.peek() == ';') return 0;
    if (c.peek() != ',') return err::kSyntax;
    ++c.i;
  }
}

Engine& eng(Call& c) { return c.engine(); }

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

Engine::Engine(const CommandTree& tree, Instrument& instrument) : tree_(tree), instrument_(instrument) {}

void Engine::push_error(int code, std::string_view detail) {
  errors_.push(code, detail);
  esr |= error_event_bit(code);
}

void Engine::push_error_text(int code, std::string_view text) {
  errors_.push_text(code, text);
  esr |= error_event_bit(code);
}

void Engine::clear_status() {
  esr = 0;
  ques_event = 0;
  errors_.clear();
}

void Engine::update_questionable() {
  std::uint16_t now = instrument_.questionable_condition() & 0x7FFF;
  std::uint16_t rising = static_cast<std::uint16_t>(now & ~ques_condition);
  std::uint16_t falling = static_cast<std::uint16_t>(~now & ques_condition);
  ques_event |= static_cast<std::uint16_t>((rising & ques_ptr) | (falling & ques_ntr));
  ques_condition = now;
}

std::uint8_t Engine::status_byte() const {
  unsigned stb = 0;
  if (!errors_.empty()) stb |= 1u << 2;
  if (ques_event & ques_enable) stb |= 1u << 3;
  if (message_available_ || replying_) stb |= 1u << 4;
  if (esr & ese) stb |= 1u << 5;
  if (stb & sre & ~0x40u) stb |= 1u << 6;
  return static_cast<std::uint8_t>(stb);
}

bool Engine::execute(std::string_view message, std::string& out) {
  const std::size_t out_start = out.size();
  replying_ = false;
  bool first_reply = true;
  Cursor c{message, 0};
  path_ = CommandTree::kRoot;
  int suffix_by_depth[CommandTree::kMaxDepth];
  Call call;
  call.engine_ = this;
  call.out_ = &out;
  call.first_reply_ = &first_reply;

  while (true) {
    c.skip_space();
    if (c.end()) break;
    const std::size_t header_start = c.i;
    const CommandTree::Entry* entry = nullptr;
    int error = 0;
    bool query = false;
    bool common = false;
    int leaf = -1;
    if (c.peek() == '*') {
      common = true;
      ++c.i;
      std::size_t start = c.i;
      while (!c.end() && is_alpha(c.peek())) ++c.i;
      std::string_view name = message.substr(start, c.i - start);
      if (!c.end() && c.peek() == '?') {
        query = true;
        ++c.i;
      }
      if (name.empty()) {
        error = err::kSyntax;
      } else if (name.size() > kMaxMnemonic) {
        error = err::kMnemonicTooLong;
      } else {
        entry = tree_.find_common(name);
        if (!entry) error = err::kUndefinedHeader;
      }
    } else {
      int at = path_;
      if (c.peek() == ':') {
        at = CommandTree::kRoot;
        ++c.i;
      }
      std::copy(std::begin(path_suffix_), std::end(path_suffix_), std::begin(suffix_by_depth));
      while (true) {
        std::size_t start = c.i;
        while (!c.end() && is_alpha(c.peek())) ++c.i;
        std::size_t letters_end = c.i;
        while (!c.end() && is_digit(c.peek())) ++c.i;
        std::string_view letters = message.substr(start, letters_end - start);
        std::string_view digits = message.substr(letters_end, c.i - letters_end);
        if (letters.empty()) {
          error = err::kSyntax;
          break;
        }
        if (letters.size() > kMaxMnemonic) {
          error = err::kMnemonicTooLong;
          break;
        }
        int child = tree_.find_child(at, letters);
        if (child < 0) {
          error = err::kUndefinedHeader;
          break;
        }
        const CommandTree::Node& node = tree_.node(child);
        int suffix = 1;
        if (!digits.empty()) {
          if (!node.takes_suffix || digits.size() > 6) {
            error = err::kHeaderSuffixOutOfRange;
            break;
          }
          suffix = 0;
          for (char d : digits) suffix = suffix * 10 + (d - '0');
        }
        suffix_by_depth[node.depth - 1] = suffix;
        at = child;
        if (!c.end() && c.peek() == ':') {
          ++c.i;
          continue;
        }
        break;
      }
      if (error == 0) {
        if (!c.end() && c.peek() == '?') {
          query = true;
          ++c.i;
        }
        leaf = at;
        const CommandTree::Node& node = tree_.node(at);
        if (node.entry < 0) {
          error = err::kUndefinedHeader;
        } else {
          entry = &tree_.entry(node.entry);
        }
      }
    }
    if (error == 0 && !c.end() && !is_space(c.peek()) && c.peek() != ';') error = err::kSyntax;
    if (error == 0 && entry && !(query ? entry->query : entry->set)) error = err::kUndefinedHeader;
    if (error == 0) error = parse_params(c, call.params_, call.count_);
    if (error != 0) {
      // A command error ends the message: what follows cannot be parsed reliably.
      push_error(error);
      break;
    }
    call.query_ = query;
    call.failed_ = false;
    if (!common) {
      for (int k = 0; k < CommandTree::kMaxSlots; ++k) {
        int d = entry->slot_depth[static_cast<std::size_t>(k)];
        call.suffixes_[static_cast<std::size_t>(k)] = d > 0 ? suffix_by_depth[d - 1] : 1;
      }
      // The next unit of a compound message continues under this header's parent.
      path_ = tree_.node(leaf).parent;
      std::copy(std::begin(suffix_by_depth), std::end(suffix_by_depth), std::begin(path_suffix_));
    } else {
      call.suffixes_ = {1, 1, 1, 1};
    }
    bool scripted = false;
    if (query && scripted_ && !scripted_->empty()) {
      std::size_t hdr_end = header_start;
      while (hdr_end < message.size() && message[hdr_end] != '?') ++hdr_end;
      auto it = scripted_->find(std::string(message.substr(header_start, hdr_end + 1 - header_start)));
      if (it != scripted_->end()) {
        call.reply_raw(it->second);
        scripted = true;
      }
    }
    if (!scripted) (query ? entry->query : entry->set)(instrument_, call);
    replying_ = !first_reply;
    c.skip_space();
    if (c.end()) break;
    if (c.peek() == ';') ++c.i;
  }
  path_ = CommandTree::kRoot;
  update_questionable();
  replying_ = false;
  if (first_reply) {
    out.resize(out_start);
    return false;
  }
  out += '\n';
  return true;
}

// ---- Call -------------------------------------------------------------------------------------------

void Call::fail(int code, std::string_view detail) {
  failed_ = true;
  engine_->push_error(code, detail);
}

bool Call::expect(std::size_t min, std::size_t max) {
  if (count_ < min) {
    fail(err::kMissingParameter);
    return false;
  }
  if (count_ > max) {
    fail(err::kParameterNotAllowed);
    return false;
  }
  return true;
}

bool Call::numeric(std::size_t i, unsigned units, Numeric& out) {
  const Param& p = params_[i];
  if (p.kind == Param::Kind::kString) {
    fail(err::kDataType);
    return false;
  }
  if (p.kind == Param::Kind::kBlock) {
    fail(err::kDataType);
    return false;
  }
  int e = parse_numeric(p.text, units, out);
  if (e != 0) {
    fail(e);
    return false;
  }
  return true;
}

bool Call::real(std::size_t i, unsigned units, const Range& range, double& out) {
  Numeric n;
  if (!numeric(i, units, n)) return false;
  switch (n.kind) {
    case Numeric::Kind::kMinimum: out = range.min; return true;
    case Numeric::Kind::kMaximum: out = range.max; return true;
    case Numeric::Kind::kDefault: out = range.def; return true;
    case Numeric::Kind::kValue: break;
  }
  // A relative tolerance absorbs the rounding of values written back from replies.
  const double tol = 1e-12 * std::max(std::abs(range.min), std::abs(range.max));
  if (n.value < range.min - tol || n.value > range.max + tol) {
    fail(err::kDataOutOfRange);
    return false;
  }
  out = std::clamp(n.value, range.min, range.max);
  return true;
}

bool Call::integer(std::size_t i, long long min, long long max, long long& out) {
  Numeric n;
  if (!numeric(i, 0, n)) return false;
  double v = 0;
  switch (n.kind) {
    case Numeric::Kind::kMinimum: out = min; return true;
    case Numeric::Kind::kMaximum: out = max; return true;
    case Numeric::Kind::kDefault: out = min; return true;
    case Numeric::Kind::kValue: v = n.value; break;
  }
  // Decimal numbers are rounded to the nearest integer.
  if (v < static_cast<double>(min) - 0.5 || v >= static_cast<double>(max) + 0.5) {
    fail(err::kDataOutOfRange);
    return false;
  }
  out = std::clamp(static_cast<long long>(std::llround(v)), min, max);
  return true;
}

bool Call::boolean(std::size_t i, bool& out) {
  const Param& p = params_[i];
  if (p.kind != Param::Kind::kToken) {
    fail(err::kDataType);
    return false;
  }
  if (matches_mnemonic(p.text, "ON")) {
    out = true;
    return true;
  }
  if (matches_mnemonic(p.text, "OFF")) {
    out = false;
    return true;
  }
  Numeric n;
  int e = parse_numeric(p.text, 0, n);
  if (e != 0 || n.kind != Numeric::Kind::kValue) {
    fail(e == err::kDataType || n.kind != Numeric::Kind::kValue ? err::kIllegalParameterValue : e);
    return false;
  }
  out = std::llround(n.value) != 0;
  return true;
}

bool Call::choice(std::size_t i, std::initializer_list<std::string_view> long_forms, int& index) {
  const Param& p = params_[i];
  if (p.kind != Param::Kind::kToken) {
    fail(err::kDataType);
    return false;
  }
  int k = 0;
  for (std::string_view f : long_forms) {
    if (matches_mnemonic(p.text, f)) {
      index = k;
      return true;
    }
    ++k;
  }
  fail(err::kIllegalParameterValue);
  return false;
}

bool Call::block(std::size_t i, std::string_view& out) {
  if (params_[i].kind != Param::Kind::kBlock) {
    fail(err::kDataType);
    return false;
  }
  out = params_[i].text;
  return true;
}

bool Call::string(std::size_t i, std::string& out) {
  const Param& p = params_[i];
  if (p.kind != Param::Kind::kString) {
    fail(err::kDataType);
    return false;
  }
  out.clear();
  for (std::size_t k = 0; k < p.text.size(); ++k) {
    out += p.text[k];
    if ((p.text[k] == '"' || p.text[k] == '\'') && k + 1 < p.text.size() && p.text[k + 1] == p.text[k]) ++k;
  }
  return true;
}

bool Call::query_limit(const Range& range, double& out) {
  if (count_ == 0) return false;
  Numeric n;
  if (!expect(0, 1)) return true;
  const Param& p = params_[0];
  if (p.kind != Param::Kind::kToken || parse_numeric(p.text, 0, n) != 0 || n.kind == Numeric::Kind::kValue) {
    fail(err::kIllegalParameterValue);
    return true;
  }
  out = n.kind == Numeric::Kind::kMinimum ? range.min : n.kind == Numeric::Kind::kMaximum ? range.max : range.def;
  return true;
}

void Call::begin_reply() {
  if (!*first_reply_) *out_ += ';';
  *first_reply_ = false;
}

void Call::reply_raw(std::string_view text) {
  begin_reply();
  out_->append(text);
}

void Call::reply_real(double v) {
  char buf[40];
  std::size_t n = format_real(v, buf);
  reply_raw(std::string_view(buf, n));
}

void Call::reply_integer(long long v) {
  char buf[40];
  std::size_t n = format_integer(v, buf);
  reply_raw(std::string_view(buf, n));
}

void Call::reply_string(std::string_view text) {
  begin_reply();
  append_string(text);
}

void Call::append_raw(std::string_view text) { out_->append(text); }

void Call::append_string(std::string_view text) {
  *out_ += '"';
  for (char ch : text) {
    if (ch == '"') *out_ += '"';
    *out_ += ch;
  }
  *out_ += '"';
}

void Call::reply_block(std::string_view bytes) {
  begin_reply();
  char len[24];
  std::size_t n = format_integer(static_cast<long long>(bytes.size()), len);
  *out_ += '#';
  *out_ += static_cast<char>('0' + n);
  out_->append(len, n);
  out_->append(bytes);
}

// ---- Standard commands -------------------------------------------------------------------------------

void Engine::add_standard_commands(CommandTree& t) {
  t.add_common("*IDN", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) c.reply_raw(in.identity());
  });
  t.add_common("*OPT", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) c.reply_raw(in.options());
  });
  t.add_common("*RST", [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) in.reset();
  }, nullptr);
  t.add_common("*CLS", [](Instrument&, Call& c) {
    if (c.expect(0, 0)) eng(c).clear_status();
  }, nullptr);
  t.add_common("*ESE", [](Instrument&, Call& c) { enable_byte(c, eng(c).ese, 0xFF); },
               [](Instrument&, Call& c) { enable_byte(c, eng(c).ese, 0xFF); });
  t.add_common("*ESR", nullptr, [](Instrument&, Call& c) {
    if (!c.expect(0, 0)) return;
    unsigned v = eng(c).esr;
    eng(c).esr = 0;
    c.reply_integer(v);
  });
  t.add_common("*SRE", [](Instrument&, Call& c) { enable_byte(c, eng(c).sre, 0xBF); },
               [](Instrument&, Call& c) { enable_byte(c, eng(c).sre, 0xBF); });
  t.add_common("*STB", nullptr, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_integer(eng(c).status_byte());
  });
  t.add_common("*OPC", [](Instrument&, Call& c) {
    if (c.expect(0, 0)) eng(c).esr |= kOpc;
  }, [](Instrument&, Call& c) {
    if (c.expect(0, 0)) c.reply_raw("1");
  });
  t.add_common("*WAI", [](Instrument&, Call& c) { c.expect(0, 0); }, nullptr);
  t.add_common("*TST", nullptr, [](Instrument& in, Call& c) {
    if (!c.expect(0, 0)) return;
    int r = in.self_test();
    if (r != 0) eng(c).push_error(err::kSelfTestFailed);
    c.reply_integer(r);
  });
  t.add_common("*CAL", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) in.calibrate(c);
  });
  t.add_common("*SAV", [](Instrument& in, Call& c) {
    long long n = 0;
    if (c.expect(1, 1) && c.integer(0, -2147483647LL, 2147483647LL, n)) in.save(c, n);
  }, nullptr);
  t.add_common("*RCL", [](Instrument& in, Call& c) {
    long long n = 0;
    if (c.expect(1, 1) && c.integer(0, -2147483647LL, 2147483647LL, n)) in.recall(c, n);
  }, nullptr);
  t.add_common("*LRN", nullptr, [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) in.learn(c);
  });
  t.add_common("*TRG", [](Instrument& in, Call& c) {
    if (c.expect(0, 0)) in.trigger(c);
  }, nullptr);

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
  t.add(":STATus:PRESet", [](Instrument&, Call& c) {
    if (!c.expect(0, 0)) return;
    eng(c).ques_enable = 0;
    eng(c).ques_ptr = 0x7FFF;
    eng(c).ques_ntr = 0;
  }, nullptr);
  t.add(":STATus:QUEStionable[:EVENt]", nullptr, [](Instrument&, Call& c) {
    if (!c.expect(0, 0)) return;
    c.reply_integer(eng(c).ques_event);
    eng(c).ques_event = 0;
  });
  t.add(":STATus:QUEStionable:CONDition", nullptr, [](Instrument&, Call& c) {
    eng(c).update_questionable();
    if (c.expect(0, 0)) c.reply_integer(eng(c).ques_condition);
  });
  t.add(":STATus:QUEStionable:ENABle", [](Instrument&, Call& c) { register_value(c, eng(c).ques_enable); },
        [](Instrument&, Call& c) { register_value(c, eng(c).ques_enable); });
  t.add(":STATus:QUEStionable:PTRansition", [](Instrument&, Call& c) { register_value(c, eng(c).ques_ptr); },
        [](Instrument&, Call& c) { register_value(c, eng(c).ques_ptr); });
  t.add(":STATus:QUEStionable:NTRansition", [](Instrument&, Call& c) { register_value(c, eng(c).ques_ntr); },
        [](Instrument&, Call& c) { register_value(c, eng(c).ques_ntr); });
}

// ---- Instrument defaults -------------------------------------------------------------------------------

void Instrument::calibrate(Call& call) { call.fail(err::kUndefinedHeader); }
void Instrument::save(Call& call, long long) { call.fail(err::kUndefinedHeader); }
void Instrument::recall(Call& call, long long) { call.fail(err::kUndefinedHeader); }
void Instrument::learn(Call& call) { call.fail(err::kUndefinedHeader); }
void Instrument::trigger(Call& call) { call.fail(err::kUndefinedHeader); }

}  // namespace pgx::sim
