#include "driver/records.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

#include "driver/text.hpp"

namespace zelp {
namespace {

using namespace std::string_view_literals;

constexpr std::string_view kBlank54 = "                                                      "sv;
constexpr std::string_view kBlank59 =
    "                                                           "sv;
constexpr std::string_view kFrameEdge =
    "           ================================================"sv;
constexpr std::string_view kFrameEmpty =
    "           -                                              -"sv;
constexpr std::string_view kFrameTitle =
    "           -             **** Z E L P ****                -"sv;
constexpr std::string_view kFrameLine1 =
    "           -     Extracts lines with plot data            -"sv;
constexpr std::string_view kFrameLine2 =
    "           -     Prints data separated with TAB           -"sv;
constexpr std::string_view kFrameLine3 =
    "           -     for fast import in EXCEL.                -"sv;
constexpr std::string_view kFrameContact =
    "           -                        see: man zelp         -"sv;

constexpr std::array<std::string_view, 16> kBanner = {
    kBlank54,    kBlank59,    kBlank59,    kBlank59,    kFrameEdge,  kFrameEmpty,
    kFrameTitle, kFrameEmpty, kFrameLine1, kFrameLine2, kFrameLine3, kFrameContact,
    kFrameEdge,  kBlank59,    kBlank59,    kBlank59};

constexpr bool banner_shape_ok() {
  if (kBlank54.size() != 54 || kBlank54.find_first_not_of(' ') != std::string_view::npos)
    return false;
  if (kBlank59.size() != 59 || kBlank59.find_first_not_of(' ') != std::string_view::npos)
    return false;
  for (std::size_t i = 4; i <= 12; ++i) {
    const std::string_view r = kBanner[i];
    if (r.size() != 59 || r.substr(0, 11).find_first_not_of(' ') != std::string_view::npos)
      return false;
    const char border = (i == 4 || i == 12) ? '=' : '-';
    if (r[11] != border || r[58] != border) return false;
  }
  return true;
}
static_assert(banner_shape_ok());

constexpr std::string_view kSummaryText = " lines with plot data found"sv;
static_assert(kCountWidth + kSummaryText.size() == 33);

// Widest finite value worth formatting: anything at or above this is asterisks whatever the
// rounding, and the text of anything below it fits kScratch.
constexpr double kFormatLimit = 1.0e11;
constexpr std::size_t kScratch = 32;

void right_align(std::string_view text, std::span<char> field) {
  const std::size_t pad = field.size() - text.size();
  std::fill_n(field.begin(), pad, ' ');
  std::copy(text.begin(), text.end(), field.begin() + static_cast<std::ptrdiff_t>(pad));
}

}  // namespace

void render_field(double value, std::span<char, kFieldWidth> field, char decimal_mark) {
  if (std::isnan(value)) return right_align("NaN"sv, field);
  if (std::isinf(value)) return right_align(value < 0 ? "-Infinity"sv : "Infinity"sv, field);
  if (std::fabs(value) >= kFormatLimit) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  std::array<char, kScratch> text{};
  // to_chars works on the exact binary value and breaks ties to even.
  const auto [end, ec] =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 3);
  if (ec != std::errc{}) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  std::string_view shown(text.data(), static_cast<std::size_t>(end - text.data()));
  // A value that rounds to zero, and negative zero, are shown without a sign.
  if (shown.front() == '-' && shown.find_first_not_of("-0."sv) == std::string_view::npos)
    shown.remove_prefix(1);
  if (shown.size() > field.size()) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  right_align(shown, field);
  const std::size_t point = field.size() - 4;
  field[point] = decimal_mark;
}

void render_count(std::int32_t n, std::span<char, kCountWidth> field) {
  std::array<char, kScratch> text{};
  const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), n);
  const auto length = static_cast<std::size_t>(end - text.data());
  if (ec != std::errc{} || length > field.size()) {
    std::fill(field.begin(), field.end(), '*');
    return;
  }
  right_align(std::string_view(text.data(), length), field);
}

std::size_t assemble_data_record(std::span<const double> values, std::span<char> record,
                                 char decimal_mark) {
  constexpr auto kStep = static_cast<std::size_t>(kFieldStep);
  // Only whole fields are written, and only inside record.
  const std::size_t n = std::min(values.size(), record.size() / kStep);
  for (std::size_t i = 0; i < n; ++i) {
    const auto slot = record.subspan(i * kStep, kStep);
    render_field(values[i], slot.first<kFieldWidth>(), decimal_mark);
    slot[kFieldWidth] = kTab;
  }
  return n * kStep;
}

std::string_view assemble_text_record(std::string_view line, std::span<char> out) {
  if (out.empty()) return {};
  out[0] = '#';
  const auto last = static_cast<std::size_t>(LENTRM(line));
  const std::size_t length = std::min(std::max(last, std::size_t{1}), out.size());
  if (length > 1) std::copy_n(line.begin() + 1, length - 1, out.begin() + 1);
  return {out.data(), length};
}

std::span<const std::string_view> banner_records() { return kBanner; }

std::string_view summary_record(std::int32_t count, std::span<char> out) {
  constexpr auto kLength = static_cast<std::size_t>(kCountWidth) + kSummaryText.size();
  if (out.size() < kLength) return {};
  render_count(count, out.first<kCountWidth>());
  std::copy(kSummaryText.begin(), kSummaryText.end(), out.begin() + kCountWidth);
  return {out.data(), kLength};
}

}  // namespace zelp
