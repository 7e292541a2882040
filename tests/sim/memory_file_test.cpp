// The instrument memory as a JSON file.
#include "memory_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace sim {
namespace {

namespace fs = std::filesystem;

class MemoryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("sim_memory_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(MemoryFile, SavedMemoryLoadsBackTheSame) {
  Memory memory = DefaultMemory();
  memory.serial_number = "A\"\\1";
  memory.settings["NAME"] = std::string("ODD\tNAME\x01\xE9", 10);
  memory.ram_valid = false;
  memory.download_date.clear();
  std::string path = (dir_ / "memory.json").string();
  std::string error;
  ASSERT_TRUE(SaveMemory(memory, path, error)) << error;
  EXPECT_FALSE(fs::exists(path + ".tmp"));

  Memory loaded;
  ASSERT_TRUE(LoadMemory(path, loaded, error)) << error;
  EXPECT_EQ(loaded, memory);
}

TEST_F(MemoryFile, RefusesAFileThatDoesNotDescribeTheInstrument) {
  std::string good = MemoryToJson(DefaultMemory());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  struct Case {
    const char* what;
    std::string text;
    const char* message;
  };
  const Case cases[] = {
      {"not JSON", "{\"serial_number\": ", "unexpected end"},
      {"missing setting", replaced("\"GPMU\": \"MBAR\",", ""), "lacks \"GPMU\""},
      {"unknown setting", replaced("\"GPMU\"", "\"GPMX\""), "unknown or non-text entry \"GPMX\""},
      {"flag as text", replaced("\"ram_valid\": true", "\"ram_valid\": \"yes\""), "ram_valid"},
      {"trailing text", good + "}", "text after the document"},
  };
  for (const Case& c : cases) {
    Memory memory;
    std::string error;
    EXPECT_FALSE(MemoryFromJson(c.text, memory, error)) << c.what;
    EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
  }
  std::string error;
  Memory memory;
  EXPECT_FALSE(LoadMemory((dir_ / "missing.json").string(), memory, error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace sim
