#include "automation/remote/batching_stream.h"

#include <algorithm>
#include <cstring>

namespace pgx::remote {

BatchingStream::BatchingStream(kj::Own<kj::AsyncIoStream> inner)
    : inner_(kj::mv(inner)), in_(kReadChunk), tasks_(*this) {}

BatchingStream::~BatchingStream() noexcept(false) = default;

std::size_t BatchingStream::TakeBuffered(kj::byte* out, std::size_t max_bytes) {
  const std::size_t n = std::min(max_bytes, in_end_ - in_begin_);
  if (n) std::memcpy(out, in_.data() + in_begin_, n);
  in_begin_ += n;
  if (in_begin_ == in_end_) in_begin_ = in_end_ = 0;
  return n;
}

kj::Promise<size_t> BatchingStream::tryRead(void* buffer, size_t min_bytes, size_t max_bytes) {
  auto* out = static_cast<kj::byte*>(buffer);
  const std::size_t taken = TakeBuffered(out, max_bytes);
  if (taken >= min_bytes) return taken;
  // A large read goes straight into the caller's buffer; a small one reads ahead into ours.
  if (max_bytes - taken >= in_.size()) {
    return inner_->tryRead(out + taken, min_bytes - taken, max_bytes - taken).then([taken](size_t n) {
      return taken + n;
    });
  }
  return inner_->tryRead(in_.data(), min_bytes - taken, in_.size())
      .then([this, out, taken, max_bytes](size_t n) {
        in_begin_ = 0;
        in_end_ = n;
        // Fewer bytes than asked for only at the end of the stream.
        return taken + TakeBuffered(out + taken, max_bytes - taken);
      });
}

kj::Promise<void> BatchingStream::write(const void* buffer, size_t size) {
  KJ_IF_MAYBE (e, failed_) {
    return kj::cp(*e);
  }
  const auto* bytes = static_cast<const kj::byte*>(buffer);
  pending_.insert(pending_.end(), bytes, bytes + size);
  return Queued();
}

kj::Promise<void> BatchingStream::write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) {
  KJ_IF_MAYBE (e, failed_) {
    return kj::cp(*e);
  }
  for (auto piece : pieces) pending_.insert(pending_.end(), piece.begin(), piece.end());
  return Queued();
}

kj::Promise<void> BatchingStream::Queued() {
  if (!sending_scheduled_) {
    sending_scheduled_ = true;
    // When the event loop has run out of other work: by then everything this pass writes is here.
    tasks_.add(kj::evalLast([this] { return SendPending(); }));
  }
  if (pending_.size() + sending_.size() <= kMaxPending) return kj::READY_NOW;
  auto paf = kj::newPromiseAndFulfiller<void>();
  waiting_.push_back(kj::mv(paf.fulfiller));
  return kj::mv(paf.promise);
}

kj::Promise<void> BatchingStream::SendPending() {
  if (pending_.empty()) {
    Sent();
    return kj::READY_NOW;
  }
  sending_.swap(pending_);
  pending_.clear();
  return inner_->write(sending_.data(), sending_.size()).then([this] {
    sending_.clear();
    return SendPending();
  });
}

void BatchingStream::Sent() {
  sending_scheduled_ = false;
  for (auto& f : waiting_) f->fulfill();
  waiting_.clear();
  if (shutdown_requested_) inner_->shutdownWrite();
}

void BatchingStream::taskFailed(kj::Exception&& exception) {
  sending_scheduled_ = false;
  pending_.clear();
  sending_.clear();
  for (auto& f : waiting_) f->reject(kj::cp(exception));
  waiting_.clear();
  failed_ = kj::mv(exception);
}

kj::Promise<void> BatchingStream::whenWriteDisconnected() {
  return inner_->whenWriteDisconnected();
}

void BatchingStream::shutdownWrite() {
  if (sending_scheduled_) {
    shutdown_requested_ = true;
    return;
  }
  inner_->shutdownWrite();
}

void BatchingStream::abortRead() {
  inner_->abortRead();
}

void BatchingStream::getsockopt(int level, int option, void* value, kj::uint* length) {
  inner_->getsockopt(level, option, value, length);
}

void BatchingStream::setsockopt(int level, int option, const void* value, kj::uint length) {
  inner_->setsockopt(level, option, value, length);
}

void BatchingStream::getsockname(struct sockaddr* addr, kj::uint* length) {
  inner_->getsockname(addr, length);
}

void BatchingStream::getpeername(struct sockaddr* addr, kj::uint* length) {
  inner_->getpeername(addr, length);
}

kj::Maybe<int> BatchingStream::getFd() const {
  return inner_->getFd();
}

}  // namespace pgx::remote
