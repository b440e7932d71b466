// Arbitrary bytes as a file of records; fetch until the end. After every fetch the reader's
// invariants hold: 1 <= IPOS <= LENLIN <= NCHLIN, the sentinel after the line, blanks before
// the cursor, no lower-case letter left when folding is on, no TAB in the line.
#include <cstdint>
#include <span>

#include "fuzz_input.hpp"
#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the settings: line width and case folding.
  const std::int32_t nchlin = 1 + (data[0] | (data[1] & 0x07) << 8);
  const bool fold = (data[1] & 0x80) == 0;
  kud::io::reset_units();
  kud::reset_reader_state();
  const fuzz::InputFile input(88, std::span(data + 2, size - 2));
  if (!input.valid()) return 0;
  std::int32_t ierr = 0;
  kud::INIFII(88, -1, ierr);
  if (ierr != 0) fuzz::violated();
  kud::RDSET(nchlin, kud::kSetNchlin);
  if (!fold) kud::RDSET(0, kud::kSetIupcas);
  const auto& rs = kud::RS;
  for (;;) {
    kud::RDLINE();
    if (kud::RDSTAT() != 0) fuzz::violated();  // a memory file reads without errors
    if (kud::RDEOF()) break;
    if (rs.IPOS < 1 || rs.IPOS > rs.LENLIN || rs.LENLIN > rs.NCHLIN) fuzz::violated();
    if (rs.LINE[static_cast<std::size_t>(rs.LENLIN + 1)] != kud::kSentinel) fuzz::violated();
    for (std::int32_t p = 1; p < rs.IPOS; ++p)
      if (rs.LINE[static_cast<std::size_t>(p)] != ' ') fuzz::violated();
    for (std::int32_t p = rs.IPOS; p <= rs.LENLIN; ++p) {
      const char c = rs.LINE[static_cast<std::size_t>(p)];
      if (c == '\t' || (fold && c >= 'a' && c <= 'z')) fuzz::violated();
    }
    if (rs.LINE[static_cast<std::size_t>(rs.LENLIN)] == ' ') fuzz::violated();
  }
  return 0;
}
