// The image as linked into the program: every file whole, in order, with its preamble and a
// check value that matches its payload.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

#include "firmware/crc16_xmodem.h"
#include "firmware/firmware.h"
#include "firmware/image_layout.h"

namespace {
using namespace firmware_layout;

const std::uint8_t* EmbeddedFile(int number) { return FirmwareImage + (number - 1) * FirmwareFileSize; }

class EmbeddedFileTest : public testing::TestWithParam<int> {};

TEST_P(EmbeddedFileTest, CheckValueMatchesPayload) {
  const std::uint8_t* file = EmbeddedFile(GetParam());
  const std::uint16_t stored = static_cast<std::uint16_t>(file[CheckOffset] << 8 | file[CheckOffset + 1]);
  EXPECT_EQ(Crc16Xmodem(file + PayloadOffset, PayloadSize), stored);
  EXPECT_EQ(Crc16Xmodem(file + PayloadOffset, PayloadSize + 2), 0);
}

TEST_P(EmbeddedFileTest, SharesFirstFilesPreambleAndEndsItWithEscB) {
  const std::uint8_t* file = EmbeddedFile(GetParam());
  EXPECT_TRUE(std::equal(file, file + PreambleSize, EmbeddedFile(1)));
  EXPECT_EQ(file[108], 0x1B);
  EXPECT_EQ(file[109], 0x42);
}

// The linked image must be the checked files themselves, in file order and without padding.
TEST_P(EmbeddedFileTest, EqualsTheFileInTheImageFolder) {
  const auto path = std::filesystem::path(TMV_IMAGE_DIR) / FileName(GetParam());
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> onDisk{std::istreambuf_iterator<char>(in), {}};
  ASSERT_EQ(onDisk.size(), FirmwareFileSize) << path;
  EXPECT_TRUE(std::equal(onDisk.begin(), onDisk.end(), EmbeddedFile(GetParam()))) << path;
}

INSTANTIATE_TEST_SUITE_P(AllFiles, EmbeddedFileTest, testing::Range(1, FirmwareFileCount + 1));

TEST(FirmwareVersionTest, NamesTheBuildStampOfPreambleLine1) {
  const std::string_view line1(reinterpret_cast<const char*>(FirmwareImage), 23);
  EXPECT_EQ(line1, "*TMV540 03/06/02 14:51\n");
  EXPECT_EQ(std::string_view(FirmwareVersion).substr(4, 14), line1.substr(8, 14));
}

}  // namespace
