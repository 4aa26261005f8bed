// The test side of the recording driver: scripting, the log and the counts.

#include "driver/testing/recording_driver.h"

#include <stdexcept>
#include <utility>

#include "driver/testing/recording_state.h"

namespace pgx::driver::testing {

using recording::Function;
using recording::function_named;
using recording::State;

namespace {

recording::Script& script_of(State& state, std::string_view function) {
  return state.functions[static_cast<std::size_t>(function_named(function))];
}

recording::Script& script_of(State& state, const Scpi& command) {
  const auto found = state.commands.find(std::string_view(command.text));
  if (found != state.commands.end()) return found->second;
  return state.commands[command.text];
}

template <class Key>
void set_standing(const Key& key, Reply reply) {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  script_of(state, key).standing = std::move(reply);
}

template <class Key>
void add_once(const Key& key, Reply reply) {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  script_of(state, key).once.push_back(std::move(reply));
}

Reply text_reply(std::string_view answer) {
  return Reply{.texts = {std::string(answer)}};
}

}  // namespace

std::string Call::line() const {
  std::string out = function + "(";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i > 0) out += ", ";
    out += args[i];
  }
  out += ')';
  return out;
}

std::ostream& operator<<(std::ostream& out, const Call& call) {
  return out << call.line();
}

RecordingDriver::RecordingDriver() {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  if (state.driver_alive) throw std::logic_error("only one RecordingDriver may exist at a time");
  state.driver_alive = true;
  state.reset();
}

RecordingDriver::~RecordingDriver() {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  state.reset();
  state.driver_alive = false;
}

void RecordingDriver::Reset() {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  state.reset();
}

void RecordingDriver::Script(std::string_view function, Reply reply) {
  set_standing(function, std::move(reply));
}
void RecordingDriver::Script(const Scpi& command, Reply reply) {
  set_standing(command, std::move(reply));
}
void RecordingDriver::ScriptOnce(std::string_view function, Reply reply) {
  add_once(function, std::move(reply));
}
void RecordingDriver::ScriptOnce(const Scpi& command, Reply reply) {
  add_once(command, std::move(reply));
}

void RecordingDriver::Answer(std::string_view query, std::string_view answer) {
  Script(Scpi{std::string(query)}, text_reply(answer));
}

void RecordingDriver::Answer(std::string_view query, double value) {
  Script(Scpi{std::string(query)}, Reply{.values = {value}});
}

void RecordingDriver::AnswerOnce(std::string_view query, std::string_view answer) {
  ScriptOnce(Scpi{std::string(query)}, text_reply(answer));
}

void RecordingDriver::Return(std::string_view function, std::vector<double> values) {
  Script(function, Reply{.values = std::move(values)});
}

void RecordingDriver::ReturnOnce(std::string_view function, std::vector<double> values) {
  ScriptOnce(function, Reply{.values = std::move(values)});
}

void RecordingDriver::Fail(std::string_view function, ViStatus status) {
  Script(function, Reply{.status = status});
}
void RecordingDriver::Fail(const Scpi& command, ViStatus status) {
  Script(command, Reply{.status = status});
}

void RecordingDriver::FailOnce(std::string_view function, ViStatus status) {
  ScriptOnce(function, Reply{.status = status});
}

void RecordingDriver::FailOnce(const Scpi& command, ViStatus status) {
  ScriptOnce(command, Reply{.status = status});
}

void RecordingDriver::QueueInstrumentError(ViInt32 code, std::string_view message) {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  state.instrument_errors.push_back({code, std::string(message)});
}

void RecordingDriver::SetErrorMessage(ViStatus status, std::string_view message) {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  state.messages[status] = std::string(message);
}

std::string RecordingDriver::DefaultErrorMessage(ViStatus status) {
  return std::string(recording::default_message(status).view());
}

void RecordingDriver::SetQuiet(bool quiet) {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  state.quiet = quiet;
}

std::vector<std::string> RecordingDriver::Calls() const {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  std::vector<std::string> lines;
  lines.reserve(state.log.size());
  for (const Call& call : state.log) lines.push_back(call.line());
  return lines;
}

std::vector<std::string> RecordingDriver::CallsTo(std::string_view function) const {
  const char* const name = recording::name_of(function_named(function));
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  std::vector<std::string> lines;
  for (const Call& call : state.log) {
    if (call.function == name) lines.push_back(call.line());
  }
  return lines;
}

std::vector<Call> RecordingDriver::Records() const {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  return state.log;
}

std::size_t RecordingDriver::CallCount() const {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  std::size_t total = 0;
  for (const std::size_t count : state.counts) total += count;
  return total;
}

std::size_t RecordingDriver::CallCount(std::string_view function) const {
  const Function which = function_named(function);
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  return state.counts[static_cast<std::size_t>(which)];
}

void RecordingDriver::ClearCalls() {
  State& state = recording::shared_state();
  std::lock_guard lock(state.mutex);
  state.counts.fill(0);
  state.log.clear();
}

std::vector<std::string> RecordingDriver::Functions() {
  return {std::begin(recording::kFunctionNames), std::end(recording::kFunctionNames)};
}

}  // namespace pgx::driver::testing
