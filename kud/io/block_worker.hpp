// A background thread of the record I/O that does one block job at a time: writing a full
// output block (rendered first by a caller's filler), or reading the next block of an input
// file before it is needed. Private to the record I/O.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "kud/io/units.hpp"

namespace kud::io::detail {

// What the thread runs: work(job), whose outcome finish() hands back. The fields are work's to
// read; the job's memory must stay put until finish() returns.
struct BlockJob {
  std::int64_t (*work)(const BlockJob& job) = nullptr;
  int fd = -1;
  char* data = nullptr;
  std::size_t size = 0;
  off_t offset = 0;
  BlockFiller filler = nullptr;
  void* context = nullptr;
};

class BlockWorker {
 public:
  // Starts job on the thread (started at the first job). The job started before must be
  // finished. False when no thread could be started: the caller then does the job itself.
  bool start(const BlockJob& job);

  // Waits until the job started last is done and returns its outcome.
  std::int64_t finish();

  // Around fork(): the parent lets no job be running and holds the lock, so that the child
  // starts from a settled worker. The child has no thread and cannot use the copied lock and
  // condition, so it goes on with a fresh worker holding the same outcome.
  void hold_for_fork();
  void release_after_fork() { mutex_.unlock(); }
  void no_fork_handlers() { fork_safe_ = false; }
  [[nodiscard]] BlockWorker* fresh_for_child() const;

 private:
  enum class State : std::uint8_t { kIdle, kQueued, kDone };

  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  bool running_ = false;   // the thread was started
  bool fork_safe_ = true;  // the fork handlers are in place
  State state_ = State::kIdle;
  BlockJob job_;
  std::int64_t outcome_ = 0;
};

}  // namespace kud::io::detail
