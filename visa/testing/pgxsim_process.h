#pragma once
// Runs pgxsim (path in the PGXSIM environment variable) as a child process and learns its port.

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace pgx::visa::testing {

class PgxsimProcess {
 public:
  // The pgxsim program the build made, or empty when there is none.
  static std::string program() {
    const char* path = getenv("PGXSIM");
    return path && *path && access(path, X_OK) == 0 ? path : "";
  }

  // Starts pgxsim with `arguments` on `port` (0: a free one) and waits until it listens.
  explicit PgxsimProcess(std::vector<std::string> arguments, unsigned port = 0) {
    int out[2];
    if (pipe(out) != 0) return;
    arguments.insert(arguments.begin(), {program(), "--port", std::to_string(port)});
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (auto& a : arguments) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    // "pgxsim: listening on 127.0.0.1:<port>"
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    close(out[0]);  // later output goes nowhere; pgxsim must not mind
    std::size_t colon = line.rfind(':');
    if (line.find("listening") != std::string::npos && colon != std::string::npos)
      port_ = static_cast<unsigned>(std::stoul(line.substr(colon + 1)));
  }
  ~PgxsimProcess() { stop(SIGTERM); }
  PgxsimProcess(const PgxsimProcess&) = delete;
  PgxsimProcess& operator=(const PgxsimProcess&) = delete;

  unsigned port() const { return port_; }
  std::string resource() const { return "TCPIP0::127.0.0.1::" + std::to_string(port_) + "::SOCKET"; }

  void stop(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  unsigned port_ = 0;
};

}  // namespace pgx::visa::testing
