// zelp_micro: the routines every input line goes through, timed one by one. RDMIX reads one
// line of the in-memory text again and again, with the reader set up as the program sets it up
// (132 characters a line); render_field formats a cycle of typical values; LENTRM trims a
// 256-character buffer holding a short text, as the driver's answer and line buffers do.
//
// RDMIX/workload_file reads a whole file through RDMIX, as the program's reading thread does
// (file fetch, line building, splitting; no rendering): its lines vary as real ones do, so the
// processor's branch prediction is tested as well; RDLINE/workload_file only fetches the same
// lines. Name the file in ZELP_WORKLOAD, say a 5 MB zelp_workload output; without it both are
// skipped.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>

#include "kud/io/units.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"
#include "kud/text/text.hpp"
#include "zelp/extract.hpp"
#include "zelp/records.hpp"

namespace {

// RDMIX only asks its unit argument to be positive; the line comes from the memory text.
constexpr std::int32_t kAnyUnit = 88;
constexpr std::int32_t kSilent = -1;
constexpr std::int32_t kSlotWidth = 80;  // the driver's text slots
constexpr std::size_t kSlots = 100;

std::array<std::int32_t, kSlots> g_kinds;
std::array<double, kSlots> g_values;
std::array<char, kSlots * kSlotWidth> g_texts;

// A line with its ending LF, and what RDMIX must make of it.
struct Line {
  std::string_view text;
  std::int32_t count;
  std::int32_t first_kind;
};

constexpr Line kDataLine = {"  1.2345E+03   -0.5   42   6.0221E+23    0.001  -7.250e-02     128\n",
                            7, kud::kReal};
constexpr Line kTextLine = {" Time step 0.25 s, mesh 128 x 64\n", 8, kud::kText};
constexpr Line kExpressionLine = {"  2*PI   1.5E3/4   SIN(0.5)*10   -3\n", 4, kud::kReal};

// Puts text into the memory text and sets the reader on it, messages and echo off.
void use_memory(std::string_view text) {
  std::memcpy(&kud::RS.MEMTXT[1], text.data(), text.size());
  kud::RS.MEMLEN = static_cast<std::int32_t>(text.size());
  std::int32_t ierr = 0;
  kud::INIFII(kud::kMemoryUnit, kSilent, ierr);
}

// One RDMIX call on the first line of the memory text, from a fresh position.
std::int32_t read_first_line(std::int32_t& ierr) {
  kud::RS.MEMPOS = 0;
  kud::RS.MEMEND = 0;
  kud::RS.NEOF = 0;
  std::int32_t count = -7;
  kud::RDMIX(count, g_kinds, g_values, g_texts, kSlotWidth, kAnyUnit, kSilent, ierr);
  return count;
}

void rdmix_line(benchmark::State& state, Line line) {
  kud::reset_reader_state();
  use_memory(line.text);
  std::int32_t ierr = 0;
  // Time only what the reader really does with this line.
  const std::int32_t count = read_first_line(ierr);
  if (count != line.count || g_kinds[0] != line.first_kind || ierr != 0) {
    state.SkipWithError("RDMIX does not split the line as expected");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(read_first_line(ierr));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.text.size()));
  state.SetItemsProcessed(state.iterations() * count);
}

// Every line of the file named in ZELP_WORKLOAD, once per iteration, read with the program's
// settings (2048 characters a line, the texts of items not asked for). kSplit: through RDMIX, as
// the program's reading thread does; otherwise fetched with RDLINE only, which tells how much
// of the reading thread's time goes to the fetch and how much to the splitting.
template <bool kSplit>
void read_workload_file(benchmark::State& state) {
  const char* name = std::getenv("ZELP_WORKLOAD");
  if (name == nullptr || *name == '\0') {
    state.SkipWithError("set ZELP_WORKLOAD to a workload file");
    return;
  }
  constexpr std::int32_t kUnit = zelp::kInputUnit;
  kud::io::reset_units();
  if (kud::io::open_unit(kUnit, {.name = name, .status = kud::io::FileStatus::kOld}) != 0) {
    state.SkipWithError("ZELP_WORKLOAD cannot be opened");
    return;
  }
  kud::reset_reader_state();
  std::array<std::int32_t, 1024> kinds;
  std::array<double, 1024> values;
  std::int64_t lines = 0;
  for (auto _ : state) {
    std::int32_t ierr = 0;
    kud::INIFII(kUnit, kSilent, ierr);
    kud::RDSET(kud::kMaxLine, kud::kSetNchlin);
    if constexpr (kSplit) {
      std::int32_t count = 0;
      while (count >= 0 && ierr == 0) {
        kud::RDMIX(count, kinds, values, {}, 0, kUnit, kSilent, ierr);
        ++lines;
      }
    } else {
      for (;;) {
        kud::RDLINE();
        if (kud::RDSTAT() != 0 || kud::RDEOF()) break;
        benchmark::DoNotOptimize(kud::RS.LENLIN);
        ++lines;
      }
      ierr = kud::RDSTAT() == 0 ? 0 : 1;
    }
    if (ierr != 0 || kud::io::rewind_unit(kUnit) != 0) {
      state.SkipWithError("reading ZELP_WORKLOAD failed");
      break;
    }
  }
  state.SetItemsProcessed(lines);
  static_cast<void>(kud::io::close_unit(kUnit));
}

// Values as the workload prints them: small and large, negative, exact halves, too wide.
constexpr std::array<double, 16> kFieldValues = {
    1234.5678, -0.5,    42.0,      6.283185307179586, 0.0625, -7.25e-2, 128.0, 1.0e10,
    -0.0001,   99999.9, -218000.0, 3.1148e-5,         1.5e3,  -999.999, 0.12,  2.0005};

void render_field_values(benchmark::State& state) {
  std::array<char, zelp::kFieldWidth> field{};
  std::size_t i = 0;
  for (auto _ : state) {
    zelp::render_field(kFieldValues[i], field);
    benchmark::DoNotOptimize(field.data());
    benchmark::ClobberMemory();
    i = (i + 1) % kFieldValues.size();
  }
  state.SetItemsProcessed(state.iterations());
}

void lentrm_short_text(benchmark::State& state) {
  std::array<char, zelp::kNameLength> buffer{};
  buffer.fill(' ');
  constexpr std::string_view kText = "Run 12 of 40";
  std::memcpy(buffer.data(), kText.data(), kText.size());
  const std::string_view text(buffer.data(), buffer.size());
  if (zelp::LENTRM(text) != static_cast<std::int32_t>(kText.size())) {
    state.SkipWithError("LENTRM does not find the end of the text");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.data());
    benchmark::DoNotOptimize(zelp::LENTRM(text));
  }
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("RDMIX/data_line", rdmix_line, kDataLine);
  benchmark::RegisterBenchmark("RDMIX/text_line", rdmix_line, kTextLine);
  benchmark::RegisterBenchmark("RDMIX/expression_line", rdmix_line, kExpressionLine);
  benchmark::RegisterBenchmark("RDMIX/workload_file", read_workload_file<true>)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("RDLINE/workload_file", read_workload_file<false>)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("render_field", render_field_values);
  benchmark::RegisterBenchmark("LENTRM/short_text_in_256", lentrm_short_text);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
