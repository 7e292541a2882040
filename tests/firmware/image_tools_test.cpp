// The build-time image check and the demonstration image tool, run as the build runs them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "firmware/firmware.h"
#include "firmware/image_layout.h"

namespace {
namespace fs = std::filesystem;
using firmware_layout::FileName;

struct ToolRun {
  int status;
  std::string output;  // standard output and error together
};

ToolRun RunTool(const char* tool, const fs::path& folder) {
  const std::string command = std::string("'") + tool + "' '" + folder.string() + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, "cannot start " + command};
  ToolRun run{0, ""};
  std::array<char, 4096> chunk;
  while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) run.output.append(chunk.data(), n);
  const int wait = pclose(pipe);
  run.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  return run;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A scratch folder of this test's own, removed afterwards.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name)
      : path_(fs::temp_directory_path() / ("tmv-firmware-" + name + "-" + std::to_string(getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchFolder() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void CopyImage(const fs::path& to) {
  for (int k = 1; k <= FirmwareFileCount; ++k)
    fs::copy_file(fs::path(TMV_IMAGE_DIR) / FileName(k), to / FileName(k), fs::copy_options::overwrite_existing);
}

void ChangeByte(const fs::path& file, std::size_t offset, std::uint8_t value) {
  auto bytes = ReadBytes(file);
  bytes.at(offset) = value;
  WriteBytes(file, bytes);
}

void ChangeInEveryFile(const fs::path& folder, std::size_t offset, std::uint8_t value) {
  for (int k = 1; k <= FirmwareFileCount; ++k) ChangeByte(folder / FileName(k), offset, value);
}

TEST(CheckImageTest, AcceptsTheImageTheProgramIsBuiltFrom) {
  const auto run = RunTool(TMV_CHECK_IMAGE, TMV_IMAGE_DIR);
  EXPECT_EQ(run.status, 0) << run.output;
}

struct Damage {
  const char* name;
  int file;              // the file the message must name
  const char* expected;  // what the message must say about it
  std::function<void(const fs::path& folder, const fs::path& file)> apply;
};

void PrintTo(const Damage& damage, std::ostream* out) { *out << damage.name; }

class CheckImageRejectsTest : public testing::TestWithParam<Damage> {};

TEST_P(CheckImageRejectsTest, NamesTheBadFileAndTheProblem) {
  const Damage& damage = GetParam();
  ScratchFolder folder(damage.name);
  CopyImage(folder.path());
  damage.apply(folder.path(), folder.path() / FileName(damage.file));

  const auto run = RunTool(TMV_CHECK_IMAGE, folder.path());
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find(FileName(damage.file) + ": " + damage.expected), std::string::npos) << run.output;
}

// Flipping a bit gives a value that differs from the original whatever the original was.
const Damage Damages[] = {
    {"payload_byte", 3, "check value",
     [](const fs::path&, const fs::path& file) { ChangeByte(file, 40000, ReadBytes(file)[40000] ^ 0x01); }},
    {"check_byte", 8, "check value",
     [](const fs::path&, const fs::path& file) { ChangeByte(file, 65647, ReadBytes(file)[65647] ^ 0x80); }},
    {"one_byte_short", 5, "is 65647 bytes long",
     [](const fs::path&, const fs::path& file) { fs::resize_file(file, 65647); }},
    {"one_byte_extra", 2, "is 65649 bytes long",
     [](const fs::path&, const fs::path& file) { fs::resize_file(file, 65649); }},
    {"missing", 6, "cannot be read", [](const fs::path&, const fs::path& file) { fs::remove(file); }},
    {"no_esc_b", 4, "bytes 108 and 109", [](const fs::path&, const fs::path& file) { ChangeByte(file, 109, 'C'); }},
    {"own_preamble", 7, "preamble (bytes 0 to 107) differs from that of TMV54001.bin at byte 50",
     [](const fs::path&, const fs::path& file) { ChangeByte(file, 50, ReadBytes(file)[50] ^ 0x01); }},
    // Alike in all files, so only the build stamp check can catch it.
    {"other_stamp", 1, "preamble line 1",
     [](const fs::path& folder, const fs::path&) { ChangeInEveryFile(folder, 21, '2'); }},
};

INSTANTIATE_TEST_SUITE_P(Damages, CheckImageRejectsTest, testing::ValuesIn(Damages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MakeDemoImageTest, WritesAnImageThatPassesTheCheckAndCarriesEveryByteValue) {
  ScratchFolder folder("demo");
  const auto made = RunTool(TMV_MAKE_DEMO_IMAGE, folder.path());
  ASSERT_EQ(made.status, 0) << made.output;

  const auto checked = RunTool(TMV_CHECK_IMAGE, folder.path());
  EXPECT_EQ(checked.status, 0) << checked.output;

  // Every byte value, XON, XOFF, CR and ^C included, so a link that is not transparent spoils it.
  for (int k = 1; k <= FirmwareFileCount; ++k) {
    const auto bytes = ReadBytes(folder.path() / FileName(k));
    ASSERT_EQ(bytes.size(), FirmwareFileSize);
    std::bitset<256> seen;
    for (std::size_t i = firmware_layout::PayloadOffset; i < firmware_layout::CheckOffset; ++i) seen.set(bytes[i]);
    EXPECT_TRUE(seen.all()) << FileName(k) << " lacks " << 256 - seen.count() << " byte values";
  }
}

TEST(MakeDemoImageTest, WritesTheSameFilesEveryTime) {
  ScratchFolder first("demo-first"), second("demo-second");
  ASSERT_EQ(RunTool(TMV_MAKE_DEMO_IMAGE, first.path()).status, 0);
  ASSERT_EQ(RunTool(TMV_MAKE_DEMO_IMAGE, second.path()).status, 0);
  for (int k = 1; k <= FirmwareFileCount; ++k)
    EXPECT_EQ(ReadBytes(first.path() / FileName(k)), ReadBytes(second.path() / FileName(k))) << FileName(k);
}

}  // namespace
