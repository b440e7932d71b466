// Data records rendered on a second thread, a batch of lines at a time, while the caller reads
// on: reading a line takes about twice as long as rendering its fields, so the two run side by
// side on two cores. The output unit gets the same bytes in the same order as when every record
// is rendered and written in turn; only the caller's thread touches the units.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>

namespace zelp {

class RecordBatches {
 public:
  static constexpr std::size_t kMaxValues = 1024;  // in one record
  // A batch goes to the thread once it holds this many values or records: large enough that
  // handing over is rare (the hand-over wakes the thread, which costs the caller), small enough
  // that its text fits one output block, which the unit writes as it is.
  static constexpr std::size_t kBatchValues = std::size_t{24} * 1024;
  static constexpr std::size_t kBatchRecords = 4096;

  // Records go to unit, every field with decimal_mark as the point.
  RecordBatches(std::int32_t unit, char decimal_mark);
  // Stops the rendering thread. Records taken but not yet written by finish() are dropped.
  ~RecordBatches();
  RecordBatches(const RecordBatches&) = delete;
  RecordBatches& operator=(const RecordBatches&) = delete;

  // Where the next record's values go: room for kMaxValues values, valid until add().
  [[nodiscard]] std::span<double> next_values();

  // Takes the first count values of next_values() as the next record (1 <= count <=
  // kMaxValues). Returns 0, or the error number of a failed write to the unit; after a
  // failure nothing more is written.
  [[nodiscard]] std::int32_t add(std::size_t count);

  // Writes every record taken so far; returns 0 or the error number of a failed write.
  [[nodiscard]] std::int32_t finish();

 private:
  struct Batch;
  // The two batches, in static storage: one fills while the other is rendered and written.
  static std::span<Batch, 2> storage();

  std::int32_t hand_over();
  std::int32_t collect();
  std::int32_t prepare(Batch& batch);
  std::int32_t write(Batch& batch);
  void render(Batch& batch) const;
  bool start_thread();
  void run();

  std::int32_t unit_;
  char decimal_mark_;
  Batch* filling_;              // the batch the caller adds to
  Batch* in_flight_ = nullptr;  // handed to the thread, not written yet
  std::int32_t error_ = 0;      // the first write failure
  bool thread_failed_ = false;  // no thread could be started: render in the caller

  std::mutex mutex_;
  std::condition_variable changed_;
  Batch* queued_ = nullptr;  // guarded: the batch the thread renders; null once rendered
  bool stopping_ = false;    // guarded
  std::thread thread_;
};

}  // namespace zelp
