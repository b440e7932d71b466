#include "kud/io/block_worker.hpp"

#include <system_error>
#include <thread>

namespace kud::io::detail {

bool BlockWorker::start(const BlockJob& job) {
  std::unique_lock lock(mutex_);
  if (!running_) {
    if (!fork_safe_) return false;
    try {
      std::thread(&BlockWorker::run, this).detach();
    } catch (const std::system_error&) {
      return false;
    }
    running_ = true;
  }
  job_ = job;
  state_ = State::kQueued;
  lock.unlock();
  changed_.notify_all();
  return true;
}

std::int64_t BlockWorker::finish() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return state_ != State::kQueued; });
  state_ = State::kIdle;
  return outcome_;
}

void BlockWorker::hold_for_fork() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return state_ != State::kQueued; });
  static_cast<void>(lock.release());
}

BlockWorker* BlockWorker::fresh_for_child() const {
  auto* const worker = new BlockWorker;
  worker->state_ = state_;
  worker->outcome_ = outcome_;
  return worker;
}

void BlockWorker::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return state_ == State::kQueued; });
    const BlockJob job = job_;
    lock.unlock();
    const std::int64_t outcome = job.work(job);
    lock.lock();
    outcome_ = outcome;
    state_ = State::kDone;
    changed_.notify_all();
  }
}

}  // namespace kud::io::detail
