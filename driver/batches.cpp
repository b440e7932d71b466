#include "driver/batches.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

#include "driver/records.hpp"
#include "fileio/units.hpp"

namespace zelp {
namespace {

constexpr auto kStep = static_cast<std::size_t>(kFieldStep);
constexpr std::size_t kBatchValues = RecordBatches::kBatchValues;
constexpr std::size_t kBatchRecords = RecordBatches::kBatchRecords;
constexpr std::size_t kValueRoom = kBatchValues - 1 + RecordBatches::kMaxValues;
constexpr std::size_t kTextRoom = kValueRoom * kStep + kBatchRecords * 2;
static_assert(kTextRoom <= kud::io::kBlockSize, "a batch's text fits one output block");

}  // namespace

// The records of a batch: their values one after the other, each record's count, and, once
// rendered, their text with CR LF in an output block, which the output unit takes over.
struct RecordBatches::Batch {
  std::array<double, kValueRoom> values;
  std::array<std::uint16_t, kBatchRecords> counts;
  std::unique_ptr<char[]> text;  // kBlockSize bytes
  std::size_t value_count;
  std::size_t record_count;
  std::size_t text_length;

  void clear() {
    value_count = 0;
    record_count = 0;
    text_length = 0;
  }
};
static_assert(RecordBatches::kMaxValues <= UINT16_MAX);

std::span<RecordBatches::Batch, 2> RecordBatches::storage() {
  static std::array<Batch, 2> batches;
  return batches;
}

RecordBatches::RecordBatches(std::int32_t unit, char decimal_mark)
    : unit_(unit), decimal_mark_(decimal_mark), filling_(&storage()[0]) {
  storage()[0].clear();
  storage()[1].clear();
}

RecordBatches::~RecordBatches() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::span<double> RecordBatches::next_values() {
  return std::span<double>(filling_->values).subspan(filling_->value_count, kMaxValues);
}

std::int32_t RecordBatches::add(std::size_t count) {
  Batch& batch = *filling_;
  batch.counts[batch.record_count++] = static_cast<std::uint16_t>(count);
  batch.value_count += count;
  if (batch.value_count < kBatchValues && batch.record_count < kBatchRecords) return 0;
  return hand_over();
}

std::int32_t RecordBatches::finish() {
  if (const std::int32_t error = collect(); error != 0) return error;
  if (const std::int32_t error = prepare(*filling_); error != 0) return error;
  render(*filling_);
  return write(*filling_);
}

// Gives the batch an output block to render into, unless it has one.
std::int32_t RecordBatches::prepare(Batch& batch) {
  if (error_ == 0 && !batch.text) {
    batch.text.reset(new (std::nothrow) char[kud::io::kBlockSize]);
    if (!batch.text) error_ = ENOMEM;
  }
  return error_;
}

// Writes the batch in flight once rendered, then gives the full batch to the thread and fills
// the other one; renders and writes in place where no thread runs.
std::int32_t RecordBatches::hand_over() {
  if (const std::int32_t error = collect(); error != 0) return error;
  if (const std::int32_t error = prepare(*filling_); error != 0) return error;
  if (!start_thread()) {
    render(*filling_);
    return write(*filling_);
  }
  Batch* const full = filling_;
  filling_ = full == &storage()[0] ? &storage()[1] : &storage()[0];
  in_flight_ = full;
  {
    const std::lock_guard lock(mutex_);
    queued_ = full;
  }
  changed_.notify_all();
  return 0;
}

// Waits for the batch in flight, if any, and writes it.
std::int32_t RecordBatches::collect() {
  if (in_flight_ == nullptr) return error_;
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queued_ == nullptr; });
  }
  Batch& batch = *std::exchange(in_flight_, nullptr);
  return write(batch);
}

std::int32_t RecordBatches::write(Batch& batch) {
  if (error_ == 0 && batch.record_count > 0) {
    error_ = kud::io::write_block(unit_, batch.text, batch.text_length);
  }
  batch.clear();
  return error_;
}

void RecordBatches::render(Batch& batch) const {
  const std::span<const double> values(batch.values);
  const std::span<char> text(batch.text.get(), kTextRoom);
  std::size_t value = 0;
  std::size_t length = 0;
  for (std::size_t record = 0; record < batch.record_count; ++record) {
    const std::size_t count = batch.counts[record];
    length += assemble_data_record(values.subspan(value, count),
                                   text.subspan(length, count * kStep), decimal_mark_);
    text[length++] = '\r';
    text[length++] = '\n';
    value += count;
  }
  batch.text_length = length;
}

bool RecordBatches::start_thread() {
  if (thread_.joinable()) return true;
  if (thread_failed_) return false;
  try {
    thread_ = std::thread(&RecordBatches::run, this);
  } catch (const std::system_error&) {
    thread_failed_ = true;
  }
  return !thread_failed_;
}

void RecordBatches::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return queued_ != nullptr || stopping_; });
    if (queued_ == nullptr) return;
    Batch& batch = *queued_;
    lock.unlock();
    render(batch);
    lock.lock();
    queued_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace zelp
