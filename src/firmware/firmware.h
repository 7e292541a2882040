#pragma once
// The replacement firmware the program carries: eight files held one after another as constant
// data, the table through which the worker reaches them, and the text that names this version.
#include <cstdint>

inline constexpr int FirmwareFileCount = 8;
inline constexpr std::uint32_t FirmwareFileSize = 65648;

struct FirmwareTableEntry {
  const std::uint8_t* start;
  std::uint32_t length;
};

// The eight files, 525,184 bytes; linked in from the build's checked image files.
extern "C" const std::uint8_t FirmwareImage[];

// Entries 1 to 8 by file number; entry 0 is unused. All zero until the first worker fills it.
extern FirmwareTableEntry FirmwareTable[FirmwareFileCount + 1];

// Fills FirmwareTable; every worker does so when it starts.
void FillFirmwareTable();

inline constexpr char FirmwareVersion[] = "093 03/06/02 14:51";

// The build carries the demonstration image, which must never reach an instrument.
inline constexpr bool FirmwareIsDemonstration = TMV_DEMONSTRATION_IMAGE;
