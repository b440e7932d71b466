// The ZELP program: the console dialogue, the command line, the read-classify-write loop and
// the summary.
#pragma once

#include <span>
#include <string_view>

namespace zelp {

// The program as started without arguments: banner, three questions, extraction, summary.
// Returns the exit status: 0 success, 1 failure.
int run();

// The program with arguments, args excluding the program name: options and the two operands,
// no banner and no questions. Returns the exit status: 0 success, 1 failure, 2 usage error.
int run(std::span<const std::string_view> args);

}  // namespace zelp
