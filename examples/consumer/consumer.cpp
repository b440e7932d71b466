// Lists the items that KUD's RDMIX finds on each line of a file: integers, reals and texts.
//   consumer FILE
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <kud/kud.hpp>
#include <string_view>

namespace {

constexpr std::int32_t kUnit = 10;  // any file unit, 1..99
constexpr std::int32_t kMessages = kud::io::kConsoleErr;
constexpr std::size_t kMaxItems = kud::max_items(kud::kMaxLine);
constexpr std::size_t kWidth = kud::kItemText;  // characters kept of each text item

// The library's routines do not allocate; the caller's arrays can be static too.
std::array<std::int32_t, kMaxItems> kinds;
std::array<double, kMaxItems> values;
std::array<char, kMaxItems * kWidth> texts;

void print_item(std::size_t i) {
  switch (kinds[i]) {
    case kud::kInteger:
      std::printf("  integer %d", static_cast<int>(values[i]));
      break;
    case kud::kReal:
      std::printf("  real %.15g", values[i]);
      break;
    default: {  // kud::kText, blank-padded to kWidth
      const std::string_view text(&texts[i * kWidth], kWidth);
      std::printf("  text \"%.*s\"", static_cast<int>(zelp::LENTRM(text)), text.data());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer FILE\n");
    return 2;
  }
  std::int32_t status = 0;
  kud::FIIOPN(argv[1], kUnit, kud::kStatusOld, kud::kAccessSequential, kud::kFormFormatted,
              /*blank_code=*/0, /*record_length=*/0, /*report=*/0, /*message_unit=*/0, status);
  if (status != 0) {  // minus the system's error number
    std::fprintf(stderr, "consumer: cannot open %s: %s\n", argv[1], std::strerror(-status));
    return 1;
  }
  // The reader takes 132 characters a line, and a first end of file ends the input quietly.
  std::int32_t ierr = 0;
  kud::INIFII(kUnit, kMessages, ierr);
  for (;;) {
    std::int32_t count = 0;
    kud::RDMIX(count, kinds, values, texts, kWidth, kUnit, kMessages, ierr);
    if (ierr != 0) {  // the reader has reported it on kMessages
      std::fprintf(stderr, "consumer: cannot read %s\n", argv[1]);
      return 1;
    }
    if (count < 0) break;  // end of the file
    std::printf("%d:", kud::RDGET(kud::kGetNlinrd));
    if (count == 0) std::printf("  no items");
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) print_item(i);
    std::printf("\n");
  }
  return kud::io::close_all_units() == 0 ? 0 : 1;
}
