#pragma once
// One program message unit as its handler sees it: the header's suffixes, the parameters, and the means
// to refuse it with an error or to answer it.

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "sim/command_tree.h"
#include "sim/scpi_number.h"

namespace pgx::sim {

class Engine;

struct Param {
  enum class Kind : unsigned char { kToken, kString, kBlock };
  Kind kind = Kind::kToken;
  std::string_view text;  // token as written; string without its quotes (doubled quotes kept); block bytes
};

// Numeric range of a setting, used for MIN/MAX/DEF and for the range check.
struct Range {
  double min;
  double max;
  double def;
};

class Call {
 public:
  static constexpr std::size_t kMaxParams = 8;

  bool is_query() const { return query_; }
  // Suffix of the pattern's slot-th suffixed node (1 when it was left out or written without a number).
  int suffix(int slot) const { return suffixes_[static_cast<std::size_t>(slot)]; }
  std::size_t count() const { return count_; }
  const Param& param(std::size_t i) const { return params_[i]; }

  // Each check pushes its error and returns false when the unit must not be carried out.
  bool expect(std::size_t min, std::size_t max);
  bool numeric(std::size_t i, unsigned units, Numeric& out);
  // A number in a range: MIN/MAX/DEF resolved, out of range gives -222.
  bool real(std::size_t i, unsigned units, const Range& range, double& out);
  bool integer(std::size_t i, long long min, long long max, long long& out);
  bool boolean(std::size_t i, bool& out);
  // Character data, one of `long_forms` in short or long form; returns its index. Unknown: -224.
  bool choice(std::size_t i, std::initializer_list<std::string_view> long_forms, int& index);
  bool block(std::size_t i, std::string_view& out);
  bool string(std::size_t i, std::string& out);
  // A query's optional MINimum|MAXimum|DEFault parameter: true (and the value) when one was given.
  bool query_limit(const Range& range, double& out);

  void fail(int code, std::string_view detail = {});
  bool failed() const { return failed_; }

  void reply_real(double v);
  void reply_integer(long long v);
  void reply_bool(bool v) { reply_raw(v ? "1" : "0"); }
  void reply_raw(std::string_view text);     // character data or a pre-formatted reply
  void reply_string(std::string_view text);  // quoted, inner quotes doubled
  void reply_block(std::string_view bytes);  // #<n><len><bytes>
  // Continue the current reply without a separator (",<next field>").
  void append_raw(std::string_view text);
  void append_string(std::string_view text);

  Engine& engine() { return *engine_; }

 private:
  friend class Engine;
  void begin_reply();

  Engine* engine_ = nullptr;
  std::string* out_ = nullptr;
  bool* first_reply_ = nullptr;
  bool query_ = false;
  bool failed_ = false;
  std::array<int, CommandTree::kMaxSlots> suffixes_{1, 1, 1, 1};
  std::array<Param, kMaxParams> params_{};
  std::size_t count_ = 0;
};

}  // namespace pgx::sim
