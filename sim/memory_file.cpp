#include "memory_file.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "json.h"
#include "tables.h"

namespace sim {
namespace {

void WriteValues(std::string& out, const char* name, const Values& values, const std::vector<StoredItem>& items) {
  out += "  " + json::Quote(name) + ": {";
  const char* separator = "\n";
  for (const StoredItem& item : items) {
    auto it = values.find(item.key);
    if (it == values.end()) continue;
    out += separator;
    out += "    " + json::Quote(item.key) + ": " + json::Quote(it->second);
    separator = ",\n";
  }
  out += "\n  }";
}

bool ReadText(const json::Value& root, const char* name, std::string& out, std::string& error) {
  const json::Value* value = root.Find(name);
  if (!value || value->type != json::Value::Type::String) {
    error = std::string("\"") + name + "\" is missing or not a string";
    return false;
  }
  out = value->text;
  return true;
}

bool ReadValues(const json::Value& root, const char* name, const std::vector<StoredItem>& items, Values& out,
                std::string& error) {
  const json::Value* object = root.Find(name);
  if (!object || object->type != json::Value::Type::Object) {
    error = std::string("\"") + name + "\" is missing or not an object";
    return false;
  }
  out.clear();
  for (const auto& [key, value] : object->members) {
    bool known = false;
    for (const StoredItem& item : items) known = known || item.key == key;
    if (!known || value.type != json::Value::Type::String) {
      error = std::string("\"") + name + "\" holds an unknown or non-text entry \"" + key + "\"";
      return false;
    }
    out[key] = value.text;
  }
  for (const StoredItem& item : items) {
    if (!out.count(item.key)) {
      error = std::string("\"") + name + "\" lacks \"" + item.key + "\"";
      return false;
    }
  }
  return true;
}

}  // namespace

std::string MemoryToJson(const Memory& memory) {
  std::string out = "{\n";
  out += "  \"serial_number\": " + json::Quote(memory.serial_number) + ",\n";
  out += "  \"ram_valid\": " + std::string(memory.ram_valid ? "true" : "false") + ",\n";
  out += "  \"saved_serial_number\": " + json::Quote(memory.saved_serial_number) + ",\n";
  out += "  \"firmware_version\": " + json::Quote(memory.firmware_version) + ",\n";
  out += "  \"build_stamp\": " + json::Quote(memory.build_stamp) + ",\n";
  out += "  \"download_date\": " + json::Quote(memory.download_date) + ",\n";
  out += "  \"flash_files\": {";
  for (int k = 0; k < 8; ++k)
    out += std::string(k ? ", " : "") + json::Quote(std::to_string(k + 1)) + ": " + json::Quote(memory.flash_files[k]);
  out += "},\n";
  WriteValues(out, "calibration", memory.calibration, CalibrationItems());
  out += ",\n";
  WriteValues(out, "saved_calibration", memory.saved_calibration, CalibrationItems());
  out += ",\n";
  WriteValues(out, "settings", memory.settings, SettingItems());
  out += "\n}\n";
  return out;
}

bool MemoryFromJson(const std::string& text, Memory& memory, std::string& error) {
  json::Value root;
  if (!json::Parse(text, root, error)) return false;
  if (root.type != json::Value::Type::Object) {
    error = "the document is not an object";
    return false;
  }
  Memory loaded;
  const json::Value* ram = root.Find("ram_valid");
  if (!ram || ram->type != json::Value::Type::Bool) {
    error = "\"ram_valid\" is missing or not true/false";
    return false;
  }
  loaded.ram_valid = ram->flag;
  const json::Value* flash = root.Find("flash_files");
  if (!flash || flash->type != json::Value::Type::Object) {
    error = "\"flash_files\" is missing or not an object";
    return false;
  }
  for (int k = 0; k < 8; ++k)
    if (!ReadText(*flash, std::to_string(k + 1).c_str(), loaded.flash_files[k], error)) return false;
  if (!ReadText(root, "serial_number", loaded.serial_number, error) ||
      !ReadText(root, "saved_serial_number", loaded.saved_serial_number, error) ||
      !ReadText(root, "firmware_version", loaded.firmware_version, error) ||
      !ReadText(root, "build_stamp", loaded.build_stamp, error) ||
      !ReadText(root, "download_date", loaded.download_date, error) ||
      !ReadValues(root, "calibration", CalibrationItems(), loaded.calibration, error) ||
      !ReadValues(root, "saved_calibration", CalibrationItems(), loaded.saved_calibration, error) ||
      !ReadValues(root, "settings", SettingItems(), loaded.settings, error))
    return false;
  memory = std::move(loaded);
  return true;
}

bool SaveMemory(const Memory& memory, const std::string& path, std::string& error) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << MemoryToJson(memory);
    file.close();
    if (!file) {
      std::remove(temporary.c_str());
      error = "cannot write " + temporary;
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    error = "cannot replace " + path;
    return false;
  }
  return true;
}

bool LoadMemory(const std::string& path, Memory& memory, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!MemoryFromJson(text.str(), memory, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace sim
