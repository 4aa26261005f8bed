#include "server/core/text_buffer.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "automation/bstr.h"

namespace pgx::server {

TextBuffer::TextBuffer() noexcept : data_(inline_) {
  inline_[0] = '\0';
}

TextBuffer::~TextBuffer() {
  if (data_ != inline_) std::free(data_);
}

HRESULT TextBuffer::Reserve(std::size_t n) noexcept {
  if (borrowed_) return E_ACCESSDENIED;
  if (n <= capacity_) return S_OK;
  std::size_t grown = capacity_ * 2 > n ? capacity_ * 2 : n;
  if (grown + 1 < grown) return E_OUTOFMEMORY;
  char* bigger = static_cast<char*>(std::malloc(grown + 1));
  if (!bigger) return E_OUTOFMEMORY;
  std::memcpy(bigger, data_, size_ + 1);
  if (data_ != inline_) std::free(data_);
  data_ = bigger;
  capacity_ = grown;
  return S_OK;
}

HRESULT TextBuffer::Assign(std::string_view text) noexcept {
  if (borrowed_) return E_ACCESSDENIED;
  size_ = 0;
  data_[0] = '\0';
  return Append(text);
}

HRESULT TextBuffer::Append(std::string_view text) noexcept {
  if (borrowed_) return E_ACCESSDENIED;
  if (text.size() > npos - size_ - 1) return E_OUTOFMEMORY;
  // `text` may point into this buffer: reserving can move it.
  if (size_ + text.size() + 1 > capacity_) {
    std::ptrdiff_t offset = text.data() - data_;
    bool inside = text.data() >= data_ && text.data() <= data_ + size_;
    if (HRESULT hr = Reserve(size_ + text.size() + 1); FAILED(hr)) return hr;
    if (inside) text = std::string_view(data_ + offset, text.size());
  }
  std::memmove(data_ + size_, text.data(), text.size());
  size_ += text.size();
  data_[size_] = '\0';
  return S_OK;
}

HRESULT TextBuffer::AppendLine(std::string_view text) noexcept {
  if (borrowed_) return E_ACCESSDENIED;
  if (size_ > 0) {
    if (HRESULT hr = Append("\n"); FAILED(hr)) return hr;
  }
  return Append(text);
}

HRESULT TextBuffer::Format(const char* format, ...) noexcept {
  if (borrowed_) return E_ACCESSDENIED;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::va_list args;
    va_start(args, format);
    int n = std::vsnprintf(data_, capacity_, format, args);
    va_end(args);
    if (n < 0) {
      size_ = 0;
      data_[0] = '\0';
      return E_INVALIDARG;
    }
    if (static_cast<std::size_t>(n) < capacity_) {
      size_ = static_cast<std::size_t>(n);
      return S_OK;
    }
    size_ = 0;
    data_[0] = '\0';
    if (HRESULT hr = Reserve(static_cast<std::size_t>(n) + 1); FAILED(hr)) return hr;
  }
  return E_UNEXPECTED;
}

HRESULT TextBuffer::InsertChannelSuffix(const char* first, const char* second, char marker,
                                        const char* insert) noexcept {
  if (!first || !insert) return E_POINTER;
  if (borrowed_) return E_ACCESSDENIED;
  const std::string_view parts[] = {first, second ? second : ""};
  const std::string_view with = insert;
  // The templates and the insert may point into this buffer, which is about to be overwritten.
  const bool inside = (parts[0].data() >= data_ && parts[0].data() <= data_ + size_) ||
                      (parts[1].data() >= data_ && parts[1].data() <= data_ + size_) ||
                      (with.data() >= data_ && with.data() <= data_ + size_);
  if (inside) return E_INVALIDARG;
  const std::size_t length = parts[0].size() + parts[1].size() + with.size();
  if (length < parts[0].size() || length + 1 < length) return E_OUTOFMEMORY;
  if (HRESULT hr = Reserve(length + 1); FAILED(hr)) return hr;
  size_ = 0;
  bool replaced = false;
  for (std::string_view part : parts) {
    std::size_t at = replaced ? std::string_view::npos : part.find(marker);
    if (at == std::string_view::npos) {
      std::memcpy(data_ + size_, part.data(), part.size());
      size_ += part.size();
      continue;
    }
    std::memcpy(data_ + size_, part.data(), at);
    size_ += at;
    std::memcpy(data_ + size_, with.data(), with.size());
    size_ += with.size();
    std::memcpy(data_ + size_, part.data() + at + 1, part.size() - at - 1);
    size_ += part.size() - at - 1;
    replaced = true;
  }
  data_[size_] = '\0';
  return S_OK;
}

HRESULT TextBuffer::Trim() noexcept {
  if (borrowed_) return E_ACCESSDENIED;
  std::size_t first = 0;
  while (first < size_ && data_[first] == ' ') ++first;
  std::size_t last = size_;
  while (last > first && data_[last - 1] == ' ') --last;
  size_ = last - first;
  std::memmove(data_, data_ + first, size_);
  data_[size_] = '\0';
  return S_OK;
}

void TextBuffer::Borrow(const char* constant) noexcept {
  borrowed_ = constant ? constant : "";
  size_ = std::strlen(borrowed_);
}

void TextBuffer::Clear() noexcept {
  borrowed_ = nullptr;
  size_ = 0;
  data_[0] = '\0';
}

std::size_t TextBuffer::Find(std::string_view what, std::size_t from) const noexcept {
  std::size_t at = view().find(what, from);
  return at == std::string_view::npos ? npos : at;
}

void TextBuffer::TakeWrittenText() noexcept {
  if (borrowed_) return;
  data_[capacity_] = '\0';
  size_ = std::strlen(data_);
}

HRESULT TextBuffer::ToBstr(BSTR* out) const noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  std::string_view text = view();
  try {
    std::u16string wide;
    if (!pgx::auto_::Utf8ToUtf16(text, wide)) {
      wide.assign(text.size(), u'\0');
      for (std::size_t i = 0; i < text.size(); ++i) wide[i] = static_cast<unsigned char>(text[i]);
    }
    *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return *out || text.empty() ? S_OK : E_OUTOFMEMORY;
}

HRESULT TextBuffer::AssignBstr(BSTR text) noexcept {
  if (borrowed_) return E_ACCESSDENIED;
  try {
    std::string narrow;
    if (!pgx::auto_::Utf16ToUtf8(pgx::auto_::BstrView(text), narrow)) return E_INVALIDARG;
    return Assign(narrow);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT TextBuffer::AssignBstrArgument(BSTR text) noexcept {
  const std::u16string_view wide = pgx::auto_::BstrView(text);
  if (wide.find(u'\0') != std::u16string_view::npos) return E_INVALIDARG;
  return AssignBstr(text);
}

void TextBuffer::DropSplitCharacter() noexcept {
  if (borrowed_) return;
  // The lead byte of the last character and the continuation bytes that follow it.
  std::size_t lead = size_;
  std::size_t continuation = 0;
  while (lead > 0 && continuation < 3 && (static_cast<unsigned char>(data_[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++continuation;
  }
  if (lead == 0) return;
  --lead;
  const auto byte = static_cast<unsigned char>(data_[lead]);
  const std::size_t length = byte >= 0xC2 && byte <= 0xDF   ? 2
                             : byte >= 0xE0 && byte <= 0xEF ? 3
                             : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || continuation + 1 >= length) return;  // not a lead byte, or a whole character
  try {
    std::u16string probe;
    if (!pgx::auto_::Utf8ToUtf16(std::string_view(data_, lead), probe)) return;
  } catch (...) {
    return;
  }
  size_ = lead;
  data_[size_] = '\0';
}

}  // namespace pgx::server
