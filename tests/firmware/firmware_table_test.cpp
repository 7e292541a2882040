// The table through which the worker reaches each file.
#include <gtest/gtest.h>

#include "firmware/firmware.h"

namespace {

// The only test that fills the table, so in its own process it sees the table as the program starts:
// all zero.
TEST(FirmwareTableTest, IsZeroUntilFilledThenIndexesEachFileOfTheImage) {
  for (const auto& entry : FirmwareTable) {
    EXPECT_EQ(entry.start, nullptr);
    EXPECT_EQ(entry.length, 0u);
  }

  for (int fill = 1; fill <= 2; ++fill) {  // every worker start fills it again with the same values
    FillFirmwareTable();
    for (int k = 1; k <= 8; ++k) {
      EXPECT_EQ(FirmwareTable[k].start, FirmwareImage + (k - 1) * 65648) << "file " << k << ", fill " << fill;
      EXPECT_EQ(FirmwareTable[k].length, 65648u) << "file " << k << ", fill " << fill;
    }
    EXPECT_EQ(FirmwareTable[0].start, nullptr);
    EXPECT_EQ(FirmwareTable[8].start + FirmwareTable[8].length, FirmwareImage + 525184);
  }
}

}  // namespace
