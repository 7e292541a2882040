#include "commands.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "tables.h"

namespace sim {
namespace {

std::string Trim(const std::string& text) {
  auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Cased(std::string text, bool upper) {
  for (char& c : text)
    c = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                : std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Printable(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

bool IsNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  return *end == '\0' && std::isfinite(value);
}

// -1 for an empty argument, -2 for one that is not a plain number.
int Argument(const std::string& text) {
  if (text.empty()) return -1;
  if (text.size() > 3) return -2;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return -2;
  return std::atoi(text.c_str());
}

bool IsDate(const std::string& text) {  // ddmmmyy
  if (text.size() != 7) return false;
  for (int i : {0, 1, 5, 6})
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  for (int i : {2, 3, 4})
    if (!std::isalpha(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

int IndexOf(const std::vector<StoredItem>& items, const StoredItem* item) { return int(item - items.data()); }

}  // namespace

void Commands::Reset() {
  verbose_ = false;
  diagnostic_ = false;
  idn_to_ignore_ = 0;
}

void Commands::Reply(const std::string& text, Reaction& reaction, int pause_ms) {
  reaction.out.push_back({pause_ms, text + (verbose_ ? "\r\n" : "\r")});
}

bool Commands::Execute(const std::string& line, Reaction& reaction) {
  std::string text = Trim(line);
  if (text.empty()) return true;
  if (faults_.silent) return false;
  auto space = text.find(' ');
  std::string word = text.substr(0, space);
  std::string rest = space == std::string::npos ? "" : Trim(text.substr(space));
  if (word.back() == '?') return Query(word.substr(0, word.size() - 1), rest, reaction);
  return Set(word, rest, reaction);
}

bool Commands::Query(const std::string& word, const std::string& argument, Reaction& reaction) {
  std::string name = Cased(word, true);
  if (name.empty()) return false;
  bool plain = argument.empty();
  if (name == "FREV" && plain) {
    Reply(memory_.firmware_version, reaction);
  } else if (name == "VRDT" && plain) {
    // Cut so that the identity reply (version, stamp and date in verbose mode) is 14 bytes.
    if (faults_.short_identity)
      reaction.out.push_back({0, memory_.build_stamp.substr(0, 9)});
    else
      Reply(memory_.build_stamp, reaction);
  } else if (name == "FDAT" && plain) {
    if (!faults_.short_identity) Reply(memory_.download_date, reaction);
  } else if (name == "SNUM" && plain) {
    Reply(memory_.serial_number, reaction);
  } else if (name == "*IDN" && plain) {
    if (idn_to_ignore_ > 0)
      --idn_to_ignore_;
    else
      Reply("TMV540," + memory_.serial_number + "," + memory_.firmware_version + " " + memory_.build_stamp, reaction);
  } else {
    return StoredQuery(name[0] == '$' ? Cased(word, false) : name, argument, reaction);
  }
  return true;
}

bool Commands::StoredQuery(const std::string& mnemonic, const std::string& argumentText, Reaction& reaction) {
  int argument = Argument(argumentText);
  if (argument < -1) return false;
  if (mnemonic[0] == '$') {
    const StoredItem* item = FindCalibration(mnemonic, argument);
    if (!item || !diagnostic_) return false;
    int index = IndexOf(CalibrationItems(), item);
    if (index >= int(CalibrationItems().size()) - faults_.cal_missing) return true;
    Reply(memory_.calibration[item->key], reaction, index + 1 == faults_.cal_pause_at ? faults_.cal_pause_ms : 0);
    return true;
  }
  const StoredItem* item = FindSetting(mnemonic, argument);
  if (!item) return false;
  int row = IndexOf(SettingItems(), item) + 1;
  const std::string& value = memory_.settings[item->key];
  std::string end = verbose_ ? "\r\n" : "\r";
  if (row == faults_.state_long) {
    std::string text;
    while (text.size() < 200) text += (value.empty() ? "X" : value) + " ";
    text.resize(200 - end.size());
    reaction.out.push_back({0, text + end});
  } else if (row == faults_.state_nul) {
    std::string text = value.empty() ? "0" : value;
    reaction.out.push_back({0, text.substr(0, 1) + '\0' + text.substr(1) + end});
  } else if (row != faults_.state_empty) {
    Reply(value, reaction);  // an empty value answers a lone line end: nothing to store
  }
  if (row == int(SettingItems().size())) reaction.events.push_back(Event::StateBackupDone);
  return true;
}

bool Commands::Set(const std::string& word, const std::string& rest, Reaction& reaction) {
  std::string name = Cased(word, true);
  bool diagnosticOnly = name[0] == '$' || name == "FDAT";
  if (diagnosticOnly && name != "$DIA" && !diagnostic_) return false;
  if (name == "VERB" || name == "$DIA") {
    if (rest != "0" && rest != "1") return false;
    (name == "VERB" ? verbose_ : diagnostic_) = rest == "1";
  } else if (name == "SNUM") {
    if (rest.size() > 16 || !Printable(rest)) return false;
    memory_.serial_number = rest;
  } else if (name == "FDAT") {
    if (!IsDate(rest)) return false;
    memory_.download_date = rest;
  } else if (name == "$2FC") {
    // Puts the converter into the mode the calibration queries are read in; nothing to store.
  } else if (name == "$SEF" && rest.empty()) {
    memory_.saved_serial_number = memory_.serial_number;
    memory_.saved_calibration = memory_.calibration;
  } else if (name == "$IBR" && rest.empty()) {
    memory_.ram_valid = false;
  } else if (name == "POFF" && rest.empty()) {
    reaction.events.push_back(Event::SwitchedOff);
  } else {
    return StoredSet(name[0] == '$' ? Cased(word, false) : name, rest);
  }
  return true;
}

bool Commands::StoredSet(const std::string& mnemonic, const std::string& rest) {
  bool calibration = mnemonic[0] == '$';
  bool takesArgument = calibration ? CalibrationTakesArgument(mnemonic) : SettingTakesArgument(mnemonic);
  int argument = -1;
  std::string value = rest;
  if (takesArgument) {
    auto space = rest.find(' ');
    argument = Argument(rest.substr(0, space));
    if (argument < 0) return false;
    value = space == std::string::npos ? "" : Trim(rest.substr(space));
  }
  const StoredItem* item = calibration ? FindCalibration(mnemonic, argument) : FindSetting(mnemonic, argument);
  if (!item || !item->fitted || value.empty() || !Printable(value) || (item->numeric && !IsNumber(value))) return false;
  (calibration ? memory_.calibration : memory_.settings)[item->key] = value;
  return true;
}

}  // namespace sim
