#include "reader/line_fetch.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "fileio/units.hpp"
#include "reader/reader_state.hpp"
#include "reader/report.hpp"

namespace kud {
namespace {

constexpr char kTabChar = '\t';
constexpr char kLineFeed = '\n';

// Lower-case letters a..z; the fetch folds exactly these.
constexpr std::array<bool, 256> kLower = [] {
  std::array<bool, 256> table{};
  for (int c = 'a'; c <= 'z'; ++c) table[static_cast<std::size_t>(c)] = true;
  return table;
}();
static_assert(kLower['a'] && kLower['z'] && !kLower['A'] && !kLower['{'] && !kLower[0xE4]);

constexpr bool is_lower(char c) { return kLower[static_cast<unsigned char>(c)]; }

bool is_fill(char c) { return c == RS.CHBLNK || c == kTabChar; }

std::size_t at(std::int32_t column) { return static_cast<std::size_t>(column); }

// The head of the two report forms: an empty line and the line number and unit.
void report_head() {
  char line_field[6];
  char unit_field[4];
  std::string line = " *** ERROR DURING READING OF LINE";
  line += int_field(RS.NLINRD, 6, line_field);
  line += "  ON UNIT";
  line += int_field(RS.LUNRD, 4, unit_field);
  write_message(RS.LUNMSG, "");
  write_message(RS.LUNMSG, line);
}

void end_of_file() {
  count_up(RS.NEOF);
  if (RS.MXEOF > 0 && RS.NEOF <= RS.MXEOF) return;  // passed over quietly
  RS.ISTAT = kEofStatus;
  if (RS.LUNMSG >= 0) {
    report_head();
    write_message(RS.LUNMSG, "     ATTEMPT TO READ THROUGH AN END OF FILE");
    if (RS.MXEOF > 0) {
      char field[5];
      std::string line = "     (";
      line += int_field(RS.MXEOF, 5, field);
      line += " TIMES )";
      write_message(RS.LUNMSG, line);
    }
  }
  // Everything written so far reaches its file before the program ends here.
  if (RS.MXEOF != 0) io::stop_program(0);
}

void read_error(std::int32_t status) {
  RS.ISTAT = -status;
  if (RS.LUNMSG < 0) return;
  report_head();
  char field[4];
  std::string line = "     IOSTAT =";
  line += int_field(status, 4, field);
  write_message(RS.LUNMSG, line);
}

// Reads the next record into LINRAW(1..NCHLIN), blank-padded. Returns 0, -1 at end of file or
// a positive error number; kept is the number of columns that may be non-blank.
std::int32_t take_record(std::int32_t& kept) {
  const std::int32_t n = RS.NCHLIN;
  std::span<char> raw(&RS.LINRAW[1], at(n));
  if (RS.LUNRD < 0) {
    std::int32_t flag = 0;
    RDMEM(raw, n, flag);
    kept = n;
    RS.raw_blank_from = 0;
    return flag == kMemNoLine ? -1 : 0;
  }
  const std::int32_t unit = RS.LUNRD == 0 ? io::kKeyboard : RS.LUNRD;
  const std::int32_t status = io::read_record_raw(unit, raw, kept);
  if (status != 0) {
    kept = 0;
    RS.raw_blank_from = 0;  // a failed read may have left anything in LINRAW
    return status;
  }
  // Only the columns that the previous record may have left non-blank need blanking again.
  const std::int32_t dirty_end = RS.raw_blank_from == 0 ? n : RS.raw_blank_from - 1;
  if (dirty_end > kept) std::memset(&RS.LINRAW[at(kept + 1)], ' ', at(dirty_end - kept));
  RS.raw_blank_from = kept + 1;
  return 0;
}

// The working line character by character, for a blank other than the space.
void build_line_slowly(std::int32_t first, std::int32_t kept, bool fold) {
  std::int32_t last = first - 1;
  std::int32_t p = first;
  while (p <= kept) {
    const char c = RS.LINRAW[at(p)];
    if (is_lower(c)) {
      RS.LINE[at(p)] = fold ? static_cast<char>(c - 32) : c;
      last = p++;
    } else if (is_fill(c)) {
      std::int32_t q = p + 1;
      while (q <= kept && is_fill(RS.LINRAW[at(q)])) ++q;
      if (q > kept) break;  // only blanks to the end: trailing blanks never join the line
      std::memset(&RS.LINE[at(last + 1)], RS.CHBLNK, at(q - 1 - last));
      p = q;
    } else if (c == RS.CHCMT) {
      break;  // the rest is a comment, and the blanks before it go too
    } else {
      RS.LINE[at(p)] = c;
      last = p++;
    }
  }
  RS.LENLIN = last;
  RS.LINE[at(last + 1)] = kSentinel;
}

// Byte maps of the working line: a..z folded or kept, TAB turned into the blank.
constexpr std::array<char, 256> make_map(bool fold) {
  std::array<char, 256> map{};
  for (int c = 0; c < 256; ++c) {
    char m = static_cast<char>(c);
    if (c == kTabChar) m = ' ';
    if (fold && c >= 'a' && c <= 'z') m = static_cast<char>(c - 32);
    map[static_cast<std::size_t>(c)] = m;
  }
  return map;
}
constexpr auto kFoldMap = make_map(true);
constexpr auto kKeepMap = make_map(false);
static_assert(kFoldMap['a'] == 'A' && kFoldMap['\t'] == ' ' && kKeepMap['a'] == 'a' &&
              kFoldMap[0xE4] == static_cast<char>(0xE4));

// True when one of the eight bytes of w is a TAB or, with fold, a lower-case letter: only then
// does a block of the record need translating byte by byte.
constexpr bool needs_map(std::uint64_t w, bool fold) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  const std::uint64_t tabs = w ^ (kOnes * kTabChar);
  bool found = ((tabs - kOnes) & ~tabs & kHigh) != 0;
  if (fold) {
    // Bytes between 0x60 and 0x7B exclusive, for bytes below 0x80; high bytes never match.
    const std::uint64_t low7 = w & (kOnes * 0x7F);
    const std::uint64_t between =
        ((kOnes * (127 + 0x7B)) - low7) & ~w & (low7 + kOnes * (127 - 0x60)) & kHigh;
    found = found || between != 0;
  }
  return found;
}
static_assert(needs_map(0x2020202020202009, false) && !needs_map(0x2020202020202020, true) &&
              needs_map(0x2020206120202020, true) && !needs_map(0x2020206120202020, false) &&
              !needs_map(0x4141414141415A40, true) && !needs_map(0xE4E4E4E4E4E4E4E4, true) &&
              needs_map(0x7A00000000000000, true) && !needs_map(0x7B60000000000000, true));

// Builds LINE from LINRAW, looking at columns up to kept only (the rest is blank): the text up
// to the comment character, TABs as blanks, folded when IUPCAS is 1, trailing blanks cut.
void build_line(std::int32_t first, std::int32_t kept) {
  RS.IPOS = first;
  std::memset(&RS.LINE[1], RS.CHBLNK, at(first - 1));
  const bool fold = RS.IUPCAS == 1;
  // The block copy below takes the blank to be the space and the comment character to be no
  // letter, TAB or blank, as the set-up makes them.
  if (RS.CHBLNK != ' ' || kFoldMap[static_cast<unsigned char>(RS.CHCMT)] != RS.CHCMT ||
      RS.CHCMT == ' ')
    return build_line_slowly(first, kept, fold);
  const char* raw = &RS.LINRAW[at(first)];
  char* line = &RS.LINE[at(first)];
  auto length = at(kept - first + 1);
  if (const void* comment = std::memchr(raw, RS.CHCMT, length))
    length = static_cast<std::size_t>(static_cast<const char*>(comment) - raw);
  const auto& map = fold ? kFoldMap : kKeepMap;
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t block;
    std::memcpy(&block, raw + i, 8);
    if (needs_map(block, fold)) {
      for (std::size_t j = i; j < i + 8; ++j) line[j] = map[static_cast<unsigned char>(raw[j])];
    } else {
      std::memcpy(line + i, &block, 8);
    }
  }
  for (; i < length; ++i) line[i] = map[static_cast<unsigned char>(raw[i])];
  // The character at first is no fill and no comment, so the line keeps at least it.
  while (length > 1 && line[length - 1] == ' ') --length;
  RS.LENLIN = first + static_cast<std::int32_t>(length) - 1;
  RS.LINE[at(RS.LENLIN + 1)] = kSentinel;
}

}  // namespace

void write_message(std::int32_t unit, std::string_view text) {
  if (unit < 0) return;
  // The reader has no way to hand a console failure back; the program's own writes report it.
  static_cast<void>(io::write_record(unit, text));
}

void RDECHO(std::string_view text, std::int32_t unit) {
  if (unit < 0) return;
  static std::array<char, kMaxLine + 2> echo;
  const std::size_t n = std::min(text.size(), echo.size() - 1);
  echo[0] = ' ';
  std::memcpy(echo.data() + 1, text.data(), n);
  static_cast<void>(io::write_record(unit, std::string_view(echo.data(), n + 1)));
}

void RDLINE() {
  RS.ISTAT = 0;
  for (;;) {
    count_up(RS.NLINRD);
    std::int32_t kept = 0;
    const std::int32_t status = take_record(kept);
    if (status < 0) return end_of_file();
    if (status > 0) return read_error(status);
    if (RS.LUNECH >= 0) RDECHO(std::string_view(&RS.LINRAW[1], at(RS.NCHLIN)), RS.LUNECH);
    if (RS.LINRAW[1] == RS.CHCOL1) continue;
    RS.LINRAW[at(RS.NCHLIN + 1)] = kSentinel;
    std::int32_t first = 1;
    while (first <= kept && is_fill(RS.LINRAW[at(first)])) ++first;
    if (first > kept) continue;  // a blank record
    if (RS.LINRAW[at(first)] == RS.CHCMT) continue;
    build_line(first, kept);
    return;
  }
}

void RDMEM(std::span<char> buffer, std::int32_t nchlin, std::int32_t& flag) {
  flag = 0;
  const std::int32_t width =
      std::clamp<std::int32_t>(nchlin, 0, static_cast<std::int32_t>(buffer.size()));
  std::memset(buffer.data(), ' ', at(width));
  const std::int32_t len = std::min(RS.MEMLEN, kMemText);
  if (len <= 0) {
    flag = kMemNoLine;
    return;
  }
  const auto mem = [](std::int32_t p) { return RS.MEMTXT[at(p)]; };
  if (RS.MEMPOS <= 0) {
    RS.MEMPOS = 1;
  } else {
    // The next line starts after the line feed that ends the current one. Searching from the
    // current line's end, not its start, keeps a line that begins with a line feed from being
    // delivered twice.
    std::int32_t p = std::max(RS.MEMEND + 1, RS.MEMPOS);
    while (p <= len && mem(p) != kLineFeed) ++p;
    if (p > len) {
      flag = kMemNoLine;
      return;
    }
    RS.MEMPOS = p + 1;
  }
  std::int32_t j = RS.MEMPOS + 1;
  while (j <= len && mem(j) != kLineFeed && mem(j) != '\0') ++j;
  if (j > len) {
    flag = kMemNoLine;
    return;
  }
  RS.MEMEND = j - 1;
  const std::int32_t n = std::min(RS.MEMEND - RS.MEMPOS + 1, width);
  if (n > 0) std::memcpy(buffer.data(), &RS.MEMTXT[at(RS.MEMPOS)], at(n));
  if (n == 1 && buffer[0] == kLineFeed) buffer[0] = ' ';
}

}  // namespace kud
