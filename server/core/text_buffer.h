// TextBuffer: the narrow text of the server's SCPI traffic (commands built, answers read).
//
// Every operation is noexcept and answers an HRESULT: S_OK, E_OUTOFMEMORY, or E_ACCESSDENIED when the buffer
// borrows a constant text, which must not be written. The first 256 characters live inside the object, so
// building a command or reading a short answer allocates nothing. Whatever an instrument writes, the text
// stays terminated and within the capacity.
#pragma once

#include <cstddef>
#include <string_view>

#include "automation/types.h"

namespace pgx::server {

class TextBuffer {
 public:
  // The room an instrument answer gets unless a member says otherwise.
  static constexpr std::size_t kAnswerSize = 256;
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  TextBuffer() noexcept;
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Capacity of at least `n` characters, growing to the larger of `n` and twice the capacity; the text is
  // kept.
  HRESULT Reserve(std::size_t n) noexcept;
  HRESULT Assign(std::string_view text) noexcept;
  HRESULT Append(std::string_view text) noexcept;
  // Appends "\n" first unless the text is empty, then `text`.
  HRESULT AppendLine(std::string_view text) noexcept;
  // Replaces the text by the printf-formatted one, growing as needed.
  HRESULT Format(const char* format, ...) noexcept __attribute__((format(printf, 2, 3)));
  // Replaces the text by `first` followed by `second` (nullptr: none), with the first `marker` of the two
  // replaced by `insert`; later markers are copied unchanged, and text without a marker is copied as it is.
  // Builds a channel's SCPI header from a template: ("VOLT#:OFFS?", nullptr, '#', "2") gives "VOLT2:OFFS?",
  // (":CURR", "#:LIM:LOW?", '#', "1") gives ":CURR1:LIM:LOW?". E_POINTER for a null `first` or `insert`.
  HRESULT InsertChannelSuffix(const char* first, const char* second, char marker,
                              const char* insert) noexcept;
  // Removes leading and trailing blanks (' ' only).
  HRESULT Trim() noexcept;
  // Points at a constant text without copying it; writing is then refused until Clear().
  void Borrow(const char* constant) noexcept;
  // An empty, writable text.
  void Clear() noexcept;

  const char* c_str() const noexcept { return borrowed_ ? borrowed_ : data_; }
  std::string_view view() const noexcept { return {c_str(), size_}; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return borrowed_ ? 0 : capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  bool borrowed() const noexcept { return borrowed_ != nullptr; }
  // The position of `what` at or after `from`, or npos.
  std::size_t Find(std::string_view what, std::size_t from = 0) const noexcept;

  // For a driver call that writes a terminated text of at most capacity() characters, terminator
  // included: Data() is where it writes (nullptr for a borrowed text), TakeWrittenText() then takes the
  // text up to its terminator, and never beyond the capacity, whatever was written.
  char* Data() noexcept { return borrowed_ ? nullptr : data_; }
  void TakeWrittenText() noexcept;

  // The text as a BSTR for a client. Instrument text is taken as UTF-8 where it is valid UTF-8 and byte by
  // byte as Latin-1 where it is not, so that no answer fails to convert.
  HRESULT ToBstr(BSTR* out) const noexcept;
  // A client's text as the narrow (UTF-8) text sent to the instrument; E_INVALIDARG for text that is not
  // valid UTF-16 (an unpaired surrogate).
  HRESULT AssignBstr(BSTR text) noexcept;
  // A client's text as an argument of a driver call (a command, a file name), which the driver reads up to
  // its first NUL: as AssignBstr, and E_INVALIDARG for a text that holds a NUL character, so that the
  // driver never acts on less than the client wrote (a cut command, a shorter file name).
  HRESULT AssignBstrArgument(BSTR text) noexcept;
  // For an answer that the driver cut to the capacity: removes the first bytes of a UTF-8 character that
  // the cut split, when the text before it is valid UTF-8, so that the text stays UTF-8 (and ToBstr does
  // not read the whole answer as Latin-1 for the sake of its last character).
  void DropSplitCharacter() noexcept;

 private:
  static constexpr std::size_t kInline = 256;

  char* data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = kInline;  // characters, terminator included; data_ holds one more byte
  const char* borrowed_ = nullptr;
  char inline_[kInline + 1];
};

}  // namespace pgx::server
