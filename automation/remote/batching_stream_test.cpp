// The stream under the RPC connections: bytes arrive whole and in order however they were batched, a
// pass of the event loop costs one write, a read takes what has arrived, and the end of the stream, a
// shutdown and a failed socket reach the other side as they would without the batching.
#include "automation/remote/batching_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using pgx::remote::BatchingStream;

// Counts the calls that reach the socket underneath.
class CountingStream final : public kj::AsyncIoStream {
 public:
  CountingStream(kj::Own<kj::AsyncIoStream> inner, int& reads, int& writes)
      : inner_(kj::mv(inner)), reads_(reads), writes_(writes) {}

  kj::Promise<size_t> tryRead(void* buffer, size_t min_bytes, size_t max_bytes) override {
    ++reads_;
    return inner_->tryRead(buffer, min_bytes, max_bytes);
  }
  kj::Promise<void> write(const void* buffer, size_t size) override {
    ++writes_;
    return inner_->write(buffer, size);
  }
  kj::Promise<void> write(kj::ArrayPtr<const kj::ArrayPtr<const kj::byte>> pieces) override {
    ++writes_;
    return inner_->write(pieces);
  }
  kj::Promise<void> whenWriteDisconnected() override { return inner_->whenWriteDisconnected(); }
  void shutdownWrite() override { inner_->shutdownWrite(); }

 private:
  kj::Own<kj::AsyncIoStream> inner_;
  int& reads_;
  int& writes_;
};

// The event loop, and a batching stream on one end of a socket pair whose other end is the peer. (KJ's owners
// may throw from their destructors, which a test fixture may not: they live in a part of their own.)
struct Loop {
  Loop(int& reads, int& writes) : io(kj::setupAsyncIo()) {
    auto pipe = io.provider->newTwoWayPipe();  // a socket pair
    stream = kj::heap<BatchingStream>(kj::heap<CountingStream>(kj::mv(pipe.ends[0]), reads, writes));
    peer = kj::mv(pipe.ends[1]);
  }
  kj::AsyncIoContext io;
  kj::Own<BatchingStream> stream;
  kj::Own<kj::AsyncIoStream> peer;
};

class BatchingStreamTest : public ::testing::Test {
 protected:
  BatchingStreamTest()
      : loop_(std::make_unique<Loop>(reads_, writes_)),
        io_(loop_->io),
        stream_(loop_->stream),
        peer_(loop_->peer) {}

  kj::Promise<void> Write(const std::string& text) { return stream_->write(text.data(), text.size()); }

  // Everything the peer receives until the end of the stream.
  std::string PeerReadsAll() {
    auto bytes = peer_->readAllBytes().wait(io_.waitScope);
    return std::string(bytes.begin(), bytes.end());
  }

  std::string PeerReads(std::size_t n) {
    std::string text(n, '\0');
    peer_->read(text.data(), n).wait(io_.waitScope);
    return text;
  }

  int reads_ = 0;
  int writes_ = 0;
  std::unique_ptr<Loop> loop_;
  kj::AsyncIoContext& io_;
  kj::Own<BatchingStream>& stream_;
  kj::Own<kj::AsyncIoStream>& peer_;
};

TEST_F(BatchingStreamTest, WritesOfOnePassLeaveTogetherInOrder) {
  Write("call 1;").wait(io_.waitScope);
  Write("finish 0;").wait(io_.waitScope);
  const kj::byte a[] = {'x', 'y'};
  const kj::byte b[] = {'z', ';'};
  kj::ArrayPtr<const kj::byte> pieces[] = {a, b};
  stream_->write(pieces).wait(io_.waitScope);
  EXPECT_EQ(writes_, 0) << "nothing leaves while the event loop still has work";

  EXPECT_EQ(PeerReads(20), "call 1;finish 0;xyz;");
  EXPECT_EQ(writes_, 1);

  // Each later pass is a write of its own.
  Write("call 2;").wait(io_.waitScope);
  EXPECT_EQ(PeerReads(7), "call 2;");
  EXPECT_EQ(writes_, 2);
}

TEST_F(BatchingStreamTest, PollingTheLoopSendsWhatWaits) {
  // A proxy's release relies on this: it polls the loop instead of waiting for anything.
  Write("release;").wait(io_.waitScope);
  io_.waitScope.poll();
  EXPECT_EQ(writes_, 1);
  stream_->shutdownWrite();
  EXPECT_EQ(PeerReadsAll(), "release;");
}

TEST_F(BatchingStreamTest, ShutdownComesAfterWhatWaits) {
  Write("last words").wait(io_.waitScope);
  stream_->shutdownWrite();
  EXPECT_EQ(PeerReadsAll(), "last words");
}

TEST_F(BatchingStreamTest, AWriterFasterThanThePeerWaitsForIt) {
  // More than waits and more than the socket's buffers hold.
  const std::string big(8 * BatchingStream::kMaxPending, 'b');
  auto written = Write(big);
  EXPECT_FALSE(written.poll(io_.waitScope)) << "done before the peer took anything";
  auto received = peer_->readAllBytes();
  written.wait(io_.waitScope);
  stream_->shutdownWrite();
  EXPECT_EQ(received.wait(io_.waitScope).size(), big.size());
}

TEST_F(BatchingStreamTest, ReadsTakeWhatHasArrivedInOneRead) {
  const std::string sent = "header..body of the first message|next|";
  peer_->write(sent.data(), sent.size()).wait(io_.waitScope);

  // Small reads as a message reader makes them, each no larger than what it asks for.
  struct Case {
    std::size_t min, max;
    std::string expected;
  } cases[] = {{8, 8, "header.."}, {5, 26, "body of the first message|"}, {1, 1, "n"}, {4, 4, "ext|"}};
  for (const auto& c : cases) {
    std::string got(c.max, '\0');
    const std::size_t n = stream_->tryRead(got.data(), c.min, c.max).wait(io_.waitScope);
    got.resize(n);
    EXPECT_EQ(got, c.expected) << "reading " << c.min << ".." << c.max;
  }
  EXPECT_EQ(reads_, 1);
}

TEST_F(BatchingStreamTest, ALargeReadGoesStraightToTheCaller) {
  std::string sent(3 * BatchingStream::kReadChunk, '\0');
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('a' + i % 26);
  auto writing = peer_->write(sent.data(), sent.size());

  std::string first(8, '\0');
  stream_->read(first.data(), first.size()).wait(io_.waitScope);
  std::string rest(sent.size() - first.size(), '\0');
  stream_->read(rest.data(), rest.size()).wait(io_.waitScope);
  writing.wait(io_.waitScope);
  EXPECT_EQ(first + rest, sent);
}

TEST_F(BatchingStreamTest, TheEndOfTheStreamGivesWhatArrivedBeforeIt) {
  peer_->write("tail", 4).wait(io_.waitScope);
  peer_->shutdownWrite();
  char buffer[8];
  EXPECT_EQ(stream_->tryRead(buffer, 8, 8).wait(io_.waitScope), 4u);
  EXPECT_EQ(std::string(buffer, 4), "tail");
  EXPECT_EQ(stream_->tryRead(buffer, 1, 8).wait(io_.waitScope), 0u);
}

TEST_F(BatchingStreamTest, AFailedSocketFailsEveryLaterWrite) {
  peer_ = nullptr;  // the other end is gone
  Write("lost").wait(io_.waitScope);
  io_.waitScope.poll();
  EXPECT_ANY_THROW(Write("after").wait(io_.waitScope));
  EXPECT_ANY_THROW(Write("and again").wait(io_.waitScope));
}

}  // namespace
