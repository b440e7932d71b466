// Console prompt and the helpers on fixed-length, blank-padded texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zelp {

inline constexpr std::int32_t kPromptWidth = 80;

// Writes a blank and at most the first 80 characters of text to unit, without a terminator.
// Returns 0 or the error number of the write.
[[nodiscard]] std::int32_t write_prompt_text(std::int32_t unit, std::string_view text);

// As write_prompt_text, ignoring the result; the driver checks writes itself.
void PROMPT(std::int32_t unit, std::string_view text);

// Turns a..z into A..Z in place over the whole text; every other byte is kept.
void UPCASE(std::span<char> text);

// Position of the last non-blank character (1-based), 0 when there is none. Only the blank
// counts as fill: a TAB is content.
[[nodiscard]] std::int32_t LENTRM(std::string_view text);

// The position LENTRM probes from for a text of length characters with fraction index 0..4:
// length times the fraction, rounded half away from zero. 0 for any other index.
[[nodiscard]] std::int32_t lentrm_probe(std::int32_t length, std::size_t index);

}  // namespace zelp
