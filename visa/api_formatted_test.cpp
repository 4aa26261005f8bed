// Formatted I/O: viPrintf, viScanf and viQueryf with C's conversions and VISA's arrays and binary blocks,
// against the simulated instruments, and the same formats on strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "visa/testing/session_helpers.h"
#include "visa/testing/test_files.h"
#include "visa/visa.h"

namespace pgx::visa {
namespace {

using testing::ResourceManager;

class VisaFormattedIo : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(rm.status(), VI_SUCCESS);
    ASSERT_EQ(viOpen(rm, "GPIB0::10::INSTR", VI_NULL, 2500, &vi), VI_SUCCESS);
  }

  testing::ScopedEnv default_bench_{"PGX_VISA_BENCH", ""};
  ResourceManager rm;
  ViSession vi = VI_NULL;
};

TEST_F(VisaFormattedIo, PrintingFollowsCAndVisasConversions) {
  char buf[512];
  const ViInt16 shorts[3] = {1, -2, 300};
  const ViReal64 doubles[2] = {0.5, -1.25};
  const ViByte bytes[3] = {'a', 0, 'z'};
  const ViUInt16 words[2] = {0x0102, 0xA0B0};
  ASSERT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%d|%5.2f|%-4s|%x|%c|%%|%lld", -7, 3.14159, "ab",
                      255, 'Q', 1LL << 40),
            VI_SUCCESS);
  EXPECT_STREQ(buf, "-7| 3.14|ab  |ff|Q|%|1099511627776");
  ASSERT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%*d|%.*f", 4, 9, 1, 2.25), VI_SUCCESS);
  EXPECT_STREQ(buf, "   9|2.2");
  // Arrays: comma-separated, the count in the format or as an argument.
  ASSERT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%,3hd;%,*lf", shorts, 2, doubles), VI_SUCCESS);
  EXPECT_STREQ(buf, "1,-2,300;0.500000,-1.250000");
  // Blocks: an IEEE 488.2 definite length block, big endian unless asked otherwise; %y without the header.
  ASSERT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%3b", bytes), VI_SUCCESS);
  EXPECT_EQ(std::string(buf, 6), std::string("#13a\0z", 6));
  ASSERT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%2hb", words), VI_SUCCESS);
  EXPECT_EQ(std::string(buf, 7), std::string("#14\x01\x02\xA0\xB0", 7));
  ASSERT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%2!olhy", words), VI_SUCCESS);
  EXPECT_EQ(std::string(buf, 4), std::string("\x02\x01\xB0\xA0", 4));
  EXPECT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%", 1), VI_ERROR_INV_FMT);
  EXPECT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%,3s", "x"), VI_ERROR_NSUP_FMT);
  EXPECT_EQ(viSPrintf(vi, reinterpret_cast<ViPBuf>(buf), "%w", 1), VI_ERROR_NSUP_FMT);
}

TEST_F(VisaFormattedIo, ScanningTakesNumbersTextArraysAndBlocks) {
  int i = 0;
  double d = 0;
  char word[32] = "", rest[64] = "";
  ASSERT_EQ(viSScanf(vi, reinterpret_cast<ViConstBuf>(" 42, -1.5e3 volts and more"), "%d,%lf%s%t", &i, &d,
                     word, rest),
            VI_SUCCESS);
  EXPECT_EQ(i, 42);
  EXPECT_EQ(d, -1500.0);
  EXPECT_STREQ(word, "volts");
  EXPECT_STREQ(rest, " and more");
  ViInt32 values[4] = {};
  int count = 4;
  ASSERT_EQ(viSScanf(vi, reinterpret_cast<ViConstBuf>("1,2,3"), "%,#d", &count, values), VI_SUCCESS);
  EXPECT_EQ(count, 3);  // fewer than room for
  EXPECT_EQ(values[2], 3);
  ViUInt16 words[2] = {};
  count = 2;
  ASSERT_EQ(viSScanf(vi, reinterpret_cast<ViConstBuf>("#14\x01\x02\xA0\xB0"), "%#hb", &count, words),
            VI_SUCCESS);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(words[0], 0x0102);
  EXPECT_EQ(words[1], 0xA0B0);
  // A buffer size given with "#" bounds the text stored.
  char small[4];
  count = sizeof small;
  ASSERT_EQ(viSScanf(vi, reinterpret_cast<ViConstBuf>("abcdefgh"), "%#s", &count, small), VI_SUCCESS);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(viSScanf(vi, reinterpret_cast<ViConstBuf>("abc"), "%d", &i), VI_ERROR_INV_FMT);  // no number
  EXPECT_EQ(viSScanf(vi, reinterpret_cast<ViConstBuf>("1;2"), "%d,%d", &i, &i), VI_ERROR_INV_FMT);
}

TEST_F(VisaFormattedIo, QueriesToTheInstrument) {
  char identity[256] = "";
  ASSERT_EQ(viQueryf(vi, "*IDN?\n", "%t", identity), VI_SUCCESS);
  EXPECT_EQ(std::string(identity).find("PGX Instruments,Q500A,DE51000010"), 0u);
  ASSERT_EQ(viPrintf(vi, ":TRIG:COUN %d\n", 37), VI_SUCCESS);
  int count = 0;
  ASSERT_EQ(viQueryf(vi, ":TRIG:COUN?\n", "%d", &count), VI_SUCCESS);
  EXPECT_EQ(count, 37);
  // Without a newline at its end the text waits in the write buffer for more.
  ASSERT_EQ(viPrintf(vi, "*ESE %d", 4), VI_SUCCESS);
  ASSERT_EQ(viPrintf(vi, ";*ESE?\n"), VI_SUCCESS);
  int enable = 0;
  ASSERT_EQ(viScanf(vi, "%d", &enable), VI_SUCCESS);
  EXPECT_EQ(enable, 4);
  ASSERT_EQ(viSetAttribute(vi, VI_ATTR_TMO_VALUE, 100), VI_SUCCESS);
  char nothing[8];
  EXPECT_EQ(viScanf(vi, "%d%s", &enable, nothing), VI_ERROR_TMO);  // nothing more to read
}

}  // namespace
}  // namespace pgx::visa
