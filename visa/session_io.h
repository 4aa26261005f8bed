#pragma once
// What a session keeps for its buffered, mapped and asynchronous operations: the formatted I/O buffers
// (viBufRead, viBufWrite, viPrintf, viScanf), the window viMapAddress maps, and the jobs of viReadAsync
// and viWriteAsync.

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "visa/visa.h"

namespace pgx::visa {

// An address range that stands for a mapped window: reserved, never readable or writable, so that the
// application reaches the registers through viPeek and viPoke (VI_ATTR_WIN_ACCESS is VI_USE_OPERS) and a
// stray dereference fails loudly instead of reading stale bytes.
class MappedWindow {
 public:
  // Nothing when the address range cannot be reserved.
  static std::unique_ptr<MappedWindow> reserve(ViUInt16 space, ViBusAddress64 offset, ViBusSize size);
  ~MappedWindow();
  MappedWindow(const MappedWindow&) = delete;
  MappedWindow& operator=(const MappedWindow&) = delete;

  ViUInt16 space() const { return space_; }
  ViBusAddress64 offset() const { return offset_; }
  ViBusSize size() const { return size_; }
  void* base() const { return base_; }
  // The offset in the space of `width` bytes at `address` in the window; false when they are not all in it.
  bool translate(const void* address, unsigned width, ViBusAddress64& offset) const;

 private:
  MappedWindow(ViUInt16 space, ViBusAddress64 offset, ViBusSize size, void* base, std::size_t reserved)
      : space_(space), offset_(offset), size_(size), base_(base), reserved_(reserved) {}
  ViUInt16 space_;
  ViBusAddress64 offset_;
  ViBusSize size_;
  void* base_;
  std::size_t reserved_;
};

class SessionIo {
 public:
  ~SessionIo();  // ends the jobs

  // ---- Formatted I/O buffers (guarded by the session's mutex) ----
  std::string read_data;  // bytes read ahead, from read_pos on not yet taken
  std::size_t read_pos = 0;
  // How the last fill of the read buffer ended: VI_SUCCESS (END), VI_SUCCESS_TERM_CHAR, or
  // VI_SUCCESS_MAX_CNT when the message goes on.
  ViStatus read_ended = VI_SUCCESS;
  std::string write_data;  // bytes not yet sent
  ViUInt32 read_buffer_size = 4096;
  ViUInt32 write_buffer_size = 4096;

  // ---- The mapped window (guarded by the session's mutex) ----
  std::unique_ptr<MappedWindow> window;

  // ---- Termination ----
  // Set by viTerminate with no job named: synchronous I/O in progress on the session ends with
  // VI_ERROR_ABORT. Each synchronous call clears it as it starts.
  std::atomic<bool> terminate_calls{false};

  // ---- Asynchronous jobs (thread-safe) ----
  // Starts `work` on a thread of its own; it gets the flag that viTerminate sets, and returns what is to be
  // done once the job counts as finished (its completion event). Returns the job's id. The jobs of a session
  // run one after another in the order they were started (a read started after a write reads its answer),
  // and complete in that order; a job terminated while it waits for its turn ends at once.
  using Work = std::function<std::function<void()>(ViJobId, const std::atomic<bool>& abort)>;
  ViJobId start(Work work);
  // Asks a job (VI_NULL: every job) to end: VI_ERROR_INV_JOB_ID when there is no such job still running.
  ViStatus terminate(ViJobId job);
  // Ends every job and waits for their threads (the session closes).
  void stop_jobs();

 private:
  struct Job {
    ViJobId id;
    std::atomic<bool> abort{false};
    std::atomic<bool> done{false};
    std::thread thread;
  };
  std::mutex jobs_mutex_;
  std::vector<std::unique_ptr<Job>> jobs_;
  ViJobId next_job_ = 1;
  // Ready once the job started last, and every job before it, has finished.
  std::shared_future<void> last_finished_;
};

}  // namespace pgx::visa
