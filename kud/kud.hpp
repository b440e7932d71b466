// The KUD line-reader library, whole: #include <kud/kud.hpp> and link kud::kud (CMake) or
// `pkg-config --cflags --libs kud`.
//
//   kud::io    record I/O on unit numbers 1..99 and the console units 0, 5 and 6
//   FIIOPN     connects a named or scratch file to a unit from small integer codes
//   INIFII     attaches the reader to an input unit (RDINIT, RDSET, RDGET: its settings)
//   RDMIX      fetches the next significant line and splits it into integer, real and text
//              items; ISWORD, ISINT, ISREAL, ISFREE and the cursor primitives are its parts
//   zelp::PROMPT, UPCASE, LENTRM   the text helpers on blank-padded buffers
//
// One reader per process. The reader keeps everything it knows in one global record, kud::RS,
// and the units live in one global table; no routine takes a handle and none is re-entrant. A
// program reads with the library from one thread at a time. Two threads calling the reader or
// the units at once race on that record and table: lines, items and records get mixed or lost,
// and the behaviour is undefined. The background threads of the record I/O are the library's
// own and are never seen by the caller.
//
// Failures are never thrown: FIIOPN returns a status, INIFII and RDMIX lower the caller's error
// counter, the record I/O returns 0, -1 (end of file) or an error number. The per-line routines
// do not allocate.
#pragma once

#include "kud/fileio/fiiopn.hpp"
#include "kud/io/units.hpp"
#include "kud/numeric/expressions.hpp"
#include "kud/numeric/literals.hpp"
#include "kud/reader/cursor.hpp"
#include "kud/reader/items.hpp"
#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"
#include "kud/text/text.hpp"
