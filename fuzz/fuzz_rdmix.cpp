// Arbitrary bytes as records through RDMIX: the count is 0 or 1..(NCHLIN+1)/2, every kind is 1,
// 2 or 3, text items carry 0.0 and integer items whole values, and the reader's invariants
// hold after each call. The end of input gives -1 exactly once.
#include <array>
#include <cmath>
#include <cstdint>
#include <span>

#include "fuzz_input.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/reader_state.hpp"

namespace {
constexpr std::int32_t kWidth = 16;
std::array<std::int32_t, 1024> kinds;
std::array<double, 1024> values;
std::array<char, 1024 * kWidth> texts;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kud::io::reset_units();
  kud::reset_reader_state();
  const fuzz::InputFile input(88, std::span(data, size));
  if (!input.valid()) return 0;
  std::int32_t ierr = 0;
  kud::INIFII(88, -1, ierr);
  kud::RDSET(2048, kud::kSetNchlin);
  const auto& rs = kud::RS;
  for (;;) {
    std::int32_t count = -7;
    kud::RDMIX(count, kinds, values, texts, kWidth, 88, -1, ierr);
    if (ierr != 0) fuzz::violated();
    if (count == -1) break;
    if (count < 0 || count > kud::max_items(rs.NCHLIN)) fuzz::violated();
    if (count > 0 && (rs.IPOS < 1 || rs.IPOS > rs.LENLIN + 1 || rs.LENLIN > rs.NCHLIN))
      fuzz::violated();
    for (std::int32_t i = 0; i < count; ++i) {
      const auto at = static_cast<std::size_t>(i);
      const std::int32_t kind = kinds[at];
      if (kind < kud::kInteger || kind > kud::kText) fuzz::violated();
      if (kind == kud::kText && values[at] != 0.0) fuzz::violated();
      if (kind == kud::kInteger &&
          (values[at] != std::trunc(values[at]) || std::fabs(values[at]) > 2147483648.0))
        fuzz::violated();
    }
  }
  return 0;
}
