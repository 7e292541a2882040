#include "tables.h"

#include <cmath>
#include <cstdio>

namespace sim {
namespace {

// Values are spread by a fixed hash of the item's position, so every run of the simulator holds
// the same instrument and neighbouring items differ.
unsigned Spread(int index, unsigned salt) {
  return ((static_cast<unsigned>(index) + 1) * 2654435761u ^ (salt * 40503u)) >> 7;
}

template <typename T>
std::string Format(const char* pattern, T value) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

// The forms the instrument answers in.
enum class Kind { Scientific, Fixed4, Fixed2, Decimal, Integer, Signed, Pressure, Switch, Word, Text, Hex };

std::string Current(Kind kind, unsigned r, int argument, const char* pattern) {
  switch (kind) {
    case Kind::Scientific:
      return Format("%.4E", (50 + r % 150) / 100.0 * std::pow(10.0, int(r % 5) - 4));
    case Kind::Fixed4:
      return Format("%.4f", (r % 20000) / 10000.0);
    case Kind::Fixed2:
      return Format("%.2f", 15 + (r % 1000) / 100.0);
    case Kind::Decimal:
      return Format("%.1f", 0.5 + (r % 995) / 10.0);
    case Kind::Integer:
      return std::to_string(1 + r % 1500);
    case Kind::Signed:
      return std::to_string(int(r % 200) - 100);
    case Kind::Pressure:
      return Format("%.2E", (100 + r % 900) / 100.0 * std::pow(10.0, -2 - int(r % 8)));
    case Kind::Switch:
      return r % 3 ? "ON" : "OFF";
    case Kind::Hex:
      return Format("%04X", r % 0x10000);
    case Kind::Word:
    case Kind::Text:
      return Format(pattern, argument);
  }
  return {};
}

std::string Factory(Kind kind, int argument, const char* pattern) {
  switch (kind) {
    case Kind::Scientific:
      return "1.0000E+00";
    case Kind::Fixed4:
      return "0.0000";
    case Kind::Fixed2:
      return "20.00";
    case Kind::Decimal:
      return "1.0";
    case Kind::Integer:
    case Kind::Signed:
      return "0";
    case Kind::Pressure:
      return "1.00E-03";
    case Kind::Switch:
      return "OFF";
    case Kind::Hex:
      return "0000";
    case Kind::Word:
    case Kind::Text:
      return Format(pattern, argument);
  }
  return {};
}

bool IsNumeric(Kind kind) {
  return kind != Kind::Switch && kind != Kind::Word && kind != Kind::Text && kind != Kind::Hex;
}

// One mnemonic with its argument range (first > last: no argument). Word and text items take
// their values from the two patterns, which may hold the argument as %d.
struct Group {
  const char* mnemonic;
  int first;
  int last;
  Kind kind;
  const char* current = "";
  const char* factory = "";
};

constexpr int None = 0, NoneEnd = -1;

const Group CalibrationGroups[] = {
    {"$afs", 1, 1, Kind::Scientific},       {"$aco", 1, 1, Kind::Signed},
    {"$afs", 2, 2, Kind::Scientific},       {"$aco", 2, 2, Kind::Signed},
    {"$afs", 3, 3, Kind::Scientific},       {"$aco", 3, 3, Kind::Signed},
    {"$afs", 4, 4, Kind::Scientific},       {"$aco", 4, 4, Kind::Signed},
    {"$hbt", None, NoneEnd, Kind::Integer}, {"$dco", 1, 1, Kind::Fixed4},
    {"$dfs", 1, 1, Kind::Scientific},       {"$dco", 2, 2, Kind::Fixed4},
    {"$dfs", 2, 2, Kind::Scientific},       {"$dco", 3, 3, Kind::Fixed4},
    {"$dfs", 3, 3, Kind::Scientific},       {"$dco", 4, 4, Kind::Fixed4},
    {"$dfs", 4, 4, Kind::Scientific},       {"$d20", 0, 0, Kind::Fixed2},
    {"$ies", 0, 0, Kind::Pressure},         {"$d20", 1, 1, Kind::Fixed2},
    {"$ies", 1, 1, Kind::Pressure},         {"$d20", 2, 2, Kind::Fixed2},
    {"$ies", 2, 2, Kind::Pressure},         {"$d20", 3, 3, Kind::Fixed2},
    {"$ies", 3, 3, Kind::Pressure},         {"$hgt", 0, 0, Kind::Integer},
    {"$hgt", 2, 2, Kind::Integer},          {"$hgt", 1, 1, Kind::Integer},
    {"$hgt", 3, 3, Kind::Integer},          {"$ifs", 3, 3, Kind::Scientific},
    {"$ifs", 2, 2, Kind::Scientific},       {"$ifs", 1, 1, Kind::Scientific},
    {"$ifs", 0, 0, Kind::Scientific},       {"$pfs", 0, 0, Kind::Fixed4},
    {"$pco", 0, 0, Kind::Signed},           {"$pfs", 1, 1, Kind::Fixed4},
    {"$pco", 1, 1, Kind::Signed},           {"$pdg", None, NoneEnd, Kind::Text, "REV C7", "REV A0"},
};

const Group SettingGroups[] = {
    {"GPMU", None, NoneEnd, Kind::Word, "MBAR", "TORR"},
    {"GPBA", 0, 2, Kind::Integer},
    {"GPDF", 0, 2, Kind::Integer},
    {"GDES", 1, 12, Kind::Text, "CHAMBER %d", "GAUGE %d"},
    {"CSEN", 1, 2, Kind::Switch},
    {"CGCF", 1, 4, Kind::Decimal},
    {"CRVI", 1, 2, Kind::Integer},
    {"IGEC", 1, 2, Kind::Decimal},
    {"GFIL", 1, 2, Kind::Integer},
    {"GPLV", 1, 2, Kind::Pressure},
    {"GOSD", 1, 2, Kind::Pressure},
    {"GOTH", 1, 2, Kind::Pressure},
    {"GODE", 1, 2, Kind::Integer},
    {"GOAA", 1, 2, Kind::Switch},
    {"DENA", None, NoneEnd, Kind::Switch},
    {"DPOW", 1, 2, Kind::Decimal},
    {"DTIM", 1, 2, Kind::Integer},
    {"AOPG", None, NoneEnd, Kind::Integer},
    {"AOIG", None, NoneEnd, Kind::Integer},
    {"AOTH", None, NoneEnd, Kind::Pressure},
    {"AOCN", None, NoneEnd, Kind::Switch},
    {"CRVP", 1, 2, Kind::Pressure},
    {"GADM", 1, 4, Kind::Word, "LOG", "LINEAR"},
    {"GDAS", 1, 4, Kind::Integer},
    {"ANDF", 1, 4, Kind::Decimal},
    {"GDAV", 1, 4, Kind::Switch},
    {"CMPX", 1, 4, Kind::Integer},
    {"PLIN", None, NoneEnd, Kind::Integer},
    {"PLWT", None, NoneEnd, Kind::Integer},
    {"PLEN", None, NoneEnd, Kind::Switch},
    {"PLDD", None, NoneEnd, Kind::Decimal},
    {"PLTR", None, NoneEnd, Kind::Pressure},
    {"LCPN", None, NoneEnd, Kind::Pressure},
    {"LCPX", None, NoneEnd, Kind::Pressure},
    {"LCVN", None, NoneEnd, Kind::Decimal},
    {"LCVX", None, NoneEnd, Kind::Decimal},
    {"LCRG", None, NoneEnd, Kind::Integer},
    {"RDES", 1, 8, Kind::Text, "VALVE V%d", "RELAY %d"},
    {"RLCL", 1, 8, Kind::Integer},
    {"RLOP", 1, 8, Kind::Word, "NORMALLY CLOSED", "NORMALLY OPEN"},
    {"RBEP", 1, 8, Kind::Switch},
    {"RMOD", 1, 8, Kind::Word, "LATCH", "AUTO"},
    {"RAMS", 1, 8, Kind::Integer},
    {"RGOS", 1, 8, Kind::Integer},
    {"RTRP", 1, 8, Kind::Pressure},
    {"RTRV", 1, 8, Kind::Decimal},
    {"RPHY", 1, 8, Kind::Pressure},
    {"RVHY", 1, 8, Kind::Decimal},
    {"RPOL", 1, 8, Kind::Word, "ABOVE", "BELOW"},
    {"RDEL", 1, 8, Kind::Integer},
    {"RTCL", 1, 8, Kind::Switch},
    {"RTOP", 1, 8, Kind::Switch},
    {"RTIL", 1, 8, Kind::Integer},
    {"BLEN", None, NoneEnd, Kind::Switch},
    {"BLIT", None, NoneEnd, Kind::Integer},
    {"BLOF", None, NoneEnd, Kind::Integer},
    {"BLON", None, NoneEnd, Kind::Integer},
    {"BLTD", None, NoneEnd, Kind::Integer},
    {"SECF", 0, 7, Kind::Hex},
    {"WSEN", None, NoneEnd, Kind::Switch},
    {"NAME", None, NoneEnd, Kind::Text, "LOADLOCK A", "TMV540"},
    // Answered last in the state backup, so the updater's loader dialogue sees it: a line voltage
    // whose first digit the dialogue accepts quietly.
    {"VOLC", None, NoneEnd, Kind::Word, "230", "115"},
};

// The relay card holds six relays and the second convectron channel is not fitted: those items
// have nothing to store.
bool Fitted(const std::string& mnemonic, int argument) {
  if ((mnemonic == "CRVI" || mnemonic == "CRVP") && argument == 2) return false;
  return !(mnemonic[0] == 'R' && argument >= 7);
}

template <std::size_t N>
std::vector<StoredItem> Build(const Group (&groups)[N], unsigned salt) {
  std::vector<StoredItem> items;
  for (const Group& group : groups) {
    bool takesArgument = group.first <= group.last;
    for (int argument = group.first; argument <= (takesArgument ? group.last : group.first); ++argument) {
      StoredItem item;
      item.mnemonic = group.mnemonic;
      item.argument = takesArgument ? argument : -1;
      item.key = ItemKey(item.mnemonic, item.argument);
      item.fitted = Fitted(item.mnemonic, item.argument);
      item.numeric = IsNumeric(group.kind);
      if (item.fitted) {
        item.current = Current(group.kind, Spread(int(items.size()), salt), argument, group.current);
        item.factory = Factory(group.kind, argument, group.factory);
      }
      items.push_back(item);
    }
  }
  return items;
}

const StoredItem* Find(const std::vector<StoredItem>& items, const std::string& mnemonic, int argument) {
  for (const StoredItem& item : items)
    if (item.mnemonic == mnemonic && item.argument == argument) return &item;
  return nullptr;
}

bool TakesArgument(const std::vector<StoredItem>& items, const std::string& mnemonic) {
  for (const StoredItem& item : items)
    if (item.mnemonic == mnemonic) return item.argument >= 0;
  return false;
}

}  // namespace

std::string ItemKey(const std::string& mnemonic, int argument) {
  return argument < 0 ? mnemonic : mnemonic + " " + std::to_string(argument);
}

const std::vector<StoredItem>& CalibrationItems() {
  static const std::vector<StoredItem> items = Build(CalibrationGroups, 1);
  return items;
}

const std::vector<StoredItem>& SettingItems() {
  static const std::vector<StoredItem> items = Build(SettingGroups, 2);
  return items;
}

const StoredItem* FindCalibration(const std::string& mnemonic, int argument) {
  return Find(CalibrationItems(), mnemonic, argument);
}

const StoredItem* FindSetting(const std::string& mnemonic, int argument) {
  return Find(SettingItems(), mnemonic, argument);
}

bool CalibrationTakesArgument(const std::string& mnemonic) { return TakesArgument(CalibrationItems(), mnemonic); }

bool SettingTakesArgument(const std::string& mnemonic) { return TakesArgument(SettingItems(), mnemonic); }

}  // namespace sim
