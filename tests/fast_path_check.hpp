// Runs one record through RDMIX with and without the one-pass number recogniser, with numbers
// valued digit by digit and again with exact literals, and tells whether the two runs of each
// way agree on every item and on the reader state they leave. Shared by the
// differential test and its fuzz target.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "kud/numeric/literals.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/reader_state.hpp"

namespace check {

struct Outcome {
  std::int32_t count = -9;
  std::int32_t ierr = 0;
  std::array<std::int32_t, 1024> kinds{};
  std::array<std::uint64_t, 1024> value_bits{};
  std::array<char, 1024 * 8> texts{};
  std::int32_t ipos, ival, iaccu, idigit, iexpo, ncmtch, lenlin;
  std::uint64_t rval_bits, accu_real_bits;
  bool accu_wide;
  char chcur;
  bool numeric;  // what last_line_numeric() told after the split
};

// Whether out holds one item or more and no text: what last_line_numeric() must tell.
inline bool only_numbers(const Outcome& out) {
  if (out.count <= 0) return false;
  for (std::size_t i = 0; i < static_cast<std::size_t>(out.count); ++i) {
    if (out.kinds[i] == kud::kText) return false;
  }
  return true;
}

// Splits line (no line feed inside) from the memory text with the program's settings.
inline void split(std::string_view line, bool fast, bool exact, Outcome& out) {
  kud::reset_reader_state();
  std::memcpy(&kud::RS.MEMTXT[1], line.data(), line.size());
  kud::RS.MEMTXT[line.size() + 1] = '\n';
  kud::RS.MEMLEN = static_cast<std::int32_t>(line.size() + 1);
  kud::INIFII(kud::kMemoryUnit, -1, out.ierr);
  kud::RDSET(kud::kMaxLine, kud::kSetNchlin);
  kud::use_fast_numbers(fast);
  kud::use_exact_literals(exact);
  std::array<double, 1024> values{};
  kud::RDMIX(out.count, out.kinds, values, out.texts, 8, 88, -1, out.ierr);
  out.numeric = kud::last_line_numeric();
  kud::use_fast_numbers(true);
  kud::use_exact_literals(false);
  for (std::size_t i = 0; i < values.size(); ++i)
    out.value_bits[i] = std::bit_cast<std::uint64_t>(values[i]);
  const auto& rs = kud::RS;
  out.ipos = rs.IPOS;
  out.ival = rs.IVAL;
  out.iaccu = rs.IACCU;
  out.idigit = rs.IDIGIT;
  out.iexpo = rs.IEXPO;
  out.ncmtch = rs.NCMTCH;
  out.lenlin = rs.LENLIN;
  out.rval_bits = std::bit_cast<std::uint64_t>(rs.RVAL);
  out.accu_real_bits = std::bit_cast<std::uint64_t>(rs.accu_real);
  out.accu_wide = rs.accu_wide;
  out.chcur = rs.CHCUR;
}

// Empty when both recognisers agree, else the name of the first thing that differs.
inline std::string_view compare(std::string_view line, bool exact) {
  static Outcome fast;
  static Outcome slow;
  if (line.size() > static_cast<std::size_t>(kud::kMaxLine)) line = line.substr(0, kud::kMaxLine);
  split(line, true, exact, fast);
  split(line, false, exact, slow);
  if (fast.numeric != only_numbers(fast) || slow.numeric != only_numbers(slow)) return "numeric";
  if (fast.count != slow.count) return "count";
  if (fast.ierr != slow.ierr) return "ierr";
  const auto n = static_cast<std::size_t>(fast.count < 0 ? 0 : fast.count);
  for (std::size_t i = 0; i < n; ++i) {
    if (fast.kinds[i] != slow.kinds[i]) return "kind";
    if (fast.value_bits[i] != slow.value_bits[i]) return "value";
  }
  if (std::memcmp(fast.texts.data(), slow.texts.data(), n * 8) != 0) return "text";
  if (fast.ipos != slow.ipos) return "IPOS";
  if (fast.ival != slow.ival) return "IVAL";
  if (fast.iaccu != slow.iaccu) return "IACCU";
  if (fast.idigit != slow.idigit) return "IDIGIT";
  if (fast.iexpo != slow.iexpo) return "IEXPO";
  if (fast.ncmtch != slow.ncmtch) return "NCMTCH";
  if (fast.lenlin != slow.lenlin) return "LENLIN";
  if (fast.rval_bits != slow.rval_bits) return "RVAL";
  if (fast.accu_real_bits != slow.accu_real_bits) return "accu_real";
  if (fast.accu_wide != slow.accu_wide) return "accu_wide";
  if (fast.chcur != slow.chcur) return "CHCUR";
  return {};
}

// As compare, both ways of valuing literals; "exact " leads what differs with exact literals.
inline std::string compare(std::string_view line) {
  if (const std::string_view differs = compare(line, false); !differs.empty())
    return std::string(differs);
  if (const std::string_view differs = compare(line, true); !differs.empty())
    return "exact " + std::string(differs);
  return {};
}

}  // namespace check
