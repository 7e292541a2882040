#include "memory.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "tables.h"

namespace sim {
namespace {

Values Collect(const std::vector<StoredItem>& items, bool factory) {
  Values values;
  for (const StoredItem& item : items) values[item.key] = factory ? item.factory : item.current;
  return values;
}

}  // namespace

Values FactoryCalibration() { return Collect(CalibrationItems(), true); }
Values FactorySettings() { return Collect(SettingItems(), true); }

std::string PayloadDigest(const unsigned char* data, std::size_t size) {
  std::uint64_t hash = 14695981039346656037ull;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

Memory DefaultMemory() {
  Memory memory;
  memory.serial_number = "12345";
  memory.calibration = Collect(CalibrationItems(), false);
  memory.settings = Collect(SettingItems(), false);
  memory.saved_serial_number = memory.serial_number;
  memory.saved_calibration = memory.calibration;
  memory.firmware_version = "092";
  memory.build_stamp = "02/11/01 09:30";
  memory.download_date = "15Nov02";
  // The installed firmware's payloads: file k filled with the byte k, enough to tell them apart.
  for (int k = 0; k < 8; ++k) {
    std::vector<unsigned char> payload(65536, static_cast<unsigned char>(k + 1));
    memory.flash_files[k] = PayloadDigest(payload.data(), payload.size());
  }
  return memory;
}

}  // namespace sim
