// pgxsim: simulated PGX pulse generators served on TCP as raw-socket SCPI instruments.

#include <unistd.h>
#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "apps/pgxsim/tcp_server.h"

namespace {

int g_stop_fd = -1;

extern "C" void on_signal(int) {
  const char byte = 1;
  if (g_stop_fd >= 0) {
    ssize_t ignored = ::write(g_stop_fd, &byte, 1);
    (void)ignored;
  }
}

std::string timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Serves a simulated PGX pulse generator on a TCP port (VISA resource "
      "TCPIP0::<address>::<port>::SOCKET)"};
  pgx::sim::ServerOptions options;
  options.port = 5025;
  std::vector<std::string> front_ends;
  app.add_option("-a,--address", options.address, "Listen address (numeric IPv4 or IPv6)")
      ->capture_default_str();
  app.add_option("-p,--port", options.port, "TCP port; 0 picks a free one")->capture_default_str();
  app.add_option("-m,--model", options.instrument.model,
                 "Mainframe model: Q500A (benchtop) or M4000A (VXI); default: after the front-ends");
  app.add_option("-f,--front-ends", front_ends, "Front-end models, slot 1 first (e.g. M4030A,M4040A)")
      ->delimiter(',')
      ->expected(1, 2);
  app.add_option("-s,--serial", options.instrument.serial, "Serial number");
  app.add_option("--firmware", options.instrument.firmware, "Firmware revision");
  app.add_option("--kind", options.instrument.kind,
                 "Instrument kind; anything but pulse-generator is a foreign instrument")
      ->capture_default_str();
  app.add_option("--max-message", options.instrument.max_message_bytes,
                 "Longest program message in bytes; longer ones give -363")
      ->capture_default_str();
  app.add_option("--max-output", options.instrument.max_output_bytes,
                 "Responses kept for a client that does not read them, in bytes; beyond, -410 or -430")
      ->capture_default_str();
  app.add_option("--max-connections", options.max_connections,
                 "Clients served at once; one more is told so and closed")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  unsigned idle_seconds = 0;
  app.add_option("--idle-timeout", idle_seconds,
                 "Close a client that neither sends nor reads for this many seconds (0: never)")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  options.idle_timeout = std::chrono::seconds(idle_seconds);
  options.instrument.front_ends = front_ends;
  options.log = [](const std::string& line) { std::cerr << timestamp() << " pgxsim: " << line << std::endl; };

  try {
    pgx::sim::TcpServer server(options);
    g_stop_fd = server.stop_fd();
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // The first line on standard output tells scripts where to connect.
    std::cout << "pgxsim: listening on " << server.endpoint() << std::endl;
    server.run();
    std::cerr << timestamp() << " pgxsim: stopped" << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "pgxsim: " << e.what() << std::endl;
    return 1;
  }
}
