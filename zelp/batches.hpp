// Data records rendered a batch of lines at a time on the output unit's writer thread, while
// the caller reads on: reading a line takes about twice as long as rendering its fields, so the
// two run side by side on two cores. The output unit gets the same bytes in the same order as
// when every record is rendered and written in turn. In the shortest-text format, text records
// may go between them, in the same order.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace zelp {

// How data records are written.
enum class RecordFormat : std::uint8_t {
  kFields,    // 14-character fixed-point fields, each with its TAB; CR LF
  kShortest,  // the shortest text of each value, TABs between; LF
};

class RecordBatches {
 public:
  static constexpr std::size_t kMaxValues = 1024;  // in one record
  // A batch is handed over once it holds this many values or records: large enough that handing
  // over is rare (each hand-over wakes the writer thread, which costs the caller), small enough
  // that its text fits one output block, which the unit writes as it is. The shortest texts
  // are longer than fields, so fewer of them make a batch.
  static constexpr std::size_t kBatchValues = std::size_t{24} * 1024;
  static constexpr std::size_t kBatchShortestValues = std::size_t{16} * 1024;
  static constexpr std::size_t kBatchRecords = 4096;
  // Room for the text records of one batch, and the longest one.
  static constexpr std::size_t kBatchText = std::size_t{64} * 1024;
  static constexpr std::size_t kMaxText = std::size_t{16} * 1024;
  using Texts = std::array<char, kBatchText>;

  // Records go to unit in format, every value with decimal_mark as the point.
  RecordBatches(std::int32_t unit, char decimal_mark, RecordFormat format = RecordFormat::kFields);
  // Waits until the batches handed over are written; their failure is left to the unit's
  // flush or close. Records taken after the last hand-over and not passed on by finish() are
  // dropped.
  ~RecordBatches();
  RecordBatches(const RecordBatches&) = delete;
  RecordBatches& operator=(const RecordBatches&) = delete;

  // Where the next record's values go: room for kMaxValues values, valid until add().
  [[nodiscard]] std::span<double> next_values();

  // Takes the first count values of next_values() as the next record (1 <= count <=
  // kMaxValues). Returns 0, or the error number of a failed write to the unit; after a
  // failure nothing more is taken or written.
  [[nodiscard]] std::int32_t add(std::size_t count);

  // Takes text (at most kMaxText characters, cut there) as the next record, written as it is
  // with its LF; in the shortest-text format only (EINVAL in the other, whose text records the
  // caller writes to the unit itself). Returns 0 or the error number of a failed write, as add().
  [[nodiscard]] std::int32_t add_text(std::string_view text);

  // Hands every record taken so far to the unit; returns 0 or the error number of a failed
  // write. The unit's flush or close writes the last of them and reports their failure.
  [[nodiscard]] std::int32_t finish();

 private:
  struct Batch;
  // The two batches, in static storage: one fills while the other is rendered and written.
  static std::span<Batch, 2> storage();
  static std::size_t render(void* batch, std::span<char> block);

  std::int32_t hand_over();

  std::int32_t unit_;
  char decimal_mark_;
  RecordFormat format_;
  std::size_t value_limit_;
  Batch* filling_;          // the batch the caller adds to
  bool handed_ = false;     // a batch went to the unit
  std::int32_t error_ = 0;  // the first write failure
};

}  // namespace zelp
