// zelp_workload: writes the printout of an imaginary simulation campaign, prose mixed with
// columns of numbers, as the input of the throughput benchmark.
//
//   zelp_workload [--seed N] [SIZE [OUTPUT]]
//
// SIZE is a byte count with an optional K, M or G suffix (powers of 1000), 200M by default.
// OUTPUT is a file name; standard output when absent or "-". The text is a function of the seed
// alone and stops before the first line that would pass SIZE, so a smaller size gives a prefix
// of a larger one. Lines end with LF and never pass 132 characters, the reader's line width.
//
// Each block is what one run prints: a title, "Run 12 of 40", sentences with parameters in
// them, comment lines ("!" and "'" in column 1), column headings, then 200 to 2000 data lines of
// 3 to 12 columns in the shapes scientific programs use (1.2345E+03, -0.5, 42, 1.234e-02).
// A few percent of the data lines hold an expression (2*PI, 1.5E3/4, SIN(0.5)*10); about one
// block in eight separates its columns with TABs.
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint64_t kDefaultSize = 200'000'000;
constexpr std::uint64_t kDefaultSeed = 20240611;
constexpr std::size_t kMaxLineLength = 132;  // what the reader takes from a record
constexpr std::size_t kLineBudget = 128;     // data lines are laid out within this
constexpr std::size_t kFlushAt = 1 << 20;
constexpr double kPi = 3.141592653589793;

// splitmix64: small, fast, and the same sequence on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    state_ += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in lo..hi, both included.
  int between(int lo, int hi) {
    const auto span = static_cast<std::uint64_t>(hi - lo) + 1;
    return lo + static_cast<int>(next() % span);
  }
  // Uniform in [0, 1).
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  bool chance(double p) { return unit() < p; }
  template <typename T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[static_cast<std::size_t>(between(0, static_cast<int>(N) - 1))];
  }

 private:
  std::uint64_t state_;
};

// Buffered output that refuses the first line that would pass the byte limit.
class Writer {
 public:
  Writer(std::FILE* out, std::uint64_t limit) : out_(out), limit_(limit) {
    buffer_.reserve(kFlushAt + 2 * kMaxLineLength);
  }

  // Appends text and LF; false (and nothing written) once the limit would be passed.
  bool line(std::string_view text) {
    if (full_ || written_ + text.size() + 1 > limit_) {
      full_ = true;
      return false;
    }
    buffer_.append(text);
    buffer_.push_back('\n');
    written_ += text.size() + 1;
    if (buffer_.size() >= kFlushAt) flush();
    return true;
  }
  [[nodiscard]] bool full() const { return full_; }
  // False when a write failed.
  bool flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
      failed_ = true;
    buffer_.clear();
    return !failed_;
  }
  [[nodiscard]] bool failed() const { return failed_; }

 private:
  std::FILE* out_;
  std::uint64_t limit_;
  std::uint64_t written_ = 0;
  std::string buffer_;
  bool full_ = false;
  bool failed_ = false;
};

// The shapes in which a column's numbers are printed, with their widest text.
enum class Shape {
  kScientific,
  kScientificShort,
  kScientificLower,
  kFixed3,
  kFixed1,
  kFixed6,
  kInteger
};

struct ShapeInfo {
  Shape shape;
  std::size_t widest;  // characters of the widest value the column's scale allows
};

constexpr std::array<ShapeInfo, 7> kShapes = {{
    {Shape::kScientific, 11},       // -1.2345E+03
    {Shape::kScientificShort, 9},   // -1.23E+03
    {Shape::kScientificLower, 10},  // -1.234e+03
    {Shape::kFixed3, 9},            // -9999.999
    {Shape::kFixed1, 8},            // -99999.9
    {Shape::kFixed6, 9},            // -9.999999
    {Shape::kInteger, 6},           // -99999
}};

// One column of a block: its shape, and a smooth signal with a little noise.
struct Column {
  Shape shape;
  std::size_t width;  // right-aligned width in the blank-separated layouts
  double scale;
  double offset;
  double frequency;
  double phase;
  bool positive;
  bool counter;  // the first column may count steps or time
  double step;
};

Column make_column(Random& random, std::size_t room, bool first) {
  ShapeInfo info = kShapes[3];
  for (;;) {
    info = random.pick(kShapes);
    if (info.widest < room) break;
  }
  Column column{};
  column.shape = info.shape;
  column.width = std::min(room, info.widest + 1 + static_cast<std::size_t>(random.between(0, 3)));
  switch (info.shape) {
    case Shape::kScientific:
    case Shape::kScientificShort:
    case Shape::kScientificLower:
      column.scale = std::pow(10.0, random.between(-5, 6));
      break;
    case Shape::kFixed3:
      column.scale = std::pow(10.0, random.between(-1, 3));
      break;
    case Shape::kFixed1:
      column.scale = std::pow(10.0, random.between(0, 4));
      break;
    case Shape::kFixed6:
      column.scale = 1.0 + random.unit() * 4.0;
      break;
    case Shape::kInteger:
      column.scale = std::pow(10.0, random.between(0, 4));
      break;
  }
  column.offset = random.chance(0.5) ? 0.0 : column.scale * random.unit();
  column.frequency = 0.001 + 0.05 * random.unit();
  column.phase = 2.0 * kPi * random.unit();
  column.positive = random.chance(0.3);
  column.counter = first && (info.shape == Shape::kInteger || info.shape == Shape::kFixed3) &&
                   random.chance(0.6);
  column.step = info.shape == Shape::kInteger ? 1.0 : std::pow(10.0, random.between(-3, -1));
  return column;
}

// The value of column at row, kept inside the range its shape prints in its width.
double column_value(const Column& column, Random& random, int row) {
  if (column.counter) return column.step * row;
  const double wave = std::sin(column.phase + column.frequency * row);
  double value = column.offset + column.scale * (0.6 * wave + 0.4 * (random.unit() - 0.5));
  if (column.positive) value = std::fabs(value);
  const double bound = column.shape == Shape::kFixed3    ? 9999.0
                       : column.shape == Shape::kFixed1  ? 99999.0
                       : column.shape == Shape::kFixed6  ? 9.0
                       : column.shape == Shape::kInteger ? 99999.0
                                                         : 9.0e9;
  return std::clamp(value, -bound, bound);
}

void append_value(std::string& text, const Column& column, double value) {
  std::array<char, 48> field{};
  int n = 0;
  switch (column.shape) {
    case Shape::kScientific:
      n = std::snprintf(field.data(), field.size(), "%.4E", value);
      break;
    case Shape::kScientificShort:
      n = std::snprintf(field.data(), field.size(), "%.2E", value);
      break;
    case Shape::kScientificLower:
      n = std::snprintf(field.data(), field.size(), "%.3e", value);
      break;
    case Shape::kFixed3:
      n = std::snprintf(field.data(), field.size(), "%.3f", value);
      break;
    case Shape::kFixed1:
      n = std::snprintf(field.data(), field.size(), "%.1f", value);
      break;
    case Shape::kFixed6:
      n = std::snprintf(field.data(), field.size(), "%.6f", value);
      break;
    case Shape::kInteger:
      n = std::snprintf(field.data(), field.size(), "%d", static_cast<int>(std::lround(value)));
      break;
  }
  text.append(field.data(), static_cast<std::size_t>(std::max(n, 0)));
}

// A small expression of the kind hand-edited input files hold.
void append_expression(std::string& text, Random& random) {
  std::array<char, 48> field{};
  int n = 0;
  const int a = random.between(1, 9);
  const int b = random.between(2, 8);
  switch (random.between(0, 9)) {
    case 0:
      n = std::snprintf(field.data(), field.size(), "%d*PI", a);
      break;
    case 1:
      n = std::snprintf(field.data(), field.size(), "PI/%d", b);
      break;
    case 2:
      n = std::snprintf(field.data(), field.size(), "%d.5E3/%d", a, b);
      break;
    case 3:
      n = std::snprintf(field.data(), field.size(), "SIN(0.%d)*10", a);
      break;
    case 4:
      n = std::snprintf(field.data(), field.size(), "COS(0.%d)", a);
      break;
    case 5:
      n = std::snprintf(field.data(), field.size(), "%d**2", a);
      break;
    case 6:
      n = std::snprintf(field.data(), field.size(), "%d*pi", a);
      break;
    case 7:
      n = std::snprintf(field.data(), field.size(), "sin(pi/%d)", b);
      break;
    case 8:
      n = std::snprintf(field.data(), field.size(), "-%d/%d", a, b);
      break;
    default:
      n = std::snprintf(field.data(), field.size(), "%d.25+%d", a, b);
      break;
  }
  text.append(field.data(), static_cast<std::size_t>(std::max(n, 0)));
}

constexpr std::array<std::string_view, 12> kSubjects = {
    "HEAT TRANSFER IN A FINNED PLATE",
    "Laminar flow past a cylinder",
    "TRANSIENT RESPONSE OF A SPRING-MASS SYSTEM",
    "Shallow water waves in a basin",
    "Elastic buckling of a thin shell",
    "POLLUTANT DISPERSION DOWNSTREAM OF A STACK",
    "Orbit of a satellite under J2 perturbation",
    "Combustion in a stirred reactor",
    "GROUNDWATER FLOW THROUGH LAYERED SOIL",
    "Vibration of a cantilever beam",
    "Population model with harvesting",
    "Charge transport in a diode"};

constexpr std::array<std::string_view, 16> kColumnNames = {
    "TIME", "X",     "Y",    "Z",    "VX",   "VY", "P",   "RHO",
    "TEMP", "E_KIN", "FLUX", "U(1)", "U(2)", "Q",  "ERR", "STEP"};

constexpr std::array<std::string_view, 8> kComments = {
    "! values below are in SI units",       "! restart file written",
    "'  generated by the batch driver",     "   ! check convergence before use",
    "' --- do not edit by hand ---",        "! columns as in the heading",
    "    ! tolerance relaxed for this run", "' output of the post-processor"};

// printf into a line, cut to the reader's width.
[[gnu::format(printf, 1, 2)]] std::string printed(const char* format, ...) {
  std::array<char, 160> text{};
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  return {text.data(), std::min(static_cast<std::size_t>(std::max(n, 0)), kMaxLineLength)};
}

// One sentence with numbers in it, as printed before a run's table.
std::string parameter_sentence(Random& random) {
  const double x = random.unit();
  const double y = random.unit();
  const int i = random.between(1, 512);
  const int j = random.between(1, 256);
  switch (random.between(0, 7)) {
    case 0:
      return printed(" Time step %.2f s, mesh %d x %d", x, i, j);
    case 1:
      return printed(" Reynolds number %.3E, Prandtl number %.2f", x * 1e5, y);
    case 2:
      return printed("   Iteration %d converged after %.1f s (residual %.2E)", i, x * 100,
                     y * 1e-6);
    case 3:
      return printed(" Boundary temperature %.2f K at x = %.3f m", 273.15 + 100 * x, y);
    case 4:
      return printed(" Relaxation factor %.2f, max. %d iterations", x, i);
    case 5:
      return printed("Initial amplitude = %.4f m; damping ratio = %.3f", x, y);
    case 6:
      return printed("   Number of nodes: %d   elements: %d", i, j);
    default:
      return printed(" Output every %d steps, %d stations", i, j);
  }
}

// The heading over the columns, each name right-aligned over its column.
std::string heading(const std::vector<Column>& columns, bool tabs, Random& random) {
  std::string text;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    std::string_view name = random.pick(kColumnNames);
    if (columns[c].counter) name = columns[c].shape == Shape::kInteger ? "STEP" : "TIME";
    if (tabs) {
      if (c > 0) text.push_back('\t');
    } else {
      text.append(columns[c].width > name.size() ? columns[c].width - name.size() : 1, ' ');
    }
    text.append(name);
  }
  return text.substr(0, kMaxLineLength);
}

// Writes one block; false when the size limit was reached.
bool write_block(Writer& out, Random& random, int run, int runs) {
  if (random.chance(0.3)) out.line(" ******************************************************");
  std::string text(1, ' ');
  text.append(random.pick(kSubjects));
  out.line(text);
  out.line(printed(" Run %d of %d", run, runs));
  const int sentences = random.between(1, 4);
  for (int s = 0; s < sentences; ++s) {
    if (random.chance(0.25)) out.line(random.pick(kComments));
    out.line(parameter_sentence(random));
  }
  if (random.chance(0.5)) out.line(random.pick(kComments));
  if (random.chance(0.5)) out.line(random.chance(0.5) ? "" : "   ");

  const auto count = static_cast<std::size_t>(random.between(3, 12));
  const bool tabs = random.chance(0.125);
  const std::size_t room = kLineBudget / count;
  std::vector<Column> columns;
  for (std::size_t c = 0; c < count; ++c) columns.push_back(make_column(random, room, c == 0));
  out.line(heading(columns, tabs, random));
  if (random.chance(0.5)) out.line(std::string(std::min<std::size_t>(count * room, 120), '-'));

  const int rows = random.between(200, 2000);
  std::string field;
  for (int row = 0; row < rows; ++row) {
    text.clear();
    const std::size_t expression_at =
        random.chance(0.04)
            ? static_cast<std::size_t>(random.between(0, static_cast<int>(count) - 1))
            : count;
    for (std::size_t c = 0; c < count; ++c) {
      field.clear();
      if (c == expression_at) {
        append_expression(field, random);
      } else {
        append_value(field, columns[c], column_value(columns[c], random, row));
      }
      if (tabs) {
        if (c > 0) text.push_back('\t');
      } else {
        text.append(columns[c].width > field.size() ? columns[c].width - field.size() : 1, ' ');
      }
      text.append(field);
    }
    if (!out.line(text.substr(0, kMaxLineLength))) return false;
    if (random.chance(0.002)) out.line(random.pick(kComments));
  }
  if (random.chance(0.7)) {
    out.line(printed(" End of run %d, elapsed time %.2f s", run, 1000 * random.unit()));
  }
  if (random.chance(0.6)) out.line("");
  return !out.full();
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  const std::string_view suffix = text.substr(static_cast<std::size_t>(end - text.data()));
  if (suffix.empty()) return value;
  if (suffix == "K" || suffix == "k") return value * 1'000;
  if (suffix == "M") return value * 1'000'000;
  if (suffix == "G") return value * 1'000'000'000;
  return std::nullopt;
}

int usage() {
  std::fputs("usage: zelp_workload [--seed N] [SIZE[K|M|G] [OUTPUT]]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t seed = kDefaultSeed;
  std::uint64_t size = kDefaultSize;
  std::string output = "-";
  std::vector<std::string_view> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--seed" && i + 1 < argc) {
      const auto value = parse_size(argv[++i]);
      if (!value) return usage();
      seed = *value;
    } else if (arg.starts_with("-") && arg != "-") {
      return usage();
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() > 2) return usage();
  if (!positional.empty()) {
    const auto value = parse_size(positional[0]);
    if (!value) return usage();
    size = *value;
  }
  if (positional.size() == 2) output = positional[1];

  std::FILE* file = output == "-" ? stdout : std::fopen(output.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "zelp_workload: cannot create %s: %s\n", output.c_str(),
                 std::strerror(errno));
    return 1;
  }
  Writer out(file, size);
  Random random(seed);
  const int runs = 40;
  for (int run = 1; write_block(out, random, (run - 1) % runs + 1, runs) && !out.failed(); ++run) {
  }
  const bool written = out.flush() && (file == stdout ? std::fflush(file) : std::fclose(file)) == 0;
  if (!written) {
    std::fprintf(stderr, "zelp_workload: cannot write %s\n", output.c_str());
    return 1;
  }
  return 0;
}
