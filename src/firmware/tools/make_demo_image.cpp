// Writes the eight demonstration firmware files that stand in for the instrument's own when the
// program is built without them. They have the real layout and valid check values, but their
// payload is pseudo-random, so the notice line says plainly what they are.
// Usage: make_demo_image <folder>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>
#include <vector>

#include "firmware/crc16_xmodem.h"
#include "firmware/image_layout.h"

namespace {
using namespace firmware_layout;

constexpr std::string_view DemoNotice = "Demonstration image, not instrument firmware: do not install it\n";
static_assert(DemoNotice.size() == Line3Size);

std::vector<std::uint8_t> DemoFile(int number) {
  std::vector<std::uint8_t> file;
  file.reserve(FirmwareFileSize);
  for (std::string_view line : {Line1, Line2, DemoNotice}) file.insert(file.end(), line.begin(), line.end());
  file.insert(file.end(), std::begin(PreambleEnd), std::end(PreambleEnd));

  // A fixed linear congruential generator seeded by the file number keeps the files reproducible;
  // its top byte takes every value, including the ones a non-transparent serial link would eat.
  std::uint32_t state = static_cast<std::uint32_t>(number);
  for (std::size_t i = 0; i < PayloadSize; ++i) {
    state = state * 1664525u + 1013904223u;
    file.push_back(static_cast<std::uint8_t>(state >> 24));
  }

  const std::uint16_t check = Crc16Xmodem(file.data() + PayloadOffset, PayloadSize);
  file.push_back(static_cast<std::uint8_t>(check >> 8));
  file.push_back(static_cast<std::uint8_t>(check & 0xFF));
  return file;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_demo_image <folder>\n";
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::cerr << "make_demo_image: cannot create " << folder.string() << ": " << error.message() << "\n";
    return 1;
  }
  for (int k = 1; k <= FirmwareFileCount; ++k) {
    const auto path = folder / FileName(k);
    const auto file = DemoFile(k);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    out.close();
    if (!out) {
      std::cerr << "make_demo_image: cannot write " << path.string() << "\n";
      return 1;
    }
  }
  std::cout << "make_demo_image: wrote " << FirmwareFileCount << " demonstration files to " << folder.string() << "\n";
  return 0;
}
