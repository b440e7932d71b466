#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"
#include "kud/text/report.hpp"
#include "reader_fixture.hpp"

namespace {

using kud::RS;
using test::line_text;
using test::ReaderTest;

// The first significant record of a file and what the fetch makes of it.
struct FetchRow {
  std::string_view file;
  std::string_view line;  // LINE(1..LENLIN)
  std::int32_t ipos;
  std::int32_t nlinrd;
};

TEST_F(ReaderTest, FetchBuildsTheWorkingLine) {
  const FetchRow rows[] = {
      {"   x = 1.5   ! note\n", "   X = 1.5", 4, 1},
      {"\ta\tb\n", " A B", 2, 1},
      {"\n  \t \n!c\n'q\n  ok\n", "  OK", 3, 5},
      {" 'q\n", " 'Q", 2, 1},
      {"*star\n", "*STAR", 1, 1},
      {"a  \t  b\n", "A     B", 1, 1},
      {"x!y\n", "X", 1, 1},
      {"abc!\n", "ABC", 1, 1},
      {"a \t!b\n", "A", 1, 1},
      {"   !x\n1\n", "1", 1, 2},
      {"crlf\r\n", "CRLF", 1, 1},
      {"no line feed", "NO LINE FEED", 1, 1},
      {std::string_view("n\0l\xe4\xff\n", 6), std::string_view("N\0L\xe4\xff", 5), 1, 1},
      {"mixed Case 12e5\n", "MIXED CASE 12E5", 1, 1},
  };
  for (const FetchRow& row : rows) {
    SCOPED_TRACE(row.file);
    TearDown();
    SetUp();
    use_file(row.file, false);
    kud::RDLINE();
    ASSERT_EQ(kud::RDSTAT(), 0);
    ASSERT_FALSE(kud::RDEOF());
    EXPECT_EQ(line_text(1, RS.LENLIN), row.line);
    EXPECT_EQ(RS.IPOS, row.ipos);
    EXPECT_EQ(RS.NLINRD, row.nlinrd);
    EXPECT_EQ(RS.LINE[static_cast<std::size_t>(RS.LENLIN + 1)], kud::kSentinel);
  }
}

TEST_F(ReaderTest, FetchKeepsCaseWhenFoldingIsOff) {
  use_file("abc Def\n", false);
  kud::RDSET(0, kud::kSetIupcas);
  kud::RDLINE();
  EXPECT_EQ(line_text(1, RS.LENLIN), "abc Def");
  EXPECT_EQ(std::string(&RS.LINRAW[1], 7), "abc Def");
}

TEST_F(ReaderTest, FetchCutsLongRecordsToNchlin) {
  std::string record(200, 'a');
  record[131] = 'z';
  record[132] = 'y';
  use_file(record + "\nnext\n", false);
  kud::RDLINE();
  EXPECT_EQ(RS.LENLIN, 132);
  EXPECT_EQ(RS.LINE[132], 'Z');
  EXPECT_EQ(RS.LINRAW[133], kud::kSentinel);
  kud::RDLINE();
  EXPECT_EQ(line_text(1, RS.LENLIN), "NEXT");
  // LINRAW is blank-padded to NCHLIN after a long record was followed by a short one.
  EXPECT_EQ(std::string(&RS.LINRAW[5], 128), std::string(128, ' '));
}

TEST_F(ReaderTest, FetchReadsWideRecordsWholeAfterRaisingNchlin) {
  std::string record(2100, '7');
  use_file(record + "\n", false);
  kud::RDSET(2048, kud::kSetNchlin);
  kud::RDLINE();
  EXPECT_EQ(RS.LENLIN, 2048);
  EXPECT_EQ(RS.LINE[2049], kud::kSentinel);
}

TEST_F(ReaderTest, FetchFindsTheFirstCharacterAfterAnyRunOfBlanks) {
  // Leading blanks and TABs of every count around the word-wide steps, and up to the last
  // column of the longest line, where the scan must go on column by column; old text after the
  // new record must not be taken for it.
  std::string file;
  std::vector<std::size_t> counts;
  for (std::size_t n = 0; n <= 40; ++n) counts.push_back(n);
  for (std::size_t n = 2030; n < 2048; ++n) counts.push_back(n);
  for (const std::size_t n : counts) {
    std::string blanks(n, ' ');
    for (std::size_t i = 3; i < n; i += 7) blanks[i] = '\t';
    file += std::string(2048, 'w') + "\n" + blanks + "x\n";
  }
  use_file(file, false);
  kud::RDSET(2048, kud::kSetNchlin);
  for (const std::size_t n : counts) {
    SCOPED_TRACE(n);
    kud::RDLINE();  // the record of w's leaves old text in every column
    kud::RDLINE();
    ASSERT_EQ(kud::RDSTAT(), 0);
    EXPECT_EQ(RS.IPOS, static_cast<std::int32_t>(n + 1));
    EXPECT_EQ(RS.LENLIN, static_cast<std::int32_t>(n + 1));
    EXPECT_EQ(line_text(1, RS.LENLIN), std::string(n, ' ') + "X");
  }
}

TEST_F(ReaderTest, EchoShowsEveryRecordReadSkippedOnesToo) {
  use_file("'skip\n\nkeep\n");
  kud::RDSET(test::kReportUnit, kud::kSetLunech);
  kud::RDSET(20, kud::kSetNchlin);
  kud::RDLINE();
  EXPECT_EQ(line_text(1, RS.LENLIN), "KEEP");
  const std::string pad20 = std::string(20, ' ');
  const std::string expected = " 'skip" + std::string(15, ' ') + "\r\n " + pad20 + "\r\n keep" +
                               std::string(16, ' ') + "\r\n";
  EXPECT_EQ(report(), expected);
}

TEST_F(ReaderTest, OneRecordFileEndsQuietlyThenReportsAndStops) {
  use_file("only\n");
  kud::RDLINE();
  EXPECT_EQ(RS.NLINRD, 1);
  kud::RDLINE();
  EXPECT_EQ(kud::RDSTAT(), 0);
  EXPECT_TRUE(kud::RDEOF());
  EXPECT_EQ(RS.NLINRD, 2);
  EXPECT_EQ(line_text(1, RS.LENLIN), "ONLY");  // the previous line stays
  EXPECT_EXIT(kud::RDLINE(), ::testing::ExitedWithCode(0), "");
  // The child flushed the report file before it stopped.
  EXPECT_EQ(test::read_file(report_path()),
            "\r\n *** ERROR DURING READING OF LINE     3  ON UNIT  88\r\n"
            "     ATTEMPT TO READ THROUGH AN END OF FILE\r\n"
            "     (    1 TIMES )\r\n");
}

TEST_F(ReaderTest, EndOfFilePolicyZeroReportsAndReturns) {
  use_file("");
  kud::RDSET(0, kud::kSetMxeof);
  kud::RDLINE();
  EXPECT_EQ(kud::RDSTAT(), kud::kEofStatus);
  kud::RDLINE();
  EXPECT_EQ(kud::RDSTAT(), kud::kEofStatus);
  const auto eof_report = [](char line) {
    return "\r\n *** ERROR DURING READING OF LINE     " + std::string(1, line) +
           "  ON UNIT  88\r\n     ATTEMPT TO READ THROUGH AN END OF FILE\r\n";
  };
  const std::string one = eof_report('1');
  const std::string two = eof_report('2');
  EXPECT_EQ(report(), one + two);
}

TEST_F(ReaderTest, NegativeEndOfFilePolicyReportsWithoutCountAndStops) {
  use_file("");
  kud::RDSET(-1, kud::kSetMxeof);
  EXPECT_EXIT(kud::RDLINE(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::read_file(report_path()),
            "\r\n *** ERROR DURING READING OF LINE     1  ON UNIT  88\r\n"
            "     ATTEMPT TO READ THROUGH AN END OF FILE\r\n");
}

TEST_F(ReaderTest, StoppingAtTheEndOfFileKeepsWhatWasWritten) {
  use_file("");
  kud::io::OpenRequest out;
  const std::string out_path = dir_.file("out.txt");
  out.name = out_path;
  ASSERT_EQ(kud::io::open_unit(90, out), 0);
  ASSERT_EQ(kud::io::write_record(90, "kept record"), 0);
  kud::RDLINE();
  EXPECT_EXIT(kud::RDLINE(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(test::read_file(out_path), "kept record\r\n");
}

TEST_F(ReaderTest, SilentMessageUnitStillStops) {
  use_file("", false);
  kud::RDLINE();
  EXPECT_EQ(kud::RDSTAT(), 0);
  EXPECT_EXIT(kud::RDLINE(), ::testing::ExitedWithCode(0), "^$");
}

TEST_F(ReaderTest, MemoryUnitReportShowsAsterisks) {
  open_report();
  std::int32_t ierr = 0;
  kud::INIFII(kud::kMemoryUnit, test::kReportUnit, ierr);
  kud::RDSET(0, kud::kSetMxeof);
  kud::RDLINE();
  EXPECT_EQ(kud::RDSTAT(), kud::kEofStatus);
  EXPECT_EQ(report(),
            "\r\n *** ERROR DURING READING OF LINE     1  ON UNIT****\r\n"
            "     ATTEMPT TO READ THROUGH AN END OF FILE\r\n");
}

TEST_F(ReaderTest, ReadErrorIsReportedAndTheFetchGoesOn) {
  // A folder's descriptor reads with EISDIR: a real read error from the system.
  open_report();
  ASSERT_EQ(kud::io::attach_unit(test::kInputUnit, ::open(dir_.path().c_str(), O_RDONLY), "folder",
                                 false),
            0);
  std::int32_t ierr = 0;
  kud::INIFII(test::kInputUnit, test::kReportUnit, ierr);
  RS.NLINRD = 6;
  kud::RDLINE();
  EXPECT_EQ(kud::RDSTAT(), -EISDIR);
  char field[4];
  const std::string expected =
      "\r\n *** ERROR DURING READING OF LINE     7  ON UNIT  88\r\n"
      "     IOSTAT =" +
      std::string(kud::int_field(EISDIR, 4, field)) + "\r\n";
  EXPECT_EQ(report(), expected);
}

struct MemoryRow {
  std::string_view text;
  std::vector<std::string> lines;  // the lines delivered, then the end
};

TEST(MemoryText, LinesAreTakenExactlyAsTheMemoryRulesSay) {
  const MemoryRow rows[] = {
      {"ab\ncd\n", {"ab", "cd"}},
      {"ab\ncd", {"ab"}},  // a last line without terminator is not delivered
      {std::string_view("ab\0cd\n", 6), {"ab"}},
      {"\nxy\n", {"\nxy"}},  // no line is delivered twice
      {"a\n\n\nb\n", {"a", " ", "b"}},
      {"a\n\nb\n", {"a", "\nb"}},  // a line begins with its first character, whatever it is
      {"", {}},
  };
  for (const MemoryRow& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::string(row.text)));
    kud::reset_reader_state();
    std::memcpy(&RS.MEMTXT[1], row.text.data(), row.text.size());
    RS.MEMLEN = static_cast<std::int32_t>(row.text.size());
    std::vector<std::string> got;
    char buffer[8];
    std::int32_t flag = 0;
    for (int guard = 0; guard < 10; ++guard) {
      kud::RDMEM(buffer, 8, flag);
      if (flag != 0) break;
      std::string line(buffer, 8);
      line.erase(line.find_last_not_of(' ') + 1);
      got.push_back(line.empty() ? " " : line);
    }
    EXPECT_EQ(flag, kud::kMemNoLine);
    EXPECT_EQ(got, row.lines);
  }
}

TEST_F(ReaderTest, MemoryTextFeedsTheFetch) {
  use_memory("  one 1\n! comment\ntwo\n");
  kud::RDLINE();
  EXPECT_EQ(line_text(RS.IPOS, RS.LENLIN), "ONE 1");
  kud::RDLINE();
  EXPECT_EQ(line_text(RS.IPOS, RS.LENLIN), "TWO");
  EXPECT_EQ(RS.NLINRD, 3);
  kud::RDLINE();
  EXPECT_TRUE(kud::RDEOF());
}

// What one fetch leaves: the working line up to its sentinel, the cursor and the status.
struct Fetched {
  std::int32_t istat = 0;
  std::int32_t ipos = 0;
  std::int32_t lenlin = 0;
  std::string line;
};

TEST_F(ReaderTest, WideAndNarrowLineBuildingAgree) {
  // Records of every length around the chunk sizes and up to past the longest line, built from
  // bytes that the building treats apart: blanks, TABs, letters of both cases, the comment
  // character, the bytes next to a..z, high bytes. Each file is fetched 32 and 16 columns at a
  // time, folded and not, with "!" and "#" as the comment character.
  const std::string_view bytes[] = {" ", " ", "  ", "\t", "a",    "z",    "A", "`", "{",
                                    "1", ".", "!",  "#",  "\xE1", "\xFF", "x", "Q"};
  std::mt19937 random(77);
  std::string file;
  for (int record = 0; record < 600; ++record) {
    const std::size_t target =
        record < 80 ? static_cast<std::size_t>(record) : static_cast<std::size_t>(random() % 2100);
    std::string text;
    while (text.size() < target) text += bytes[random() % std::size(bytes)];
    file += text;
    file += '\n';
  }
  file += "1";  // the last record always holds something
  for (const bool fold : {true, false}) {
    for (const char comment : {'!', '#'}) {
      std::vector<Fetched> runs[2];
      for (const bool wide : {true, false}) {
        TearDown();
        SetUp();
        use_file(file, false);
        RS.IUPCAS = fold ? 1 : 0;
        RS.CHCMT = comment;
        RS.MXEOF = 1;  // the end of the file returns instead of stopping the program
        kud::use_wide_fetch(wide);
        for (;;) {
          kud::RDLINE();
          if (kud::RDEOF()) break;
          Fetched one;
          one.istat = kud::RDSTAT();
          one.ipos = RS.IPOS;
          one.lenlin = RS.LENLIN;
          one.line = line_text(1, RS.LENLIN + 1);
          runs[wide ? 0 : 1].push_back(one);
        }
      }
      kud::use_wide_fetch(true);
      ASSERT_EQ(runs[0].size(), runs[1].size());
      ASSERT_GT(runs[0].size(), 300u);
      for (std::size_t i = 0; i < runs[0].size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(runs[0][i].istat, runs[1][i].istat);
        EXPECT_EQ(runs[0][i].ipos, runs[1][i].ipos);
        EXPECT_EQ(runs[0][i].lenlin, runs[1][i].lenlin);
        ASSERT_EQ(runs[0][i].line, runs[1][i].line);
      }
    }
  }
}

}  // namespace
