// The whole program, in-process, on arbitrary input bytes: the first byte chooses the options
// (bit 0 suppresses text, bit 1 asks for the decimal comma, bit 2 for --tsv), the rest is the
// input file. The run succeeds, and every output record is either a "#" text record, standing
// only before the first data record and only when text is not suppressed, or 15 * n characters
// of 14-character fields, each followed by a TAB, and every record ends in CR LF; with --tsv,
// every data set is rectangular (check_tsv). No descriptor is left open.
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.hpp"
#include "kud/io/units.hpp"
#include "kud/reader/reader_state.hpp"
#include "zelp/zelp.hpp"

namespace {

namespace fs = std::filesystem;

const fs::path& base() {
  static const fuzz::PrivateFolder folder("zelp-program");
  return folder.path;
}

// A field: blanks, then an optional "-", digits, the mark and three digits; or 14 asterisks;
// or "Infinity", "-Infinity", "NaN" right-aligned.
bool good_field(std::string_view f, char mark) {
  if (f == std::string_view("**************")) return true;
  const std::size_t first = f.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  const std::string_view text = f.substr(first);
  if (text == "Infinity" || text == "-Infinity" || text == "NaN") return true;
  std::string_view digits = text;
  if (digits.front() == '-') digits.remove_prefix(1);
  if (digits.size() < 5 || digits[digits.size() - 4] != mark) return false;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i == digits.size() - 4) continue;
    if (digits[i] < '0' || digits[i] > '9') return false;
  }
  // A leading zero only before the mark; no minus sign on a zero.
  if (digits.size() > 5 && digits.front() == '0') return false;
  if (text.front() == '-' && digits.find_first_not_of(std::string("0") + mark) == std::string::npos)
    return false;
  return true;
}

void check_output(std::string_view output, bool suppress, char mark) {
  bool data_seen = false;
  std::size_t at = 0;
  while (at < output.size()) {
    const std::size_t end = output.find("\r\n", at);
    if (end == std::string_view::npos) fuzz::violated();
    const std::string_view record = output.substr(at, end - at);
    at = end + 2;
    if (!record.empty() && record.front() == '#') {
      if (suppress || data_seen) fuzz::violated();
      if (record.size() > 256) fuzz::violated();
      continue;
    }
    data_seen = true;
    if (record.empty() || record.size() % 15 != 0) fuzz::violated();
    for (std::size_t i = 0; i < record.size(); i += 15) {
      if (record[i + 14] != '\t') fuzz::violated();
      if (!good_field(record.substr(i, 14), mark)) fuzz::violated();
    }
  }
}

// With --tsv: LF lines, no CR left in them; every row of a data set (after a names row, which
// follows two empty lines or starts the output) has as many fields as its names row.
void check_tsv(std::string_view output, bool suppress) {
  std::size_t empty = 2;
  std::size_t columns = 0;
  for (std::size_t at = 0, end = 0; at < output.size(); at = end + 1) {
    end = output.find('\n', at);
    if (end == std::string_view::npos) fuzz::violated();
    const std::string_view line = output.substr(at, end - at);
    if (line.find('\r') != std::string_view::npos) fuzz::violated();
    if (line.starts_with("# ")) {
      if (suppress) fuzz::violated();
      continue;
    }
    if (line.empty()) {
      ++empty;
      continue;
    }
    const auto fields = static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
    if (empty < 2 && fields != columns) fuzz::violated();
    if (empty >= 2) columns = fields;
    empty = 0;
  }
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t open_descriptors() {
  std::size_t n = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool suppress = (data[0] & 1) != 0;
  const bool comma = (data[0] & 2) != 0;
  const bool tsv = (data[0] & 4) != 0;
  const int fd = fuzz::memory_file(std::span(data + 1, size - 1));
  if (fd < 0) return 0;
  const std::string input = "/proc/self/fd/" + std::to_string(fd);
  const std::string output = (base() / "out.txt").string();

  std::vector<std::string_view> args = {"-q"};
  if (suppress) args.push_back("-s");
  if (comma) args.push_back("--decimal-comma");
  if (tsv) args.push_back("--tsv");
  args.push_back(input);
  args.push_back(output);

  kud::io::reset_units();
  kud::reset_reader_state();
  const std::size_t descriptors = open_descriptors();
  const int status = zelp::run(args);
  // A run gives back every descriptor it took, however often the program runs in one process.
  if (open_descriptors() != descriptors) fuzz::violated();
  kud::io::reset_units();
  ::close(fd);
  // A memory file reads without fail and the folder takes the output: the run succeeds.
  if (status != 0) fuzz::violated();
  if (tsv) {
    check_tsv(slurp(output), suppress);
  } else {
    check_output(slurp(output), suppress, comma ? ',' : '.');
  }
  return 0;
}
