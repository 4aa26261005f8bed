// Test doubles of the remote seam: pgxd run as a child process (as a user runs it), and the host run on a
// thread of the test program (where the test can look at the server module's own counts).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "automation/interfaces.h"
#include "automation/remote/host.h"

namespace pgx::remote::testing {

// pgxd with the given arguments (--listen 127.0.0.1:0 unless they say otherwise); the constructor waits
// for its "listening on" line or its exit. The process is killed with the test program if that dies, and
// stopped (SIGTERM, then SIGKILL) when the object goes.
class HostProcess {
 public:
  explicit HostProcess(std::vector<std::string> args = {});
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool listening() const { return !address_.empty(); }
  // "127.0.0.1:40123".
  const std::string& address() const { return address_; }
  std::u16string server_name() const;
  pid_t pid() const { return pid_; }

  // Stops it with SIGTERM and waits; the exit status (-1 when it had to be killed).
  int Stop();
  void Kill();
  // Whether it is still running.
  bool Running();
  // Its log so far, one entry per line.
  std::vector<std::string> Lines();
  // Waits up to `timeout` for a log line that contains `text`.
  bool WaitForLine(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(10));

 private:
  void Reap(int status);

  pid_t pid_ = -1;
  int exit_status_ = -1;
  std::string address_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  bool closed_ = false;
  std::thread reader_;
};

// The host on a thread of this program, listening on 127.0.0.1:0 (or as `options` say).
class ThreadHost {
 public:
  explicit ThreadHost(HostOptions options = {});
  ~ThreadHost();

  const std::string& address() const { return address_; }
  std::u16string server_name() const;
  const std::string& error() const { return error_; }

 private:
  std::string address_;
  std::string error_;
  Host* host_ = nullptr;
  std::thread thread_;
};

// A call made through CoCreateInstanceEx on `server` for the test server's widget; the HRESULT, and the
// IDispatch when it succeeded.
HRESULT CreateWidget(const std::u16string& server, IDispatch** widget, const std::u16string& token = {});

}  // namespace pgx::remote::testing
