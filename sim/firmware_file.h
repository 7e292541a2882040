#pragma once
// The firmware file as the loader takes it: a 108-byte text preamble closed by ESC B, 65,536
// payload bytes and their CRC-16/XMODEM, most significant byte first.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

inline constexpr std::size_t FileSize = 65648;
inline constexpr std::size_t PayloadOffset = 110;
inline constexpr std::size_t PayloadSize = 65536;
inline constexpr std::size_t CheckOffset = PayloadOffset + PayloadSize;
inline constexpr std::string_view FileStart = "*TMV540 ";  // what the loader waits for

struct FileCheck {
  bool ok = false;
  std::string stamp;    // the build stamp of preamble line 1, when the preamble is sound
  std::string problem;  // why the file was refused
};

FileCheck CheckFirmwareFile(const unsigned char* data, std::size_t size);

// A well-formed file `number` (1 to 8) with the given build stamp (14 characters) and a payload
// of its own that holds every byte value, the flow-control and line-end characters included.
std::vector<unsigned char> MakeFirmwareFile(int number, std::string_view stamp = "03/06/02 14:51");

}  // namespace sim
