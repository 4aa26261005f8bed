#pragma once
// One open instrument: its VISA session, the message exchange with the instrument (writes, reads of
// whole response messages, the status check that follows a command when automatic error query is on),
// the transaction buffer and the error entries read during checks.
//
// A Session is used under its mutex (SessionTable hands it out; the C functions lock it for the whole
// call). Nothing an instrument answers can make it unusable, and no answer is ever taken for the answer
// of another query: after a time-out, an over-long or malformed answer the device is cleared, and on a
// raw socket, where a device clear cannot reach an answer still on its way, the session resynchronises
// before its next exchange (see resynchronise()).

#include <atomic>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "driver/scpi_text.h"
#include "visa/visa.h"

namespace pgx::driver {

// What the driver knows about the connected instrument, read when the session was opened with an
// identity check.
struct InstrumentInfo {
  bool identified = false;
  std::string model;  // mainframe: "Q500A" (benchtop) or "M4000A" (VXI module)
  std::string serial;
  std::string firmware;
  std::vector<std::string> front_ends;  // output front-end models, slot 1 first
};

// The lock of one session: a futex-based mutex (0 free, 1 held, 2 held with waiters). A call takes it for
// its whole duration; uncontended it costs one atomic operation each way.
class SessionLock {
 public:
  void lock() {
    int expected = 0;
    if (state_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) return;
    if (expected != 2) expected = state_.exchange(2, std::memory_order_acquire);
    while (expected != 0) {
      state_.wait(2, std::memory_order_relaxed);
      expected = state_.exchange(2, std::memory_order_acquire);
    }
  }
  void unlock() {
    if (state_.exchange(0, std::memory_order_release) == 2) state_.notify_one();
  }

 private:
  std::atomic<int> state_{0};
};

class Session {
 public:
  // Takes ownership of both VISA sessions.
  Session(ViSession resource_manager, ViSession io);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  SessionLock& mutex() { return mutex_; }
  bool closed() const { return closed_; }
  // Discards an active transaction and closes the VISA sessions. Later calls fail as a closed session.
  ViStatus close();

  ViSession io() const { return io_; }
  // A raw socket: a device clear cannot reach an answer still on its way, so the session resynchronises
  // instead.
  void set_socket(bool socket) { socket_ = socket; }
  InstrumentInfo& info() { return info_; }
  const InstrumentInfo& info() const { return info_; }

  // The buffer to build the next command or query in (emptied by this call). The message is written
  // from this buffer, so a call costs no copy of it.
  std::string& command() {
    message_.clear();
    return message_;
  }

  // Sends command() as setting: kept in the transaction while one is active, otherwise written,
  // followed by the status check when automatic error query is on.
  ViStatus send();
  // Sends command() as a query (sending a transaction's buffered settings first) and reads the answer,
  // terminator removed. The view stays valid until the next exchange; the status check that follows
  // never touches it.
  ViStatus query(std::string_view& answer);
  // A query without status check and outside any transaction logic (identity). The view stays valid until
  // the next exchange.
  ViStatus query_unchecked(std::string_view text, std::string_view& answer);
  // Writes a complete message (the terminator is appended) without status check.
  ViStatus write_unchecked(std::string_view text);

  // Automatic error query.
  bool error_query() const { return error_query_; }
  void set_error_query(bool on) { error_query_ = on; }
  // The oldest entry of the error queue: entries read during checks first, then the instrument's.
  ViStatus next_error(ErrorEntry& entry);
  // Forgets the entries read during checks (the instrument's queue was cleared).
  void clear_kept_errors() { pending_errors_.clear(); }

  // Transactions.
  bool transaction_active() const { return transaction_active_; }
  std::size_t transaction_bytes() const { return transaction_.size(); }
  ViStatus transaction_start();
  ViStatus transaction_finish();
  ViStatus transaction_cancel();

  // IEEE 488.2 device clear; also forgets a half-read answer. On a socket, which it cannot reach, the
  // session resynchronises before its next exchange.
  ViStatus device_clear();

  // Around every C function on this session (with_session): a call that ends with an invalid response
  // (an answer the function could not convert) clears the device, so that nothing the instrument still
  // has to say about it is read as the answer to a later query.
  void begin_call() { answer_read_ = false; }
  ViStatus end_call(ViStatus status);

  // Largest answer the driver accepts; a longer one fails as an invalid response.
  static constexpr std::size_t kMaxResponse = 16u << 20;
  // Most entries kept from checks; beyond it the newest becomes -350 "Queue overflow".
  static constexpr std::size_t kMaxPendingErrors = 64;
  // Most entries read from the instrument's queue in one check.
  static constexpr int kMaxErrorReads = 100;
  // Most answers read and dropped while resynchronising, the marker's own included.
  static constexpr int kMaxResyncAnswers = 64;

 private:
  // Writes a whole message; a session out of step with its instrument resynchronises first.
  ViStatus write(std::string_view message);
  ViStatus write_raw(std::string_view message);
  // Reads one response message into `buffer`; the view points into it. read_response recovers from a
  // failure, read_message does not.
  ViStatus read_response(std::vector<char>& buffer, std::string_view& response);
  ViStatus read_message(std::vector<char>& buffer, std::string_view& response);
  // After a failed exchange: a time-out or a bad answer leaves output behind that would be read as the
  // answer to the next query, so the device is cleared (on a socket the session is marked out of step).
  void recover(ViStatus status);
  // Marks a socket session out of step: answers to what was written last (message_) may still arrive.
  void lose_step();
  // Brings a socket session back in step: sends a marker query and reads and drops every answer until the
  // marker's own comes back, within the session's time-out and kMaxResyncAnswers answers. The marker is
  // "*OPC?" repeated more often than any message whose answer may still come holds queries, so its answer
  // ("1;1;...;1") cannot be one of theirs. On failure the session stays out of step and the next exchange
  // goes on waiting for the same marker's answer; nothing else is sent until it has come.
  ViStatus resynchronise();
  // Writes the setting in message_ followed by the status query, as a message of its own, and checks
  // the status byte.
  ViStatus write_and_check();
  // Reads the status byte answer of a check and, when the error queue is not empty, its entries.
  ViStatus check_status_byte(int status_byte);
  ViStatus collect_errors();
  void keep_error(ErrorEntry entry);
  // Appends the command in message_ to the transaction buffer as a further unit of one program message.
  void buffer_in_transaction();
  // Puts the buffered settings of a transaction before the command in message_, as a message of their own.
  void prepend_transaction();

  SessionLock mutex_;
  ViSession resource_manager_;
  ViSession io_;
  bool closed_ = false;
  bool socket_ = false;
  bool out_of_step_ = false;        // a socket session with answers possibly still on their way
  bool partial_write_ = false;      // ... and a message of which only a part went out
  bool marker_sent_ = false;        // ... and a marker on its way, whose answer is awaited
  std::size_t marker_queries_ = 0;  // queries in the marker (more than in any message still answering)
  bool answer_read_ = false;        // the current call has read an answer
  InstrumentInfo info_;

  bool error_query_ = false;
  std::deque<ErrorEntry> pending_errors_;

  bool transaction_active_ = false;
  bool transaction_sent_ = false;  // a query sent buffered settings of the active transaction early
  std::string transaction_;

  std::string message_;
  std::vector<char> input_;    // answers handed to the C functions
  std::vector<char> scratch_;  // error entries read during checks, answers dropped while resynchronising
};

}  // namespace pgx::driver
