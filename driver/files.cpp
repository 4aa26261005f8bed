#include "driver/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "driver/pgxgen.h"

namespace pgx::driver {

namespace {

// An open file descriptor, closed when it goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  // Closes now and tells whether the close succeeded (a write may only fail there).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Open flags common to both directions: never the controlling terminal, never inherited, never waiting for
// the other end of a FIFO (the type check then refuses it).
constexpr int kOpenFlags = O_NOCTTY | O_CLOEXEC | O_NONBLOCK;

bool is_regular(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

ViStatus read_file(const char* name, std::size_t limit, std::string& content) {
  FileDescriptor file(::open(name, O_RDONLY | kOpenFlags));
  if (file.get() < 0) return PGXGEN_ERROR_FILE_IO;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return PGXGEN_ERROR_FILE_IO;
  if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > limit)
    return PGXGEN_ERROR_FILE_FORMAT;
  // One byte more than the limit tells a file that grew past it since.
  content.resize(static_cast<std::size_t>(info.st_size) + 1);
  std::size_t length = 0;
  while (length < content.size()) {
    const ssize_t got = ::read(file.get(), content.data() + length, content.size() - length);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      return PGXGEN_ERROR_FILE_IO;
    }
    length += static_cast<std::size_t>(got);
    if (length == content.size() && content.size() <= limit) content.resize(std::min(limit + 1, length * 2));
  }
  content.resize(length);
  return length > limit ? PGXGEN_ERROR_FILE_FORMAT : VI_SUCCESS;
}

ViStatus write_file(const char* name, std::string_view content) {
  // Not truncated on opening: what is not a regular file is left as it is.
  FileDescriptor file(::open(name, O_WRONLY | O_CREAT | kOpenFlags, 0666));
  if (file.get() < 0 || !is_regular(file.get())) return PGXGEN_ERROR_FILE_IO;
  if (::ftruncate(file.get(), 0) != 0) return PGXGEN_ERROR_FILE_IO;
  while (!content.empty()) {
    const ssize_t written = ::write(file.get(), content.data(), content.size());
    if (written <= 0) {
      if (written < 0 && errno == EINTR) continue;
      return PGXGEN_ERROR_FILE_IO;
    }
    content.remove_prefix(static_cast<std::size_t>(written));
  }
  return file.close() ? VI_SUCCESS : PGXGEN_ERROR_FILE_IO;
}

}  // namespace pgx::driver
