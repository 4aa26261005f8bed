// The call-name stack: the names of the members a call is in, outermost first.
//
// Every automation member pushes "Class.Member" and every internal routine that can report an error pushes
// "Class::Routine" for its whole duration (a CallFrame on the stack of the function). The error object reads
// the outermost entry to tell the user in which call a failure happened, and the reported flag makes sure
// one outermost call publishes at most one decorated error.
//
// Each thread has its own stack: an apartment-threaded server runs every call on the caller's thread, and
// two apartments may call at once, each on its own instruments.
#pragma once

#include "automation/types.h"

namespace pgx::server {

class CallNameStack {
 public:
  static constexpr int kCapacity = 20;

  // The calling thread's stack.
  static CallNameStack& Current() noexcept;

  // Beyond the capacity only the overflow count grows. The first push onto an empty stack clears the
  // reported flag: a new outermost call begins.
  void Push(const char* name) noexcept {
    if (count_ == kCapacity) {
      ++overflow_;
      return;
    }
    if (count_ == 0) {
      reported_ = false;
      published_ = 0;
    }
    names_[count_++] = name;
  }
  // Undoes the latest push: the overflow count first, then the entries.
  void Pop() noexcept {
    if (overflow_ > 0) {
      --overflow_;
    } else if (count_ > 0) {
      --count_;
    }
  }

  // Entry `index` (0 = outermost), or "Bad Index" when the stack has no such entry.
  const char* Entry(int index) const noexcept {
    return index >= 0 && index < count_ ? names_[index] : "Bad Index";
  }
  int Count() const noexcept { return count_; }
  int Overflow() const noexcept { return overflow_; }

  bool Reported() const noexcept { return reported_; }
  void SetReported() noexcept { reported_ = true; }

  // The failure whose error information the current outermost call published last (0 for none). A failure
  // passes several levels that each report it; the first, innermost description is the one kept.
  HRESULT Published() const noexcept { return published_; }
  void SetPublished(HRESULT hr) noexcept { published_ = hr; }

 private:
  const char* names_[kCapacity] = {};
  int count_ = 0;
  int overflow_ = 0;
  bool reported_ = false;
  HRESULT published_ = 0;
};

// Pushes a name for the lifetime of the frame; every exit path pops it.
class CallFrame {
 public:
  explicit CallFrame(const char* name) noexcept : stack_(CallNameStack::Current()) { stack_.Push(name); }
  ~CallFrame() { stack_.Pop(); }
  CallFrame(const CallFrame&) = delete;
  CallFrame& operator=(const CallFrame&) = delete;

 private:
  CallNameStack& stack_;
};

}  // namespace pgx::server
