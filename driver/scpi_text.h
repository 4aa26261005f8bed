#pragma once
// Text conversions between the driver's C types and SCPI program and response data: numbers written
// in the shortest form that reads back exactly, strict number parsing, definite-length blocks, error
// queue entries and the identity answer. Nothing here trusts a response to be short or well formed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pgx::driver {

// Removes the response message terminator (any trailing LF and CR characters).
std::string_view strip_terminator(std::string_view text);

// Appends a decimal integer.
void append_int(std::string& out, long long value);
// Appends a double in the shortest text that reads back to the same value ("2.5", "1e-08").
void append_real(std::string& out, double value);
// Appends a definite-length block: '#', the digit count, the byte count, then the bytes.
void append_block(std::string& out, const void* data, std::size_t count);

// Strict number parsing of one response unit. Leading and trailing blanks are allowed; anything
// else that is not part of the number fails. Integers are decimal with an optional sign.
std::optional<long long> parse_integer(std::string_view text);
// Decimal numbers with optional sign, fraction and exponent (NR1, NR2, NR3); no INF or NAN words,
// nothing beyond the double range.
std::optional<double> parse_real(std::string_view text);
// "1"/"0" and "ON"/"OFF" (any case).
std::optional<bool> parse_bool(std::string_view text);

// A definite-length block ("#<d><count><bytes>") or an indefinite one ("#0<bytes>"), alone in the
// response (after the terminator has been stripped). Yields a view of the bytes.
std::optional<std::string_view> parse_block(std::string_view text);
// How many bytes a response that starts with a definite-length block needs before its terminator, when
// the header is complete; nullopt while the header is incomplete or when it is not a block.
std::optional<std::size_t> block_extent(std::string_view text);

// Whether a program message text is one message: no line feed outside definite-length block data (a
// line feed anywhere else ends the message, and what follows is a message of its own).
bool is_one_message(std::string_view text);

// One entry of the error queue: <code>,"<text>" (the quotes are optional, doubled quotes are unescaped).
struct ErrorEntry {
  int code = 0;
  std::string text;
};
std::optional<ErrorEntry> parse_error_entry(std::string_view text);

// Splits "<answer>;<status byte>" at its last ';'. With no ';' the whole text is the status byte and
// the answer is empty (the query produced no response unit).
struct StatusSuffix {
  std::string_view answer;
  bool has_answer = false;
  int status_byte = 0;
};
std::optional<StatusSuffix> split_status_suffix(std::string_view text);

// The four fields of an *IDN? answer.
struct Identity {
  std::string manufacturer;
  std::string model;
  std::string serial;
  std::string firmware;
};
std::optional<Identity> parse_identity(std::string_view text);

// Copies text into a caller's buffer of `size` characters: at most size - 1 characters and a NUL.
// Does nothing when size < 1 or buffer is null.
void copy_text(char* buffer, std::size_t size, std::string_view text);

// Removes blanks (space and tab) from both ends.
std::string_view trim(std::string_view text);

}  // namespace pgx::driver
