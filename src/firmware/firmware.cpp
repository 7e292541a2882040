#include "firmware/firmware.h"

#include <cstddef>

// Static storage starts zeroed, so the table is empty until the first worker fills it.
FirmwareTableEntry FirmwareTable[FirmwareFileCount + 1];

void FillFirmwareTable() {
  for (int k = 1; k <= FirmwareFileCount; ++k)
    FirmwareTable[k] = {FirmwareImage + static_cast<std::size_t>(k - 1) * FirmwareFileSize, FirmwareFileSize};
}
