#pragma once
// The simulated instrument's memory: what survives power cycles and what an update must carry
// across. Calibration lives twice: the working copy in battery-backed RAM, which the queries read
// and the commands write, and the copy in flash that "$sef" saves. When the battery-backed RAM is
// invalid (after "$ibr" or new firmware), the next power-on reloads the calibration and serial
// number from flash and resets the settings to their factory values.
#include <array>
#include <map>
#include <string>

namespace sim {

using Values = std::map<std::string, std::string>;  // key ("$afs 1", "GDES 12") -> value text

struct Memory {
  std::string serial_number;
  Values calibration;
  Values settings;
  bool ram_valid = true;

  std::string saved_serial_number;  // in flash
  Values saved_calibration;         // in flash

  std::string firmware_version;            // "092"
  std::string build_stamp;                 // "02/11/01 09:30"
  std::string download_date;               // "15Nov02", set by FDAT
  std::array<std::string, 8> flash_files;  // digest of each firmware file's payload

  bool operator==(const Memory&) const = default;
};

// The instrument every simulator starts as unless told otherwise: serial number 12345, firmware
// 092, and the calibration and settings of the item tables.
Memory DefaultMemory();

// Values at a factory reset.
Values FactoryCalibration();
Values FactorySettings();

// The digest the loader keeps of a programmed payload: FNV-1a 64, 16 hex digits.
std::string PayloadDigest(const unsigned char* data, std::size_t size);

}  // namespace sim
