#pragma once
// The instrument's memory as a JSON file, so a run can start from a chosen instrument and a test
// can compare the instrument before and after an update.
#include <string>

#include "memory.h"

namespace sim {

std::string MemoryToJson(const Memory& memory);
// Every calibration constant and setting of the item tables must be present, and nothing else.
bool MemoryFromJson(const std::string& text, Memory& memory, std::string& error);

// Written to a temporary file beside `path` and renamed over it, so no half-written file is left.
bool SaveMemory(const Memory& memory, const std::string& path, std::string& error);
bool LoadMemory(const std::string& path, Memory& memory, std::string& error);

}  // namespace sim
