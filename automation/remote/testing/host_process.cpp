#include "automation/remote/testing/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <future>

#include "automation/activation.h"
#include "automation/apartment.h"
#include "automation/testing/testsrv_idl.h"

namespace pgx::remote::testing {

namespace {

std::u16string Wide(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

}  // namespace

HostProcess::HostProcess(std::vector<std::string> args) {
  bool has_listen = false;
  for (const auto& a : args) has_listen = has_listen || a == "--listen" || a == "-l";
  if (!has_listen) {
    args.insert(args.begin(), "127.0.0.1:0");
    args.insert(args.begin(), "--listen");
  }
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls here: the test program has threads.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(out[1], 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(PGXD_PATH));
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(PGXD_PATH, argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  const int fd = out[0];
  reader_ = std::thread([this, fd] {
    FILE* in = ::fdopen(fd, "r");
    char* line = nullptr;
    size_t size = 0;
    ssize_t n;
    while (in && (n = ::getline(&line, &size, in)) > 0) {
      std::string text(line, static_cast<std::size_t>(n));
      while (!text.empty() && text.back() == '\n') text.pop_back();
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(text);
      changed_.notify_all();
    }
    std::free(line);
    if (in) std::fclose(in);
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  });
  std::unique_lock<std::mutex> lock(mutex_);
  const std::string marker = "listening on ";
  changed_.wait_for(lock, std::chrono::seconds(20), [&] {
    for (const auto& l : lines_) {
      auto at = l.find(marker);
      if (at != std::string::npos) {
        address_ = l.substr(at + marker.size());
        address_ = address_.substr(0, address_.find_first_of(" ,;"));
        return true;
      }
    }
    return closed_;
  });
}

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    if (Stop() == -1) Kill();
  }
  if (reader_.joinable()) reader_.join();
}

std::u16string HostProcess::server_name() const {
  return Wide(address_);
}

void HostProcess::Reap(int status) {
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
}

int HostProcess::Stop() {
  if (pid_ <= 0) return exit_status_;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      Reap(status);
      return exit_status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  Kill();
  return -1;
}

void HostProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  Reap(status);
  exit_status_ = -1;
}

bool HostProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    Reap(status);
    return false;
  }
  return true;
}

std::vector<std::string> HostProcess::Lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool HostProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    for (const auto& l : lines_) {
      if (l.find(text) != std::string::npos) return true;
    }
    return false;
  });
}

ThreadHost::ThreadHost(HostOptions options) {
  if (options.listen == HostOptions{}.listen) options.listen = "127.0.0.1:0";
  auto ready = std::make_shared<std::promise<std::string>>();
  auto started = ready->get_future();
  thread_ = std::thread([this, options = std::move(options), ready]() mutable {
    bool announced = false;
    try {
      Host host(std::move(options));
      host_ = &host;
      announced = true;
      ready->set_value(host.address());
      host.Run();
    } catch (const std::exception& e) {
      if (!announced) {
        error_ = e.what();
        ready->set_value("");
      }
    }
  });
  address_ = started.get();
}

ThreadHost::~ThreadHost() {
  if (host_ && !address_.empty()) host_->Stop();
  if (thread_.joinable()) thread_.join();
}

std::u16string ThreadHost::server_name() const {
  return Wide(address_);
}

HRESULT CreateWidget(const std::u16string& server, IDispatch** widget, const std::u16string& token) {
  *widget = nullptr;
  std::u16string name = server;
  std::u16string secret = token;
  COAUTHIDENTITY identity{};
  COAUTHINFO auth{};
  identity.Password = secret.data();
  identity.PasswordLength = static_cast<ULONG>(secret.size());
  auth.pAuthIdentityData = &identity;
  COSERVERINFO info{0, name.data(), token.empty() ? nullptr : &auth, 0};
  MULTI_QI qi{&IID_IDispatch, nullptr, S_OK};
  HRESULT hr = CoCreateInstanceEx(CLSID_Widget, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi);
  if (SUCCEEDED(hr)) *widget = static_cast<IDispatch*>(qi.pItf);
  return SUCCEEDED(hr) ? qi.hr : hr;
}

}  // namespace pgx::remote::testing
