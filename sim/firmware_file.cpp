#include "firmware_file.h"

#include <cstring>

#include "firmware/crc16_xmodem.h"

namespace sim {
namespace {

constexpr std::string_view Line2 = "Firmware update file\n";
constexpr std::size_t StampOffset = 8;
constexpr std::size_t StampSize = 14;
constexpr std::size_t Line2Offset = 23;
constexpr std::size_t Line3Offset = 44;
constexpr std::size_t PreambleEnd = 108;

std::string_view Text(const unsigned char* data, std::size_t offset, std::size_t size) {
  return {reinterpret_cast<const char*>(data) + offset, size};
}

}  // namespace

FileCheck CheckFirmwareFile(const unsigned char* data, std::size_t size) {
  FileCheck check;
  if (size != FileSize) {
    check.problem = "size " + std::to_string(size) + " instead of " + std::to_string(FileSize);
  } else if (Text(data, 0, FileStart.size()) != FileStart || data[StampOffset + StampSize] != '\n') {
    check.problem = "preamble line 1 is not \"*TMV540 <stamp>\"";
  } else if (Text(data, Line2Offset, Line2.size()) != Line2) {
    check.problem = "preamble line 2 is not \"Firmware update file\"";
  } else if (data[PreambleEnd - 1] != '\n') {
    check.problem = "preamble line 3 does not end with a line feed";
  } else if (data[PreambleEnd] != 0x1B || data[PreambleEnd + 1] != 'B') {
    check.problem = "no ESC B after the preamble";
  } else if (Crc16Xmodem(data + PayloadOffset, PayloadSize + 2) != 0) {
    check.problem = "CRC-16 check failed";
  } else {
    check.ok = true;
    check.stamp = std::string(Text(data, StampOffset, StampSize));
  }
  return check;
}

std::vector<unsigned char> MakeFirmwareFile(int number, std::string_view stamp) {
  std::vector<unsigned char> file(FileSize, 0);
  std::string line1 = std::string(FileStart) + std::string(stamp.substr(0, StampSize)) + "\n";
  std::string line3 = "Simulated TMV540 firmware file " + std::to_string(number);
  line3.resize(63, '.');
  line3 += '\n';
  std::memcpy(file.data(), line1.data(), line1.size());
  std::memcpy(file.data() + Line2Offset, Line2.data(), Line2.size());
  std::memcpy(file.data() + Line3Offset, line3.data(), line3.size());
  file[PreambleEnd] = 0x1B;
  file[PreambleEnd + 1] = 'B';
  for (std::size_t i = 0; i < PayloadSize; ++i)
    file[PayloadOffset + i] = static_cast<unsigned char>((i * 7 + i / 256 + number * 31) & 0xFF);
  std::uint16_t crc = Crc16Xmodem(file.data() + PayloadOffset, PayloadSize);
  file[CheckOffset] = static_cast<unsigned char>(crc >> 8);
  file[CheckOffset + 1] = static_cast<unsigned char>(crc & 0xFF);
  return file;
}

}  // namespace sim
