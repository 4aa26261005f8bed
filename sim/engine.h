#pragma once
// The SCPI engine of one instrument: executes program messages against a compiled command tree, keeps
// the error queue and the IEEE 488.2 / SCPI status registers, and writes the response messages.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "sim/command_tree.h"
#include "sim/scpi_error.h"
#include "sim/status_registers.h"

namespace pgx::sim {

class Instrument;

class Engine {
 public:
  Engine(const CommandTree& tree, Instrument& instrument);

  // Enters the IEEE 488.2 common commands and the :SYSTem:ERRor and :STATus subsystems into a tree.
  static void add_standard_commands(CommandTree& tree);

  // Executes one program message (without its terminator). When queries answered, appends the response
  // message with its LF to `out` and returns true.
  bool execute(std::string_view message, std::string& out);

  // The same in turns, so that a long message does not hold the instrument for its whole length: start()
  // takes the message (its bytes stay valid and `out` stays in place until it is finished); each resume()
  // executes at most `max_units` more message units, adds how many it executed to `executed`, and returns
  // true once the message is finished; replied() then tells whether a response (with its LF) went to `out`.
  void start(std::string_view message, std::string& out);
  bool resume(std::size_t max_units, std::size_t& executed);
  bool running() const { return running_; }
  bool replied() const { return replied_; }
  // Drops a started message (device clear).
  void abandon();

  // The longest response one message may build (0: no limit). A message whose response grows beyond it
  // answers nothing: its response is discarded, -430 "Query DEADLOCKED" is queued, and the rest of the
  // message is executed without responses (IEEE 488.2 6.3.1.7).
  void set_response_limit(std::size_t bytes) { response_limit_ = bytes; }

  // Whether the output queue holds a response (the MAV bit), told by the bus.
  void set_message_available(bool available) {
    message_available_ = available;
    note_service_request();
  }
  // Replies that replace the real answer of a query, keyed by the query header as written.
  void set_scripted_replies(const std::map<std::string, std::string>* replies) { scripted_ = replies; }

  // The status byte as *STB? reads it: the master summary status (MSS) in bit 6.
  std::uint8_t status_byte() const;
  // The status byte as a serial poll reads it: the request for service (RQS) in bit 6, which the poll
  // clears (IEEE 488.2 11.3.2).
  std::uint8_t serial_poll();
  // The instrument requests service (RQS, the SRQ line) from the moment the master summary becomes true
  // until a serial poll; a summary that stays true asks only once.
  bool requesting_service() const { return request_service_; }
  // How many times the instrument has begun to request service.
  std::uint64_t service_requests() const { return service_requests_; }
  ErrorQueue& errors() { return errors_; }
  void push_error(int code, std::string_view detail = {});
  void push_error_text(int code, std::string_view text);

  // Clears the parse path (device clear, terminator).
  void reset_path() { path_ = CommandTree::kRoot; }
  // *CLS: event registers and error queue (enables stay).
  void clear_status();
  // Re-reads the questionable condition from the instrument and latches transitions into the event register.
  void update_questionable();

  Instrument& instrument() { return instrument_; }
  StatusRegisters& status() { return status_; }

 private:
  const CommandTree& tree_;
  Instrument& instrument_;
  ErrorQueue errors_;
  StatusRegisters status_;
  const std::map<std::string, std::string>* scripted_ = nullptr;
  bool message_available_ = false;
  bool summary_ = false;  // the master summary status at the last look
  bool request_service_ = false;
  std::uint64_t service_requests_ = 0;
  bool replying_ = false;  // the message being executed has produced a reply
  std::size_t response_limit_ = 0;

  // The message being executed.
  std::string_view message_;
  std::size_t position_ = 0;
  std::string* out_ = nullptr;
  std::size_t out_start_ = 0;
  bool first_reply_ = true;
  bool running_ = false;
  bool deadlocked_ = false;
  bool replied_ = false;

  void finish();
  // Sets RQS when the master summary has become true since the last look.
  void note_service_request();
  int path_ = CommandTree::kRoot;
  int path_suffix_[CommandTree::kMaxDepth] = {1, 1, 1, 1, 1, 1, 1, 1};
};

}  // namespace pgx::sim
