#include "kud/text/text.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>

#include "kud/io/units.hpp"

namespace zelp {
namespace {

// A run of blanks to compare whole stretches of a text against.
constexpr std::size_t kBlankBlock = 256;
constexpr std::array<char, kBlankBlock> kBlankArray = [] {
  std::array<char, kBlankBlock> a{};
  a.fill(' ');
  return a;
}();
constexpr std::string_view kBlanks(kBlankArray.data(), kBlankArray.size());

// Probe fractions, in the order they are tried. Single precision on purpose: the probe
// positions follow from the float values (0.1f is slightly above 0.1).
constexpr std::array<float, 5> kProbeFractions = {0.1f, 0.2f, 0.3f, 0.4f, 0.7f};

// The blank, then the text; one write puts the whole prompt out.
std::array<char, kPromptWidth + 1> g_prompt{};

bool all_blank(std::string_view text) {
  while (text.size() > kBlankBlock) {
    if (text.substr(0, kBlankBlock) != kBlanks) return false;
    text.remove_prefix(kBlankBlock);
  }
  return text == kBlanks.substr(0, text.size());
}

}  // namespace

std::int32_t write_prompt_text(std::int32_t unit, std::string_view text) {
  g_prompt.fill(' ');
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(kPromptWidth));
  std::copy_n(text.begin(), n, g_prompt.begin() + 1);
  return kud::io::write_prompt(unit, std::string_view(g_prompt.data(), n + 1));
}

void PROMPT(std::int32_t unit, std::string_view text) { (void)write_prompt_text(unit, text); }

void UPCASE(std::span<char> text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
  }
}

std::int32_t lentrm_probe(std::int32_t length, std::size_t index) {
  if (index >= kProbeFractions.size()) return 0;
  // lround rounds halves away from zero; the product of an int32 and a float is exact in double.
  return static_cast<std::int32_t>(
      std::lround(static_cast<double>(length) * static_cast<double>(kProbeFractions[index])));
}

std::int32_t LENTRM(std::string_view text) {
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  if (text.size() > kMax) text = text.substr(0, kMax);
  std::int32_t last = static_cast<std::int32_t>(text.size());
  for (std::size_t k = 0; k < kProbeFractions.size(); ++k) {
    const std::int32_t p = lentrm_probe(last, k);
    if (p > 1 && all_blank(text.substr(static_cast<std::size_t>(p - 1)))) {
      last = p;
      break;
    }
  }
  // Scan down, eight characters per step while they are all blank.
  auto end = static_cast<std::size_t>(last);
  constexpr std::size_t kStep = 8;
  while (end >= kStep && text.substr(end - kStep, kStep) == kBlanks.substr(0, kStep)) end -= kStep;
  while (end > 0 && text[end - 1] == ' ') --end;
  return static_cast<std::int32_t>(end);
}

}  // namespace zelp
