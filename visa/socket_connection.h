#pragma once
// Raw TCP socket sessions ("TCPIP0::host::port::SOCKET").

#include <memory>
#include <string>
#include <vector>

#include "visa/connection.h"

namespace pgx::visa {

class SocketConnection : public Connection {
 public:
  // Connects within `timeout_ms`. On failure returns null and sets `status` (VI_ERROR_RSRC_NFOUND for a host
  // that does not resolve or refuses, VI_ERROR_TMO when the connection is not made in time).
  static std::unique_ptr<SocketConnection> connect(const std::string& host, ViUInt16 port,
                                                   ViUInt32 timeout_ms, ViStatus& status,
                                                   std::string& detail);
  ~SocketConnection() override;

  ViStatus write(const ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  ViStatus read(ViByte* buf, ViUInt32 size, ViUInt32& count, const IoSettings& io) override;
  // Discards the input until the peer has been quiet for 50 ms.
  ViStatus clear(const IoSettings& io) override;
  ViStatus read_stb(ViUInt16& status, const IoSettings& io) override;
  // A socket has no bus trigger; with the IEEE 488.2 string protocol it sends "*TRG".
  ViStatus assert_trigger(ViUInt16 protocol, ViInt16 trigger_id, const IoSettings& io) override;

  // The peer's numeric address ("127.0.0.1").
  const std::string& address() const { return address_; }
  void set_nodelay(bool on);
  void set_keepalive(bool on);

 private:
  SocketConnection(int fd, std::string address);
  // Waits for and receives more bytes into the input buffer; ends with VI_ERROR_ABORT when `abort` is set.
  ViStatus fill(const Deadline& deadline, const std::atomic<bool>* abort = nullptr);
  // Receives whatever has arrived, without waiting.
  ViStatus take_arrived();
  // Waits until the unread input holds a line feed at or after `from` bytes into it; `line_end` is then
  // the offset just past it. Fails when none comes in time or within `limit` bytes after `from`.
  ViStatus wait_for_line_end(std::size_t from, std::size_t limit, const Deadline& deadline,
                             std::size_t& line_end);
  void set_receive_timeout(ViUInt32 timeout_ms);
  void set_send_timeout(ViUInt32 timeout_ms);

  int fd_;
  std::string address_;
  bool lost_ = false;
  std::vector<char> input_;
  std::size_t begin_ = 0;  // unread input is input_[begin_, end_)
  std::size_t end_ = 0;
  long receive_timeout_set_ = -1;  // what SO_RCVTIMEO holds now, in milliseconds (0: none)
  long send_timeout_set_ = -1;
};

}  // namespace pgx::visa
