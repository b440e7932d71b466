#include <string>

#include "kud/reader/line_fetch.hpp"
#include "kud/reader/reader_state.hpp"
#include "reader_fixture.hpp"

namespace {

using kud::RS;
using test::ReaderTest;

TEST_F(ReaderTest, InifiiSetsTheReaderDefaults) {
  use_file("first\n");
  EXPECT_EQ(RS.NCHLIN, 132);
  EXPECT_EQ(RS.NCMTCH, 8);
  EXPECT_EQ(RS.MXEOF, 1);
  EXPECT_EQ(RS.IUPCAS, 1);
  EXPECT_EQ(RS.CHCOL1, '\'');
  EXPECT_EQ(RS.CHCMT, '!');
  EXPECT_EQ(RS.CHBLNK, ' ');
  EXPECT_EQ(RS.CHDELM, ',');
  EXPECT_EQ(RS.NLINRD, 0);
  EXPECT_EQ(RS.NEOF, 0);
  EXPECT_EQ(RS.ISTAT, 0);
  EXPECT_EQ(RS.LUNRD, test::kInputUnit);
  EXPECT_EQ(RS.LUNMSG, test::kReportUnit);
  EXPECT_EQ(RS.LUNECH, -test::kReportUnit);
  EXPECT_EQ(std::string(&RS.ALPUPP[1], 26), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(std::string(&RS.TXTITM[1], 32), std::string(32, ' '));
  EXPECT_FALSE(kud::RDEOF());
  // The unit is at its first record.
  kud::RDLINE();
  EXPECT_EQ(test::line_text(1, RS.LENLIN), "FIRST");
}

TEST_F(ReaderTest, InifiiRejectsUnitsThatAreNotAFileOrTheMemoryText) {
  open_report();
  RS.NCHLIN = 77;  // a record that must stay untouched
  for (const std::int32_t unit : {0, -1, -4320, -4322}) {
    SCOPED_TRACE(unit);
    std::int32_t ierr = 3;
    kud::INIFII(unit, test::kReportUnit, ierr);
    EXPECT_EQ(ierr, 2);
    EXPECT_EQ(RS.NCHLIN, 77);
    EXPECT_EQ(RS.LUNRD, 0);
  }
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "\r\n  *** ERROR IN INIFII ***\r\n";
  EXPECT_EQ(report(), expected);
}

TEST_F(ReaderTest, InifiiAcceptsTheMemoryText) {
  std::int32_t ierr = 0;
  RS.MEMPOS = 5;
  RS.MEMEND = 9;
  kud::INIFII(kud::kMemoryUnit, -6, ierr);
  EXPECT_EQ(ierr, 0);
  EXPECT_EQ(RS.LUNRD, kud::kMemoryUnit);
  EXPECT_EQ(RS.MEMPOS, 0);
  EXPECT_EQ(RS.MEMEND, 0);
  // The memory text is empty: the first fetch meets the end quietly.
  kud::RDLINE();
  EXPECT_EQ(kud::RDSTAT(), 0);
  EXPECT_TRUE(kud::RDEOF());
}

TEST_F(ReaderTest, InifiiWithConsoleZeroSendsMessagesAndEchoToStandardOutput) {
  std::int32_t ierr = 0;
  kud::INIFII(kud::kMemoryUnit, 0, ierr);
  EXPECT_EQ(RS.LUNMSG, 0);
  EXPECT_EQ(RS.LUNECH, 0);
  kud::INIFII(kud::kMemoryUnit, -9, ierr);
  EXPECT_EQ(RS.LUNMSG, -9);
  EXPECT_EQ(RS.LUNECH, -9);
}

TEST_F(ReaderTest, RdinitRejectsIllegalParametersWithItsReport) {
  // The first set-up reports on the unit in force before it: here the report file.
  open_report();
  RS.LUNMSG = test::kReportUnit;
  std::int32_t ierr = 0;
  kud::RDINIT(2049, 8, 88, 6, -6, ierr);
  EXPECT_EQ(ierr, -1);
  EXPECT_EQ(RS.NCHLIN, 0);  // nothing changed
  EXPECT_EQ(RS.LUNMSG, test::kReportUnit);
  kud::RDINIT(100, 0, 88, 6, -6, ierr);
  EXPECT_EQ(ierr, -1);
  EXPECT_EQ(RS.NCHLIN, 100);  // passed its check before the failing one
  EXPECT_EQ(RS.NCMTCH, 0);
  kud::RDINIT(132, 8, -7, 6, -6, ierr);
  EXPECT_EQ(ierr, -1);
  EXPECT_EQ(RS.NCMTCH, 8);
  EXPECT_EQ(RS.LUNRD, 0);
  const std::string head = "\r\n\r\n\r\n *** ERROR RETURN FROM  K U D  LIBRARY ROUTINE FIIOPN\r\n";
  const std::string pad(29, ' ');
  const std::string expected = head + "     ILLEGAL PARAMETER(S) :  NCHLIN = 2049\r\n" + pad +
                               "NCMTCH =    8\r\n" + pad + "LUNRD  =   88\r\n" + head +
                               "     ILLEGAL PARAMETER(S) :  NCHLIN =  100\r\n" + pad +
                               "NCMTCH =    0\r\n" + pad + "LUNRD  =   88\r\n" + head +
                               "     ILLEGAL PARAMETER(S) :  NCHLIN =  132\r\n" + pad +
                               "NCMTCH =    8\r\n" + pad + "LUNRD  =   -7\r\n";
  EXPECT_EQ(report(), expected);
}

TEST_F(ReaderTest, RdinitReportIsSilentForANegativeMessageUnit) {
  open_report();
  RS.LUNMSG = -1;
  std::int32_t ierr = 0;
  kud::RDINIT(0, 8, 88, 6, -6, ierr);
  EXPECT_EQ(ierr, -1);
  EXPECT_EQ(report(), "");
}

TEST_F(ReaderTest, RdsetAppliesItsRulesAndIgnoresUnknownCodes) {
  use_memory("");
  struct Row {
    std::int32_t value, code, get_code, expected;
  };
  const Row rows[] = {
      {5000, kud::kSetNchlin, kud::kGetNchlin, 2048},
      {2048, kud::kSetNchlin, kud::kGetNchlin, 2048},
      {0, kud::kSetNchlin, kud::kGetNchlin, 1},
      {-5, kud::kSetNchlin, kud::kGetNchlin, 1},
      {40, kud::kSetNchlin, kud::kGetNchlin, 40},
      {0, kud::kSetNcmtch, kud::kGetNcmtch, 1},
      {-3, kud::kSetNcmtch, kud::kGetNcmtch, 1},
      {5, kud::kSetNcmtch, kud::kGetNcmtch, 5},
      {0, kud::kSetIupcas, kud::kGetIupcas, 0},
      {-2, kud::kSetMxeof, kud::kGetMxeof, -2},
      {12, kud::kSetLunrd, kud::kGetLunrd, 12},
      {13, kud::kSetLunmsg, kud::kGetLunmsg, 13},
      {14, kud::kSetLunech, kud::kGetLunech, 14},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    kud::RDSET(row.value, row.code);
    EXPECT_EQ(kud::RDGET(row.get_code), row.expected);
  }
  kud::RDSET(7, 13);
  EXPECT_EQ(RS.NEOF, 7);
  struct {
    std::int32_t nchlin, ncmtch, iupcas, mxeof;
  } before{RS.NCHLIN, RS.NCMTCH, RS.IUPCAS, RS.MXEOF};
  kud::RDSET(7, 4);  // no such code
  kud::RDSET(7, 0);
  EXPECT_EQ(before.nchlin, RS.NCHLIN);
  EXPECT_EQ(before.ncmtch, RS.NCMTCH);
  EXPECT_EQ(before.iupcas, RS.IUPCAS);
  EXPECT_EQ(before.mxeof, RS.MXEOF);
}

TEST_F(ReaderTest, RdgetAnswersByCodeAndZeroForUnknownCodes) {
  use_memory("");
  RS.IPOS = 3;
  RS.LENLIN = 9;
  RS.NLINRD = 4;
  EXPECT_EQ(kud::RDGET(1), 3);
  EXPECT_EQ(kud::RDGET(2), 132);
  EXPECT_EQ(kud::RDGET(3), 8);
  EXPECT_EQ(kud::RDGET(4), 1);
  EXPECT_EQ(kud::RDGET(5), kud::kMemoryUnit);
  EXPECT_EQ(kud::RDGET(6), -1);
  EXPECT_EQ(kud::RDGET(7), -1);
  EXPECT_EQ(kud::RDGET(8), 1);
  EXPECT_EQ(kud::RDGET(9), 4);
  EXPECT_EQ(kud::RDGET(10), 9);
  EXPECT_EQ(kud::RDGET(11), 0);
  EXPECT_EQ(kud::RDGET(0), 0);
}

TEST_F(ReaderTest, RdeofFollowsTheEndOfFileCountAndItsReset) {
  use_file("only\n");
  EXPECT_FALSE(kud::RDEOF());
  kud::RDLINE();
  EXPECT_FALSE(kud::RDEOF());
  kud::RDLINE();
  EXPECT_TRUE(kud::RDEOF());
  kud::RDSET(0, kud::kSetNeof);
  EXPECT_FALSE(kud::RDEOF());
  kud::RDCOL1("#x");
  EXPECT_EQ(RS.CHCOL1, '#');
  kud::RDCOL1("");
  EXPECT_EQ(RS.CHCOL1, '#');
}

TEST_F(ReaderTest, RewindStartsAgainButKeepsTheCounters) {
  use_file("one\ntwo\n");
  kud::RDLINE();
  kud::RDLINE();
  EXPECT_EQ(test::line_text(1, RS.LENLIN), "TWO");
  kud::RDREW();
  kud::RDLINE();
  EXPECT_EQ(test::line_text(1, RS.LENLIN), "ONE");
  EXPECT_EQ(RS.NLINRD, 3);
}

TEST_F(ReaderTest, CountersSaturateInsteadOfOverflowing) {
  std::int32_t counter = kud::kMaxCount - 1;
  kud::count_up(counter);
  EXPECT_EQ(counter, kud::kMaxCount);
  kud::count_up(counter);
  EXPECT_EQ(counter, kud::kMaxCount);
  use_file("x\n");
  RS.NLINRD = kud::kMaxCount;
  kud::RDLINE();
  EXPECT_EQ(RS.NLINRD, kud::kMaxCount);
  RS.NEOF = kud::kMaxCount;
  RS.MXEOF = 0;
  kud::RDLINE();
  EXPECT_EQ(RS.NEOF, kud::kMaxCount);
  EXPECT_EQ(RS.ISTAT, kud::kEofStatus);
}

}  // namespace
