#include "sim/engine.h"

#include <algorithm>
#include <cmath>

#include "sim/call.h"
#include "sim/instrument.h"

namespace pgx::sim {
namespace {

constexpr bool is_space(char c) {
  return static_cast<unsigned char>(c) <= ' ' && c != '\n';
}
constexpr bool is_alpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
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

}  // namespace

Engine::Engine(const CommandTree& tree, Instrument& instrument) : tree_(tree), instrument_(instrument) {}

void Engine::push_error(int code, std::string_view detail) {
  errors_.push(code, detail);
  status_.raise_events(error_event_bit(code));
  note_service_request();
}

void Engine::push_error_text(int code, std::string_view text) {
  errors_.push_text(code, text);
  status_.raise_events(error_event_bit(code));
  note_service_request();
}

void Engine::clear_status() {
  status_.clear_events();
  errors_.clear();
  note_service_request();
}

void Engine::update_questionable() {
  status_.update_questionable(instrument_.questionable_condition());
}

std::uint8_t Engine::status_byte() const {
  return status_.status_byte(!errors_.empty(), message_available_ || replying_);
}

void Engine::note_service_request() {
  const bool summary = (status_byte() & 0x40) != 0;
  if (summary && !summary_) {
    request_service_ = true;
    ++service_requests_;
  }
  summary_ = summary;
}

std::uint8_t Engine::serial_poll() {
  note_service_request();
  const auto stb = static_cast<std::uint8_t>((status_byte() & ~0x40u) | (request_service_ ? 0x40u : 0u));
  request_service_ = false;
  return stb;
}

bool Engine::execute(std::string_view message, std::string& out) {
  start(message, out);
  std::size_t executed = 0;
  resume(static_cast<std::size_t>(-1), executed);
  return replied_;
}

void Engine::start(std::string_view message, std::string& out) {
  message_ = message;
  position_ = 0;
  out_ = &out;
  out_start_ = out.size();
  first_reply_ = true;
  deadlocked_ = false;
  replied_ = false;
  running_ = true;
  replying_ = false;
  path_ = CommandTree::kRoot;
}

void Engine::abandon() {
  if (!running_) return;
  out_->resize(out_start_);
  running_ = false;
  replied_ = false;
  replying_ = false;
  path_ = CommandTree::kRoot;
}

bool Engine::resume(std::size_t max_units, std::size_t& executed) {
  if (!running_) return true;
  const std::string_view message = message_;
  std::string& out = *out_;
  Cursor c{message, position_};
  int suffix_by_depth[CommandTree::kMaxDepth];
  Call call;
  call.engine_ = this;
  call.out_ = &out;
  call.first_reply_ = &first_reply_;
  bool done = false;

  for (std::size_t units = 0;; ++units) {
    c.skip_space();
    if (c.end()) {
      done = true;
      break;
    }
    if (units == max_units) break;
    ++executed;
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
      done = true;
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
    if (response_limit_ != 0 && out.size() - out_start_ > response_limit_) {
      // The response outgrew what the output queue holds: it is dropped, and so are the responses of the
      // rest of the message.
      if (!deadlocked_) push_error(err::kQueryDeadlocked, "response longer than the output queue");
      deadlocked_ = true;
      out.resize(out_start_);
    }
    replying_ = !first_reply_ && !deadlocked_;
    c.skip_space();
    if (c.end()) {
      done = true;
      break;
    }
    if (c.peek() == ';') ++c.i;
  }
  position_ = c.i;
  if (done) finish();
  return done;
}

void Engine::finish() {
  running_ = false;
  path_ = CommandTree::kRoot;
  update_questionable();
  replying_ = false;
  std::string& out = *out_;
  if (first_reply_ || deadlocked_) {
    out.resize(out_start_);
    replied_ = false;
  } else {
    out += '\n';
    replied_ = true;
  }
  note_service_request();
}

}  // namespace pgx::sim
