#include "zelp/batches.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>

#include "kud/io/units.hpp"
#include "zelp/records.hpp"
#include "zelp/shortest.hpp"

namespace zelp {
namespace {

constexpr auto kStep = static_cast<std::size_t>(kFieldStep);
constexpr std::size_t kBatchValues = RecordBatches::kBatchValues;
constexpr std::size_t kBatchRecords = RecordBatches::kBatchRecords;
constexpr std::size_t kBatchText = RecordBatches::kBatchText;
constexpr std::size_t kValueRoom = kBatchValues - 1 + RecordBatches::kMaxValues;
// What a batch renders to, at most: its values, the text records, and a line ending each.
constexpr std::size_t kFieldsRoom = kValueRoom * kStep + kBatchRecords * 2;
constexpr std::size_t kShortestRoom =
    (RecordBatches::kBatchShortestValues - 1 + RecordBatches::kMaxValues) * (kShortestWidth + 1) +
    kBatchText + kBatchRecords;
// The shortest renderer writes whole words past the end of a value's text.
constexpr std::size_t kRenderSlack = kShortestScratch;
static_assert(kFieldsRoom <= kud::io::kBlockSize &&
                  kShortestRoom + kRenderSlack <= kud::io::kBlockSize,
              "a batch's text fits one output block");
static_assert(RecordBatches::kMaxText <= kBatchText && RecordBatches::kMaxText <= UINT16_MAX);

}  // namespace

// The records of a batch: their values one after the other and each record's count, the text
// records one after the other and each one's length (a count of 0 marks a text record); the
// output block its text is rendered into, which the output unit takes over.
struct RecordBatches::Batch {
  std::array<double, kValueRoom> values;
  std::array<std::uint16_t, kBatchRecords> counts;
  std::array<std::uint16_t, kBatchRecords> text_sizes;
  Texts texts;
  std::unique_ptr<char[]> text;  // kBlockSize bytes
  std::size_t value_count;
  std::size_t record_count;
  std::size_t text_count;  // characters in texts
  char decimal_mark;
  RecordFormat format;

  void clear() {
    value_count = 0;
    record_count = 0;
    text_count = 0;
  }
};
static_assert(RecordBatches::kMaxValues <= UINT16_MAX);

std::span<RecordBatches::Batch, 2> RecordBatches::storage() {
  static std::array<Batch, 2> batches;
  return batches;
}

RecordBatches::RecordBatches(std::int32_t unit, char decimal_mark, RecordFormat format)
    : unit_(unit),
      decimal_mark_(decimal_mark),
      format_(format),
      value_limit_(format == RecordFormat::kFields ? kBatchValues : kBatchShortestValues),
      filling_(&storage()[0]) {
  storage()[0].clear();
  storage()[1].clear();
}

RecordBatches::~RecordBatches() {
  // The batches are static and the next instance starts by clearing them: the writer thread
  // must be done with them. A failure it meets stays with the unit, for its flush or close.
  if (handed_) kud::io::wait_for_unit(unit_);
}

std::span<double> RecordBatches::next_values() {
  return std::span<double>(filling_->values).subspan(filling_->value_count, kMaxValues);
}

std::int32_t RecordBatches::add(std::size_t count) {
  if (error_ != 0) return error_;
  Batch& batch = *filling_;
  batch.counts[batch.record_count++] = static_cast<std::uint16_t>(count);
  batch.value_count += count;
  if (batch.value_count < value_limit_ && batch.record_count < kBatchRecords) return 0;
  return hand_over();
}

std::int32_t RecordBatches::add_text(std::string_view text) {
  if (error_ != 0) return error_;
  if (format_ != RecordFormat::kShortest) return EINVAL;
  text = text.substr(0, kMaxText);
  if (text.size() > kBatchText - filling_->text_count) {
    if (const std::int32_t error = hand_over()) return error;
  }
  Batch& batch = *filling_;
  std::copy(text.begin(), text.end(),
            batch.texts.begin() + static_cast<std::ptrdiff_t>(batch.text_count));
  batch.text_count += text.size();
  batch.text_sizes[batch.record_count] = static_cast<std::uint16_t>(text.size());
  batch.counts[batch.record_count++] = 0;
  if (batch.record_count < kBatchRecords) return 0;
  return hand_over();
}

std::int32_t RecordBatches::finish() {
  if (error_ != 0 || filling_->record_count == 0) return error_;
  return hand_over();
}

// Gives the full batch to the unit, which renders it on its writer thread, and fills the other
// one. Once the unit has taken a batch, it is done with the one before.
std::int32_t RecordBatches::hand_over() {
  Batch& full = *filling_;
  if (!full.text) full.text.reset(new (std::nothrow) char[kud::io::kBlockSize]);
  full.decimal_mark = decimal_mark_;
  full.format = format_;
  handed_ = true;
  error_ = full.text ? kud::io::write_block_filled(unit_, full.text, render, &full) : ENOMEM;
  if (error_ != 0) {
    // Its records are dropped; emptied, it still gives next_values() its whole room. Nothing
    // renders it: a failed hand-over starts no filler, and the unit waited for the last one.
    full.clear();
    return error_;
  }
  filling_ = &full == &storage()[0] ? &storage()[1] : &storage()[0];
  filling_->clear();
  return 0;
}

namespace {

// Copies the text record of size characters from texts at text_at to out at length.
void copy_text(const RecordBatches::Texts& texts, std::size_t& text_at, std::size_t size,
               std::span<char> out, std::size_t& length) {
  std::copy_n(texts.begin() + static_cast<std::ptrdiff_t>(text_at), size,
              out.begin() + static_cast<std::ptrdiff_t>(length));
  text_at += size;
  length += size;
}

}  // namespace

std::size_t RecordBatches::render(void* batch_address, std::span<char> block) {
  const Batch& batch = *static_cast<const Batch*>(batch_address);
  const std::span<const double> values(batch.values);
  std::size_t value = 0;
  std::size_t length = 0;
  std::size_t text_at = 0;
  if (batch.format == RecordFormat::kFields) {
    const std::span<char> text = block.first(kFieldsRoom);
    for (std::size_t record = 0; record < batch.record_count; ++record) {
      const std::size_t count = batch.counts[record];
      length += assemble_data_record(values.subspan(value, count),
                                     text.subspan(length, count * kStep), batch.decimal_mark);
      text[length++] = '\r';
      text[length++] = '\n';
      value += count;
    }
    return length;
  }
  const std::span<char> text = block.first(kShortestRoom + kRenderSlack);
  for (std::size_t record = 0; record < batch.record_count; ++record) {
    const std::size_t count = batch.counts[record];
    if (count == 0) {
      copy_text(batch.texts, text_at, batch.text_sizes[record], text, length);
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) text[length++] = kTab;
      length +=
          render_shortest_into(values[value + i], text.subspan(length).data(), batch.decimal_mark);
    }
    value += count;
    text[length++] = '\n';
  }
  return length;
}

}  // namespace zelp
