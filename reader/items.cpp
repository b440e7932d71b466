#include "reader/items.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "driver/text.hpp"
#include "numeric/literals.hpp"
#include "reader/cursor.hpp"
#include "reader/line_fetch.hpp"
#include "reader/reader_state.hpp"

namespace kud {
namespace {

std::size_t at(std::int32_t column) { return static_cast<std::size_t>(column); }

// A piece starting with one of these ends the line's items.
constexpr std::string_view kStopCharacters = "%!#'*";

// Copies the first min(8, width) characters of a 16-character text field into slot, blank-pads
// the rest of the slot.
void keep_text(std::span<const char> field, std::span<char> slot) {
  std::array<char, kItemText> holder;
  std::memcpy(holder.data(), field.data(), holder.size());
  const std::size_t n = std::min(holder.size(), slot.size());
  std::memcpy(slot.data(), holder.data(), n);
  std::memset(slot.data() + n, ' ', slot.size() - n);
}

}  // namespace

bool ISWORD() {
  if (RS.IPOS > RS.LENLIN) return false;
  SKIPBL();
  const std::int32_t start = RS.IPOS;
  const char saved_chcur = RS.CHCUR;
  const std::int32_t saved_digit = RS.IDIGIT;
  if (!LETTER()) return false;
  std::array<char, kWordMax> word;
  std::size_t length = 0;
  word[length++] = RS.CHCUR;
  while (length < word.size()) {
    if (LETTER()) {
      word[length++] = RS.CHCUR;
    } else if (DIGIT()) {
      word[length++] = RS.LINE[at(RS.IPOS - 1)];
    } else {
      break;
    }
  }
  if (!ENDITM()) {
    RS.IPOS = start;
    RS.CHCUR = saved_chcur;
    RS.IDIGIT = saved_digit;
    return false;
  }
  std::memcpy(&RS.TXTITM[1], word.data(), length);
  RS.LTXITM = static_cast<std::int32_t>(length);
  return true;
}

void WRDTXT(std::span<char> field) {
  const std::size_t length = static_cast<std::size_t>(std::clamp(RS.LTXITM, 0, kWordMax));
  const std::size_t n = std::min(length, field.size());
  std::memcpy(field.data(), &RS.TXTITM[1], n);
  std::memset(field.data() + n, ' ', field.size() - n);
}

bool ISFREE() {
  RS.ITMBEG = RS.IPOS;
  if (RDEOF() || ENDLIN() || ISINT() || ISREAL() || ISWORD()) {
    const std::int32_t back = RS.ITMBEG - RS.IPOS;
    RS.ITMBEG = 0;
    RS.ITMEND = 0;
    if (back != 0) MOVCUR(back);
    return false;
  }
  if (RDSTAT() != 0) return false;
  RS.ITMBEG = RS.IPOS;
  const std::string_view first = RAWCOL(RS.ITMBEG, RS.ITMBEG);
  if (first.empty() || kStopCharacters.find(first.front()) != std::string_view::npos) {
    RS.ITMBEG = 0;
    RS.ITMEND = 0;
    return false;
  }
  MOVCUR(0);
  RS.ITMEND = RS.IPOS;
  return true;
}

void FRETXT(std::span<char> field) {
  std::memset(field.data(), ' ', field.size());
  const std::int32_t length = RS.ITMEND - RS.ITMBEG;
  if (length <= 0 || RS.ITMBEG < 1) return;
  const std::int32_t m = std::min(length, static_cast<std::int32_t>(field.size()));
  const std::string_view text = RAWCOL(RS.ITMBEG, RS.ITMBEG + m - 1);
  std::memcpy(field.data(), text.data(), text.size());
  if (RS.IUPCAS == 1) zelp::UPCASE(field.first(text.size()));
}

void RDMIX(std::int32_t& count, std::span<std::int32_t> kinds, std::span<double> values,
           std::span<char> texts, std::int32_t width, std::int32_t unit, std::int32_t message_unit,
           std::int32_t& ierr) {
  if (unit <= 0) return;
  RDLINE();
  if (RDSTAT() != 0) {
    write_message(message_unit, "");
    write_message(message_unit, "  *** ERROR IN RDMIX");
    write_message(message_unit, "");
    if (ierr > INT32_MIN) --ierr;
    return;
  }
  if (RDEOF()) {
    count = -1;
    return;
  }
  if (ENDLIN()) {
    count = 0;
    return;
  }
  // The arrays are never written past their ends, whatever the line holds.
  const std::size_t slot = width > 0 ? static_cast<std::size_t>(width) : 0;
  std::size_t capacity = std::min(kinds.size(), values.size());
  if (slot > 0) capacity = std::min(capacity, texts.size() / slot);
  std::array<char, kItemField> field;
  std::size_t n = 0;
  for (;;) {
    if (n == capacity) break;
    std::span<char> text = texts.subspan(std::min(n * slot, texts.size()), slot > 0 ? slot : 0);
    if (ISWORD()) {
      kinds[n] = kText;
      values[n] = 0.0;
      WRDTXT(field);
      keep_text(field, text);
    } else if (ISINT()) {
      kinds[n] = kInteger;
      values[n] = IVALUE();
      std::memset(text.data(), ' ', text.size());
    } else if (ISREAL()) {
      kinds[n] = kReal;
      values[n] = RVALUE();
      std::memset(text.data(), ' ', text.size());
    } else if (ISFREE()) {
      kinds[n] = kText;
      values[n] = 0.0;
      FRETXT(field);
      keep_text(field, text);
    } else {
      break;
    }
    ++n;
    if (ENDLIN()) break;
  }
  count = static_cast<std::int32_t>(n);
}

}  // namespace kud
