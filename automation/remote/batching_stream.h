// The byte stream under an RPC connection, made cheaper in system calls: what the event loop writes while
// it works goes out in one write when it has nothing else to do (a call and the Finish of the call
// before it, the answers to a pipelined chain), and a read takes whatever has arrived, so that several
// messages cost one read. Nothing else changes: bytes leave in the order they were written.
#pragma once

#include <cstddef>
#include <vector>

#include <kj/async-io.h>

namespace pgx::remote {

class BatchingStream final : public kj::AsyncIoStream, private kj::TaskSet::ErrorHandler {
 public:
  explicit BatchingStream(kj::Own<kj::AsyncIoStream> inner);
  ~BatchingStream() noexcept(false);

  kj::Promise<size_t> tryRead(void* buffer, size_t min_bytes, size_t max_bytes) override;

  // A write is copied and counts as done at once, unless what waits to go out has grown past
  // kMaxPending: then it is done when everything before it has left (so a fast writer waits for the
  // network). A failed write fails every later one.
  kj::Promise<void> write(const void* buffer, size_t size) override;
  kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override;
  kj::Promise<void> whenWriteDisconnected() override;
  // Takes effect after what is still waiting has left.
  void shutdownWrite() override;
  void abortRead() override;

  void getsockopt(int level, int option, void* value, kj::uint* length) override;
  void setsockopt(int level, int option, const void* value, kj::uint length) override;
  void getsockname(struct sockaddr* addr, kj::uint* length) override;
  void getpeername(struct sockaddr* addr, kj::uint* length) override;
  kj::Maybe<int> getFd() const override;

  static constexpr std::size_t kReadChunk = 16 * 1024;
  static constexpr std::size_t kMaxPending = 256 * 1024;

 private:
  void taskFailed(kj::Exception&& exception) override;
  std::size_t TakeBuffered(kj::byte* out, std::size_t max_bytes);
  kj::Promise<void> Queued();
  kj::Promise<void> SendPending();
  void Sent();

  kj::Own<kj::AsyncIoStream> inner_;
  std::vector<kj::byte> in_;  // read ahead: in_[in_begin_, in_end_) not yet taken
  std::size_t in_begin_ = 0;
  std::size_t in_end_ = 0;
  std::vector<kj::byte> pending_;  // written, not yet handed to the socket
  std::vector<kj::byte> sending_;  // handed to the socket, not yet done
  bool sending_scheduled_ = false;
  bool shutdown_requested_ = false;
  kj::Maybe<kj::Exception> failed_;
  std::vector<kj::Own<kj::PromiseFulfiller<void>>> waiting_;  // writes done when everything has left
  kj::TaskSet tasks_;
};

}  // namespace pgx::remote
