#include "kud/reader/line_fetch.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "kud/io/units.hpp"
#include "kud/reader/reader_state.hpp"
#include "kud/text/report.hpp"

namespace kud {
namespace {

// The word-wide blank scan takes the first byte of a word as its lowest.
static_assert(std::endian::native == std::endian::little);

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

// Comment characters the block copy can take: the map leaves them as they are (no a..z, no
// TAB) and they are no blank.
constexpr auto kBlockComment = [] {
  std::array<bool, 256> table{};
  for (std::size_t c = 0; c < table.size(); ++c)
    table[c] = kFoldMap[c] == static_cast<char>(c) && c != ' ';
  return table;
}();
static_assert(kBlockComment['!'] && !kBlockComment['a'] && !kBlockComment['\t'] &&
              !kBlockComment[' '] && kBlockComment['A']);

// Maps columns [0, count) of raw into line, count a multiple of kWidth: TABs become blanks and,
// with kFold, a..z become A..Z (every other byte value passes unchanged). Tells whether any of
// them is the comment character. Byte by byte in fixed-size chunks with lane-wise flags and no
// branches, which the compiler turns into vector adds, compares and masks.
template <bool kFold, std::size_t kWidth>
constexpr bool map_chunks(const unsigned char* __restrict raw, char* __restrict line,
                          std::size_t count, unsigned char comment) {
  static_assert(kWidth % 8 == 0);
  std::array<unsigned char, kWidth> seen{};
  for (std::size_t i = 0; i < count; i += kWidth) {
    for (std::size_t j = 0; j < kWidth; ++j) {
      const unsigned char c = raw[i + j];
      const unsigned char tab = c == kTabChar ? 0xFF : 0;
      // c - 'a' below 26, as a signed compare: the shift by 0x80 - 'a' wraps a..z to -128..-103.
      const auto shifted = static_cast<signed char>(static_cast<unsigned char>(c + (0x80 - 'a')));
      const unsigned char lower = kFold && shifted < -128 + 26 ? 0xFF : 0;
      const auto m = static_cast<unsigned char>((c ^ (tab & (kTabChar ^ ' '))) - (lower & 0x20));
      line[i + j] = static_cast<char>(m);
      seen[j] = static_cast<unsigned char>(seen[j] | (c == comment ? 0xFF : 0));
    }
  }
  // Any lane set. At run time the lanes are read as words, not one by one.
  if (std::is_constant_evaluated()) {
    unsigned char any = 0;
    for (const unsigned char lane : seen) any = static_cast<unsigned char>(any | lane);
    return any != 0;
  }
  std::uint64_t any = 0;
  for (std::size_t k = 0; k < kWidth; k += 8) {
    std::uint64_t word;
    std::memcpy(&word, seen.data() + k, 8);
    any |= word;
  }
  return any != 0;
}

// Every byte value maps as the tables say, and only the comment character is seen.
template <bool kFold, std::size_t kWidth>
constexpr bool maps_like_table() {
  const auto& map = kFold ? kFoldMap : kKeepMap;
  std::array<unsigned char, 256> raw{};
  std::array<char, 256> line{};
  for (std::size_t c = 0; c < raw.size(); ++c) raw[c] = static_cast<unsigned char>(c);
  if (!map_chunks<kFold, kWidth>(raw.data(), line.data(), raw.size(), '!')) return false;
  if (map_chunks<kFold, kWidth>(raw.data(), line.data(), '!' / kWidth * kWidth, '!')) return false;
  for (std::size_t c = 0; c < raw.size(); ++c) {
    if (line[c] != map[c]) return false;
  }
  return true;
}
static_assert(maps_like_table<true, 16>() && maps_like_table<false, 16>() &&
              maps_like_table<true, 32>() && maps_like_table<false, 32>());

// The chunk mapper used: 16 columns at a time everywhere, 32 where the processor has 32-byte
// vectors (AVX2 on x86-64, chosen once at run time), which halves the work per column.
struct ChunkMapper {
  std::size_t width;
  bool (*fold)(const unsigned char*, char*, std::size_t, unsigned char);
  bool (*keep)(const unsigned char*, char*, std::size_t, unsigned char);
};

constexpr ChunkMapper kNarrowMapper = {16, map_chunks<true, 16>, map_chunks<false, 16>};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
[[gnu::target("avx2")]] bool map_wide_fold(const unsigned char* raw, char* line, std::size_t count,
                                           unsigned char comment) {
  return map_chunks<true, 32>(raw, line, count, comment);
}
[[gnu::target("avx2")]] bool map_wide_keep(const unsigned char* raw, char* line, std::size_t count,
                                           unsigned char comment) {
  return map_chunks<false, 32>(raw, line, count, comment);
}
constexpr ChunkMapper kWideMapper = {32, map_wide_fold, map_wide_keep};
bool wide_available() { return __builtin_cpu_supports("avx2"); }
#else
constexpr ChunkMapper kWideMapper = kNarrowMapper;
bool wide_available() { return false; }
#endif

const ChunkMapper* g_mapper = nullptr;  // chosen at the first fetch

const ChunkMapper& mapper() {
  if (g_mapper == nullptr) g_mapper = wide_available() ? &kWideMapper : &kNarrowMapper;
  return *g_mapper;
}

// Builds LINE from LINRAW when the blank is the space and the comment character is no letter,
// TAB or blank: the text up to the comment character, TABs as blanks, folded when IUPCAS is 1,
// trailing blanks cut. Looks at columns up to kept only (the rest is blank). Returns false for
// a record that holds nothing but blanks before its comment.
bool build_line(std::int32_t kept) {
  const bool fold = RS.IUPCAS == 1;
  const auto comment = static_cast<unsigned char>(RS.CHCMT);
  const char* raw = &RS.LINRAW[1];
  const auto* raw_bytes = reinterpret_cast<const unsigned char*>(raw);
  char* line = &RS.LINE[1];
  auto length = at(kept);
  // Whole chunks may run past length (into the blank padding, the sentinel or old text) as long
  // as they stay inside both arrays: LINE is read no further than the sentinel set below. The
  // comment character is searched for in the same pass; only a chunk that holds it, within
  // length or past it, costs an exact search.
  constexpr std::size_t kRoom = kMaxLine + 1;  // columns 1..kMaxLine + 1 of each array
  const ChunkMapper& chunks = mapper();
  const std::size_t whole = std::min(length + chunks.width - 1, kRoom) & ~(chunks.width - 1);
  const bool seen = (fold ? chunks.fold : chunks.keep)(raw_bytes, line, whole, comment);
  const auto& map = fold ? kFoldMap : kKeepMap;
  for (std::size_t i = whole; i < length; ++i) line[i] = map[static_cast<unsigned char>(raw[i])];
  if (seen || whole < length) {
    if (const void* found = std::memchr(raw, RS.CHCMT, length))
      length = static_cast<std::size_t>(static_cast<const char*>(found) - raw);
  }
  while (length > 0 && line[length - 1] == ' ') --length;
  if (length == 0) return false;
  // The leading blanks, eight columns at a time while a whole word lies inside LINE; the last
  // character kept stops the scan, so what follows it does not matter.
  std::size_t first = 0;
  for (; first + 8 <= kRoom; first += 8) {
    std::uint64_t word;
    std::memcpy(&word, line + first, 8);
    if (const std::uint64_t other = word ^ 0x2020202020202020; other != 0) {
      first += static_cast<std::size_t>(std::countr_zero(other) / 8);
      break;
    }
  }
  while (line[first] == ' ') ++first;
  RS.IPOS = static_cast<std::int32_t>(first) + 1;
  RS.LENLIN = static_cast<std::int32_t>(length);
  RS.LINE[at(RS.LENLIN + 1)] = kSentinel;
  return true;
}

}  // namespace

void use_wide_fetch(bool on) { g_mapper = on && wide_available() ? &kWideMapper : &kNarrowMapper; }

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
  // The block copy takes the blank to be the space and the comment character to be no letter,
  // TAB or blank, as the set-up makes them.
  const bool block_copy = RS.CHBLNK == ' ' && kBlockComment[static_cast<unsigned char>(RS.CHCMT)];
  for (;;) {
    count_up(RS.NLINRD);
    std::int32_t kept = 0;
    const std::int32_t status = take_record(kept);
    if (status < 0) return end_of_file();
    if (status > 0) return read_error(status);
    if (RS.LUNECH >= 0) RDECHO(std::string_view(&RS.LINRAW[1], at(RS.NCHLIN)), RS.LUNECH);
    if (RS.LINRAW[1] == RS.CHCOL1) continue;
    RS.LINRAW[at(RS.NCHLIN + 1)] = kSentinel;
    if (block_copy) {
      if (!build_line(kept)) continue;  // a blank record, or only a comment
      return;
    }
    std::int32_t first = 1;
    while (first <= kept && is_fill(RS.LINRAW[at(first)])) ++first;
    if (first > kept) continue;  // a blank record
    if (RS.LINRAW[at(first)] == RS.CHCMT) continue;
    RS.IPOS = first;
    std::memset(&RS.LINE[1], RS.CHBLNK, at(first - 1));
    build_line_slowly(first, kept, RS.IUPCAS == 1);
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
