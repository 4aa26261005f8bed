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

  // Whether the output queue holds a response (the MAV bit), told by the bus.
  void set_message_available(bool available) { message_available_ = available; }
  // Replies that replace the real answer of a query, keyed by the query header as written.
  void set_scripted_replies(const std::map<std::string, std::string>* replies) { scripted_ = replies; }

  std::uint8_t status_byte() const;
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
  bool replying_ = false;  // the message being executed has produced a reply
  int path_ = CommandTree::kRoot;
  int path_suffix_[CommandTree::kMaxDepth] = {1, 1, 1, 1, 1, 1, 1, 1};
};

}  // namespace pgx::sim
