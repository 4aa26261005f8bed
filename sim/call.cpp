#include "sim/call.h"

#include <algorithm>
#include <cmath>

#include "sim/engine.h"
#include "sim/scpi_error.h"

namespace pgx::sim {

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
    case Numeric::Kind::kMinimum:
      out = range.min;
      return true;
    case Numeric::Kind::kMaximum:
      out = range.max;
      return true;
    case Numeric::Kind::kDefault:
      out = range.def;
      return true;
    case Numeric::Kind::kValue:
      break;
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
    case Numeric::Kind::kMinimum:
      out = min;
      return true;
    case Numeric::Kind::kMaximum:
      out = max;
      return true;
    case Numeric::Kind::kDefault:
      out = min;
      return true;
    case Numeric::Kind::kValue:
      v = n.value;
      break;
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
  out = n.kind == Numeric::Kind::kMinimum   ? range.min
        : n.kind == Numeric::Kind::kMaximum ? range.max
                                            : range.def;
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

void Call::append_raw(std::string_view text) {
  out_->append(text);
}

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

}  // namespace pgx::sim
