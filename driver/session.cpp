#include "driver/session.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "driver/pgxgen.h"

namespace pgx::driver {

namespace {

constexpr std::size_t kReadChunk = 4096;
// Status byte bit 2: the error/event queue is not empty.
constexpr int kErrorQueueNotEmpty = 0x04;

}  // namespace

Session::Session(ViSession resource_manager, ViSession io) : resource_manager_(resource_manager), io_(io) {}

Session::~Session() {
  close();
}

ViStatus Session::close() {
  if (closed_) return VI_SUCCESS;
  closed_ = true;
  transaction_active_ = false;
  transaction_.clear();
  pending_errors_.clear();
  ViStatus status = io_ != VI_NULL ? viClose(io_) : VI_SUCCESS;
  if (resource_manager_ != VI_NULL) {
    const ViStatus rm_status = viClose(resource_manager_);
    if (status >= VI_SUCCESS) status = rm_status;
  }
  io_ = VI_NULL;
  resource_manager_ = VI_NULL;
  return status < VI_SUCCESS ? status : VI_SUCCESS;
}

// ---- Raw exchange ---------------------------------------------------------------------------------

ViStatus Session::write(std::string_view message) {
  if (out_of_step_) {
    const ViStatus status = resynchronise();
    if (status < VI_SUCCESS) return status;
  }
  return write_raw(message);
}

ViStatus Session::write_raw(std::string_view message) {
  bool started = false;
  while (!message.empty()) {
    ViUInt32 written = 0;
    const ViUInt32 count = static_cast<ViUInt32>(std::min<std::size_t>(message.size(), 0x7FFFFFFF));
    const ViStatus status = viWrite(io_, reinterpret_cast<ViConstBuf>(message.data()), count, &written);
    if (written > 0) started = true;
    if (status < VI_SUCCESS || written == 0 || written > count) {
      // Only part of the message may have gone out: its rest would be joined to whatever comes next.
      if (started && socket_) partial_write_ = true;
      const ViStatus failure = status < VI_SUCCESS ? status : VI_ERROR_IO;
      recover(failure);
      return failure;
    }
    message.remove_prefix(written);
  }
  return VI_SUCCESS;
}

ViStatus Session::read_message(std::vector<char>& buffer, std::string_view& response) {
  std::size_t length = 0;
  for (;;) {
    if (buffer.size() < length + kReadChunk) buffer.resize(std::max(buffer.size() * 2, length + kReadChunk));
    ViUInt32 received = 0;
    const ViUInt32 room = static_cast<ViUInt32>(buffer.size() - length);
    const ViStatus status = viRead(io_, reinterpret_cast<ViBuf>(buffer.data() + length), room, &received);
    if (status < VI_SUCCESS) return status;
    length += std::min<std::size_t>(received, room);
    if (length > kMaxResponse) return PGXGEN_ERROR_INVALID_RESPONSE;
    if (status == VI_SUCCESS_MAX_CNT) continue;
    if (status == VI_SUCCESS_TERM_CHAR) {
      // A line feed inside block data is not the end of the message.
      const auto extent = block_extent(std::string_view(buffer.data(), length));
      if (extent && length < *extent + 1) continue;
    }
    break;
  }
  // Remove the terminator, but never a byte of block data that happens to be a line feed.
  std::string_view raw(buffer.data(), length);
  const std::size_t keep = raw.empty() || raw[0] != '#' ? 0 : block_extent(raw).value_or(0);
  while (raw.size() > keep && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
  response = raw;
  return VI_SUCCESS;
}

ViStatus Session::read_response(std::vector<char>& buffer, std::string_view& response) {
  const ViStatus status = read_message(buffer, response);
  if (status < VI_SUCCESS) {
    recover(status);
    return status;
  }
  answer_read_ = true;
  return status;
}

void Session::recover(ViStatus status) {
  if (status == VI_ERROR_CONN_LOST || status == VI_ERROR_INV_OBJECT) return;
  viClear(io_);
  lose_step();
  answer_read_ = false;
}

void Session::lose_step() {
  if (!socket_) return;
  out_of_step_ = true;
  // A marker on its way already outnumbers everything written before it, and nothing was written since.
  if (marker_sent_) return;
  // The marker holds more queries than the message written last (a '?' in data only makes it longer).
  const std::size_t queries = static_cast<std::size_t>(std::count(message_.begin(), message_.end(), '?'));
  marker_queries_ = std::max({marker_queries_, queries + 1, std::size_t{2}});
}

ViStatus Session::resynchronise() {
  std::string expected;
  for (std::size_t i = 0; i < marker_queries_; ++i) expected += i == 0 ? "1" : ";1";
  // One marker at a time: a later attempt waits for the answer to the marker already sent.
  if (!marker_sent_) {
    std::string marker;
    // A message cut short is ended first, so that the marker is a message of its own.
    if (partial_write_) marker += '\n';
    for (std::size_t i = 0; i < marker_queries_; ++i) marker += i == 0 ? "*OPC?" : ";*OPC?";
    marker += '\n';
    bool started = false;
    for (std::string_view rest = marker; !rest.empty();) {
      ViUInt32 written = 0;
      const ViUInt32 count = static_cast<ViUInt32>(rest.size());
      const ViStatus status = viWrite(io_, reinterpret_cast<ViConstBuf>(rest.data()), count, &written);
      if (written > 0) started = true;
      if (status < VI_SUCCESS || written == 0 || written > count) {
        if (started) {
          // The part that went out may answer some of its queries: the next marker holds more.
          partial_write_ = true;
          ++marker_queries_;
        }
        return status < VI_SUCCESS ? status : VI_ERROR_IO;
      }
      rest.remove_prefix(written);
    }
    partial_write_ = false;
    marker_sent_ = true;
  }

  // Every answer read here counts against one time-out, the session's own.
  ViUInt32 timeout = 0;
  ViStatus status = viGetAttribute(io_, VI_ATTR_TMO_VALUE, &timeout);
  if (status < VI_SUCCESS) return status;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kMaxResyncAnswers; ++i) {
    if (timeout != VI_TMO_INFINITE) {
      const auto spent =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
              .count();
      if (i > 0 && spent >= static_cast<long long>(timeout)) {
        status = VI_ERROR_TMO;
        break;
      }
      viSetAttribute(io_, VI_ATTR_TMO_VALUE,
                     static_cast<ViAttrState>(timeout - std::min<long long>(spent, timeout)));
    }
    std::string_view answer;
    status = read_message(scratch_, answer);
    if (status >= VI_SUCCESS && trim(answer) == expected) {
      out_of_step_ = false;
      marker_sent_ = false;
      marker_queries_ = 0;
      break;
    }
    // An over-long answer goes on in the next read; any other failure ends the attempt.
    if (status < VI_SUCCESS && status != PGXGEN_ERROR_INVALID_RESPONSE) break;
    status = PGXGEN_ERROR_INVALID_RESPONSE;  // more answers than can be outstanding, if the loop ends here
  }
  if (timeout != VI_TMO_INFINITE) viSetAttribute(io_, VI_ATTR_TMO_VALUE, timeout);
  return out_of_step_ ? status : VI_SUCCESS;
}

ViStatus Session::write_unchecked(std::string_view text) {
  message_.assign(text);
  message_ += '\n';
  return write(message_);
}

ViStatus Session::query_unchecked(std::string_view text, std::string_view& answer) {
  message_.assign(text);
  message_ += '\n';
  const ViStatus status = write(message_);
  if (status < VI_SUCCESS) return status;
  return read_response(input_, answer);
}

ViStatus Session::end_call(ViStatus status) {
  if (status == PGXGEN_ERROR_INVALID_RESPONSE && answer_read_) recover(status);
  return status;
}

// ---- Checked exchange -----------------------------------------------------------------------------

ViStatus Session::send() {
  if (transaction_active_) {
    buffer_in_transaction();
    return VI_SUCCESS;
  }
  if (!error_query_) {
    message_ += '\n';
    return write(message_);
  }
  return write_and_check();
}

ViStatus Session::write_and_check() {
  // The status query is a message of its own: it is answered even when a command error ends the first.
  message_ += "\n*STB?\n";
  ViStatus status = write(message_);
  if (status < VI_SUCCESS) return status;
  std::string_view response;
  status = read_response(scratch_, response);
  if (status < VI_SUCCESS) return status;
  const auto status_byte = parse_integer(response);
  if (!status_byte || *status_byte < 0 || *status_byte > 255) {
    recover(PGXGEN_ERROR_INVALID_RESPONSE);
    return PGXGEN_ERROR_INVALID_RESPONSE;
  }
  return check_status_byte(static_cast<int>(*status_byte));
}

ViStatus Session::query(std::string_view& answer) {
  prepend_transaction();
  if (error_query_) message_ += ";*STB?";
  message_ += '\n';
  ViStatus status = write(message_);
  if (status < VI_SUCCESS) return status;
  std::string_view response;
  status = read_response(input_, response);
  if (status == VI_ERROR_TMO && error_query_) {
    // A command error ends the message before the status query is reached, so nothing is answered;
    // the error queue tells whether that is what happened.
    const ViStatus errors = collect_errors();
    return errors != VI_SUCCESS ? errors : status;
  }
  if (status < VI_SUCCESS) return status;
  if (!error_query_) {
    answer = response;
    return VI_SUCCESS;
  }
  const auto split = split_status_suffix(response);
  if (!split) {
    recover(PGXGEN_ERROR_INVALID_RESPONSE);
    return PGXGEN_ERROR_INVALID_RESPONSE;
  }
  // The answer lies in input_; the error entries that the check reads go to scratch_.
  status = check_status_byte(split->status_byte);
  if (status != VI_SUCCESS) return status;
  if (!split->has_answer) return PGXGEN_ERROR_INVALID_RESPONSE;
  answer = split->answer;
  return VI_SUCCESS;
}

ViStatus Session::check_status_byte(int status_byte) {
  if ((status_byte & kErrorQueueNotEmpty) == 0) return VI_SUCCESS;
  return collect_errors();
}

ViStatus Session::collect_errors() {
  bool any = false;
  for (int i = 0; i < kMaxErrorReads; ++i) {
    message_ = ":SYST:ERR?\n";
    ViStatus status = write(message_);
    if (status < VI_SUCCESS) return status;
    std::string_view response;
    status = read_response(scratch_, response);
    if (status < VI_SUCCESS) return status;
    auto entry = parse_error_entry(response);
    if (!entry) {
      recover(PGXGEN_ERROR_INVALID_RESPONSE);
      return PGXGEN_ERROR_INVALID_RESPONSE;
    }
    if (entry->code == 0) break;
    keep_error(std::move(*entry));
    any = true;
  }
  return any ? PGXGEN_ERROR_INSTRUMENT : VI_SUCCESS;
}

void Session::keep_error(ErrorEntry entry) {
  if (pending_errors_.size() >= kMaxPendingErrors) {
    pending_errors_.back() = ErrorEntry{-350, "Queue overflow"};
    return;
  }
  pending_errors_.push_back(std::move(entry));
}

ViStatus Session::next_error(ErrorEntry& entry) {
  if (!pending_errors_.empty()) {
    entry = std::move(pending_errors_.front());
    pending_errors_.pop_front();
    return VI_SUCCESS;
  }
  message_ = ":SYST:ERR?";
  prepend_transaction();
  message_ += '\n';
  ViStatus status = write(message_);
  if (status < VI_SUCCESS) return status;
  std::string_view response;
  status = read_response(input_, response);
  if (status < VI_SUCCESS) return status;
  auto parsed = parse_error_entry(response);
  if (!parsed) {
    recover(PGXGEN_ERROR_INVALID_RESPONSE);
    return PGXGEN_ERROR_INVALID_RESPONSE;
  }
  entry = std::move(*parsed);
  return VI_SUCCESS;
}

// ---- Transactions ---------------------------------------------------------------------------------

void Session::buffer_in_transaction() {
  const std::string_view text = message_;
  if (text.empty()) return;
  if (!transaction_.empty()) {
    // Each unit starts again from the root of the command tree, as it would in a message of its own;
    // common commands are not affected by the tree position.
    transaction_ += ';';
    if (text.front() != ':' && text.front() != '*') transaction_ += ':';
  }
  transaction_ += text;
}

void Session::prepend_transaction() {
  if (transaction_.empty()) return;
  transaction_sent_ = true;
  transaction_ += '\n';
  transaction_ += message_;
  message_.swap(transaction_);
  transaction_.clear();
}

ViStatus Session::transaction_start() {
  if (transaction_active_) return PGXGEN_ERROR_TRANSACTION_ACTIVE;
  transaction_active_ = true;
  transaction_sent_ = false;
  transaction_.clear();
  return VI_SUCCESS;
}

ViStatus Session::transaction_cancel() {
  if (!transaction_active_) return PGXGEN_WARN_NO_TRANSACTION;
  transaction_active_ = false;
  transaction_.clear();
  return VI_SUCCESS;
}

ViStatus Session::transaction_finish() {
  if (!transaction_active_) return PGXGEN_WARN_NO_TRANSACTION;
  transaction_active_ = false;
  // Settings that a query sent ahead of it are checked here too (then the message is empty).
  if (transaction_.empty() && !transaction_sent_) return VI_SUCCESS;
  // The whole transaction is one program message, always checked; the status query of the check is
  // answered even when a unit of the transaction fails.
  message_.clear();
  message_.swap(transaction_);
  return write_and_check();
}

ViStatus Session::device_clear() {
  const ViStatus status = viClear(io_);
  if (status < VI_SUCCESS) return status;
  // On a socket the clear reaches only what has arrived; an answer still on its way is dropped when the
  // session resynchronises.
  lose_step();
  return VI_SUCCESS;
}

}  // namespace pgx::driver
