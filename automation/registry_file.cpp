#include "automation/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "automation/hresult.h"
#include "automation/registry.h"
#include "automation/registry_text.h"

namespace pgx::auto_ {

namespace {
thread_local std::string t_error_text;
}  // namespace

std::string RegistryPath() {
  if (const char* p = std::getenv("PGX_REGISTRY"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::string(h) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/pgx/registry";
}

std::string RegistryErrorText() {
  return t_error_text;
}

namespace registry {

LSTATUS Fail(LSTATUS status, std::string text) {
  t_error_text = std::move(text);
  return status;
}

namespace {

// Reads the whole file into `text`. A missing file reads as empty.
LSTATUS ReadFile(const std::string& path, std::string& text) {
  text.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ERROR_SUCCESS;
    return Fail(ERROR_CANTREAD, path + ": cannot be read: " + std::strerror(errno));
  }
  char buffer[65536];
  while (true) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      return Fail(ERROR_CANTREAD, path + ": cannot be read: " + std::strerror(saved));
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ERROR_SUCCESS;
}

LSTATUS ReadTree(const std::string& path, Tree& tree) {
  std::string text;
  if (LSTATUS s = ReadFile(path, text); s != ERROR_SUCCESS) return s;
  std::string error = ParseText(path, text, tree);
  if (!error.empty()) return Fail(ERROR_BADDB, "the registry file is damaged: " + error);
  return ERROR_SUCCESS;
}

struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  long long mtime_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};

FileIdentity Identify(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {st.st_dev, st.st_ino, st.st_size,
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

// The last tree read or saved, reused while the file is unchanged.
std::mutex g_cache_mutex;
std::string g_cache_path;
FileIdentity g_cache_identity;
std::shared_ptr<const Tree> g_cache_tree;

// The file that `path` leads to through symbolic links (relative links count from their own folder); the
// path itself when it is no link or does not exist. Fails with ELOOP in errno after too many links.
std::optional<std::string> FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return path;
    if (static_cast<std::size_t>(n) >= target.size()) continue;  // the link changed meanwhile: read it again
    target.resize(static_cast<std::size_t>(n));
    if (target.empty() || target.front() != '/') {
      std::size_t slash = path.find_last_of('/');
      target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
    }
    path = std::move(target);
  }
  errno = ELOOP;
  return std::nullopt;
}

class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Saves `text` as `file` through a temporary file beside it, with the mode and owner of the file it
// replaces.
LSTATUS Save(const std::string& file, const std::string& text) {
  struct stat old {};
  const bool replaces = ::stat(file.c_str(), &old) == 0;
  std::string temp = file + ".tmp." + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Fail(ERROR_CANTWRITE, temp + ": cannot be created: " + std::strerror(errno));
  bool ok = true;
  if (replaces) {
    // The owner can only be kept by a process that may give files away; the mode always.
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) (void)::fchown(fd, old.st_uid, old.st_gid);
    ok = ::fchmod(fd, old.st_mode & 07777) == 0;
  }
  ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
  int saved_errno = errno;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    if (ok) saved_errno = errno;
    ::unlink(temp.c_str());
    return Fail(ERROR_CANTWRITE, file + ": cannot be written: " + std::strerror(saved_errno));
  }
  return ERROR_SUCCESS;
}

}  // namespace

LSTATUS Load(std::shared_ptr<const Tree>& out) {
  std::string path = RegistryPath();
  std::lock_guard lock(g_cache_mutex);
  FileIdentity id = Identify(path);
  if (g_cache_tree && g_cache_path == path && g_cache_identity == id && id.size >= 0) {
    out = g_cache_tree;
    return ERROR_SUCCESS;
  }
  auto tree = std::make_shared<Tree>();
  LSTATUS status = ReadTree(path, *tree);
  if (status != ERROR_SUCCESS) return status;
  g_cache_path = path;
  g_cache_identity = id;
  g_cache_tree = tree;
  out = tree;
  return ERROR_SUCCESS;
}

LSTATUS Change(const std::function<LSTATUS(Tree&)>& change) {
  const std::string path = RegistryPath();
  const std::optional<std::string> file = FollowLinks(path);
  if (!file) return Fail(ERROR_CANTWRITE, path + ": cannot be written: " + std::strerror(errno));
  std::error_code ec;
  auto parent = std::filesystem::path(*file).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  FileLock lock(*file + ".lock");
  if (!lock.ok()) return Fail(ERROR_CANTWRITE, *file + ".lock: cannot be locked: " + std::strerror(errno));
  auto tree = std::make_shared<Tree>();
  LSTATUS status = ReadTree(*file, *tree);
  if (status != ERROR_SUCCESS) return status;
  status = change(*tree);
  if (status != ERROR_SUCCESS) return status;
  status = Save(*file, WriteText(*tree));
  if (status != ERROR_SUCCESS) return status;
  std::lock_guard cache_lock(g_cache_mutex);
  g_cache_path = path;
  g_cache_identity = Identify(path);
  g_cache_tree = std::move(tree);
  return ERROR_SUCCESS;
}

}  // namespace registry
}  // namespace pgx::auto_
