// The fuzzer's input read from the front as the values a target builds its call from. Past the end every
// read gives zeros, so any input, even an empty one, makes a whole call.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pgx::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

  // Fills `n` bytes at `out`; what the input no longer holds is zero.
  void copy(void* out, std::size_t n) {
    std::memset(out, 0, n);
    const std::size_t take = std::min(n, left());
    std::memcpy(out, data_ + at_, take);
    at_ += take;
  }

  template <class T>
  T value() {
    T out{};
    copy(&out, sizeof out);
    return out;
  }

  std::size_t left() const { return size_ - at_; }
  bool empty() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace pgx::fuzz
