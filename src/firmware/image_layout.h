#pragma once
// Where each part of a firmware file lies. The program sends the files untouched; the image tools
// and the tests use these offsets to build and check them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "firmware/firmware.h"

namespace firmware_layout {

inline constexpr std::string_view Line1 = "*TMV540 03/06/02 14:51\n";
inline constexpr std::string_view Line2 = "Firmware update file\n";
inline constexpr std::size_t Line3Offset = 44;
inline constexpr std::size_t Line3Size = 64;  // 63 characters of notice text and a line feed
inline constexpr std::size_t PreambleSize = 108;
inline constexpr std::size_t PreambleEndOffset = 108;
inline constexpr std::uint8_t PreambleEnd[2] = {0x1B, 0x42};  // ESC B
inline constexpr std::size_t PayloadOffset = 110;
inline constexpr std::size_t PayloadSize = 65536;
inline constexpr std::size_t CheckOffset = PayloadOffset + PayloadSize;  // most significant byte first

static_assert(Line1.size() + Line2.size() == Line3Offset);
static_assert(Line3Offset + Line3Size == PreambleSize);
static_assert(CheckOffset + 2 == FirmwareFileSize);
// Line 1 carries the build stamp that FirmwareVersion names; the two must never drift apart.
static_assert(Line1.substr(8, 14) == std::string_view(FirmwareVersion).substr(4, 14));

// File k of the image, as the loader asks for it: TMV54001.bin to TMV54008.bin.
inline std::string FileName(int number) { return "TMV5400" + std::to_string(number) + ".bin"; }

}  // namespace firmware_layout
