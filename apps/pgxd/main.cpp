// pgxd: hosts the automation classes registered on this machine for clients on other machines
// (CoCreateInstanceEx with a server name), over Cap'n Proto RPC.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "automation/remote/host.h"
#include "automation/remote/small_file.h"

namespace {

pgx::remote::Host* g_host = nullptr;

extern "C" void on_signal(int) {
  if (g_host) g_host->Stop();
}

std::string Timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

void Log(const std::string& line) {
  // One line each, written whole, so that a log collector never sees half a line.
  const std::string text = Timestamp() + " pgxd: " + line + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// The token (see small_file.h). A token file others can read is no secret, so it is refused.
bool ReadToken(const std::string& path, std::string& token, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = "cannot read the token file " + path;
    return false;
  }
  if (st.st_mode & (S_IRWXG | S_IRWXO)) {
    error = "the token file " + path + " can be read by others; make it private (chmod 600 " + path + ")";
    return false;
  }
  if (!pgx::remote::ReadTokenFile(path, token, error)) return false;
  if (token.size() < 16) {
    error = "the token in " + path + " is shorter than 16 characters";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Hosts the automation classes registered on this machine for remote clients "
      "(CoCreateInstanceEx with a server name, pgx --server)"};
  std::string listen = "127.0.0.1:" + std::to_string(pgx::remote::kDefaultPort);
  std::string token_file;
  std::string cert_file;
  std::string key_file;
  app.add_option("-l,--listen", listen,
                 "ADDRESS:PORT to listen on ([v6]:PORT for IPv6; port 0 picks a free one). An address other "
                 "than loopback needs --token-file, --tls-cert and --tls-key")
      ->capture_default_str();
  app.add_option("--token-file", token_file,
                 "File whose first line is the token clients must present (at least 16 characters, not "
                 "readable by others)");
  app.add_option("--tls-cert", cert_file, "PEM certificate (chain) of this host, for TLS");
  app.add_option("--tls-key", key_file, "PEM private key of the certificate");
  CLI11_PARSE(app, argc, argv);

  pgx::remote::HostOptions options;
  options.listen = listen;
  options.log = Log;
  std::string error;
  if (!token_file.empty() && !ReadToken(token_file, options.token, error)) {
    Log("not started: " + error);
    return 2;
  }
  if ((!cert_file.empty() &&
       !pgx::remote::ReadSmallFile(cert_file, "certificate", pgx::remote::kMaxPemFileBytes,
                                   options.tls_certificate, error)) ||
      (!key_file.empty() &&
       !pgx::remote::ReadSmallFile(key_file, "private key", pgx::remote::kMaxPemFileBytes, options.tls_key,
                                   error))) {
    Log("not started: " + error);
    return 2;
  }

  // Signals only ask the host to stop; it stops between calls, releasing every client's objects.
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  try {
    pgx::remote::Host host(std::move(options));
    g_host = &host;
    host.Run();
    g_host = nullptr;
  } catch (const pgx::remote::HostError& e) {
    Log(std::string("not started: ") + e.what());
    return 2;
  } catch (const std::exception& e) {
    Log(std::string("failure: ") + e.what());
    return 1;
  }
  return 0;
}
