#pragma once
// What the simulated TMV540 stores: its calibration constants and its settings, each with the
// value a factory reset gives and the value this particular simulated instrument holds.
#include <string>
#include <vector>

namespace sim {

// A stored item, named as its query names it without the "?": "$afs 1", "$hbt", "GDES 12", "GPMU".
struct StoredItem {
  std::string key;
  std::string mnemonic;  // "$afs", "GDES"
  int argument = -1;     // -1: the item takes no argument
  std::string factory;   // after a factory reset
  std::string current;   // what this simulated instrument holds before any update
  bool fitted = true;    // false: hardware not fitted; its query answers "nothing to store"
  bool numeric = false;  // a value written to it must be a number
};

// The 38 calibration constants, in the order the updater queries them.
const std::vector<StoredItem>& CalibrationItems();

// The 226 settings, in the order the updater queries them.
const std::vector<StoredItem>& SettingItems();

// The stored item a command names, or nullptr. `mnemonic` as sent ("$afs", "GDES").
const StoredItem* FindCalibration(const std::string& mnemonic, int argument);
const StoredItem* FindSetting(const std::string& mnemonic, int argument);

// Whether the mnemonic names items that take an argument; false for unknown mnemonics too.
bool CalibrationTakesArgument(const std::string& mnemonic);
bool SettingTakesArgument(const std::string& mnemonic);

std::string ItemKey(const std::string& mnemonic, int argument);

}  // namespace sim
