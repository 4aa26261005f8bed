#include "visa/session_io.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>

namespace pgx::visa {

std::unique_ptr<MappedWindow> MappedWindow::reserve(ViUInt16 space, ViBusAddress64 offset, ViBusSize size) {
  const auto reserved = static_cast<std::size_t>(size);
  void* base = ::mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  return std::unique_ptr<MappedWindow>(new MappedWindow(space, offset, size, base, reserved));
}

MappedWindow::~MappedWindow() {
  ::munmap(base_, reserved_);
}

bool MappedWindow::translate(const void* address, unsigned width, ViBusAddress64& offset) const {
  auto at = reinterpret_cast<std::uintptr_t>(address), begin = reinterpret_cast<std::uintptr_t>(base_);
  if (at < begin || at - begin >= size_ || width > size_ - (at - begin)) return false;
  offset = offset_ + (at - begin);
  return true;
}

SessionIo::~SessionIo() {
  stop_jobs();
}

ViJobId SessionIo::start(Work work) {
  std::lock_guard lock(jobs_mutex_);
  // Threads of jobs that have finished are joined here, so that they do not pile up.
  for (auto it = jobs_.begin(); it != jobs_.end();) {
    if ((*it)->done.load()) {
      (*it)->thread.join();
      it = jobs_.erase(it);
    } else {
      ++it;
    }
  }
  auto job = std::make_unique<Job>();
  job->id = next_job_++;
  if (next_job_ == VI_NULL) next_job_ = 1;
  Job* raw = job.get();
  std::shared_future<void> before = last_finished_;
  std::promise<void> finished;
  last_finished_ = finished.get_future().share();
  job->thread = std::thread([raw, work = std::move(work), before, finished = std::move(finished)]() mutable {
    // Its turn comes when the jobs before it have finished, or at once when it is terminated meanwhile.
    while (before.valid() && !raw->abort.load() &&
           before.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
    }
    std::function<void()> then = work(raw->id, raw->abort);
    raw->done.store(true);              // before the application hears of it: viTerminate then finds it done
    if (before.valid()) before.wait();  // completions in the order the jobs were started
    if (then) then();
    finished.set_value();
  });
  jobs_.push_back(std::move(job));
  return raw->id;
}

ViStatus SessionIo::terminate(ViJobId id) {
  std::lock_guard lock(jobs_mutex_);
  bool found = false;
  for (const auto& job : jobs_) {
    if ((id == VI_NULL || job->id == id) && !job->done.load()) {
      job->abort.store(true);
      found = true;
    }
  }
  return found || id == VI_NULL ? VI_SUCCESS : VI_ERROR_INV_JOB_ID;
}

void SessionIo::stop_jobs() {
  std::vector<std::unique_ptr<Job>> jobs;
  {
    std::lock_guard lock(jobs_mutex_);
    jobs.swap(jobs_);
  }
  for (const auto& job : jobs) job->abort.store(true);
  for (const auto& job : jobs) job->thread.join();
}

}  // namespace pgx::visa
