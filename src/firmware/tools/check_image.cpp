// Refuses a firmware image folder whose files do not have the layout the instrument's loader
// expects, so that a damaged, truncated or foreign file can never be built into the program.
// Every problem is named with its file; the exit status is non-zero if there is any.
// Usage: check_image <image folder>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/crc16_xmodem.h"
#include "firmware/image_layout.h"

namespace {
using namespace firmware_layout;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

std::string Hex(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// Shows text as a C string literal would, so that a stray control byte is visible in the message.
std::string Quoted(const std::uint8_t* bytes, std::size_t size) {
  std::string text = "\"";
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = bytes[i];
    if (c == '\n')
      text += "\\n";
    else if (c == '"' || c == '\\')
      text += std::string("\\") + static_cast<char>(c);
    else if (c >= 0x20 && c < 0x7F)
      text += static_cast<char>(c);
    else
      text += "\\x" + Hex(c, 2).substr(2);
  }
  return text + "\"";
}
std::string Quoted(std::string_view text) {
  return Quoted(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

bool Matches(const Bytes& file, std::size_t offset, std::string_view expected) {
  return std::equal(expected.begin(), expected.end(), file.begin() + static_cast<std::ptrdiff_t>(offset),
                    [](char e, std::uint8_t b) { return static_cast<std::uint8_t>(e) == b; });
}

// Reads a file whole if it exists and has exactly the firmware file size.
std::optional<Bytes> ReadWhole(const fs::path& path, std::vector<std::string>& problems) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error) {
    problems.push_back("cannot be read: " + error.message());
    return std::nullopt;
  }
  if (size != FirmwareFileSize) {
    problems.push_back("is " + std::to_string(size) + " bytes long; a firmware file is exactly " +
                       std::to_string(FirmwareFileSize) + " bytes");
    return std::nullopt;
  }
  Bytes file(FirmwareFileSize);
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()))) {
    problems.push_back("cannot be read");
    return std::nullopt;
  }
  return file;
}

// Checks the layout of one file on its own: preamble lines, ESC B, and the payload's check value.
void CheckLayout(const Bytes& file, std::vector<std::string>& problems) {
  if (!Matches(file, 0, Line1))
    problems.push_back("preamble line 1 is " + Quoted(file.data(), Line1.size()) + ", expected " + Quoted(Line1) +
                       " with the build stamp of firmware version \"" + FirmwareVersion + "\"");
  if (!Matches(file, Line1.size(), Line2))
    problems.push_back("preamble line 2 is " + Quoted(file.data() + Line1.size(), Line2.size()) + ", expected " +
                       Quoted(Line2));
  const auto* line3 = file.data() + Line3Offset;
  const bool line3Printable =
      std::all_of(line3, line3 + Line3Size - 1, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
  if (!line3Printable || line3[Line3Size - 1] != '\n')
    problems.push_back("preamble line 3 is " + Quoted(line3, Line3Size) + ", expected " +
                       std::to_string(Line3Size - 1) + " printable ASCII characters and a line feed");
  if (!std::equal(std::begin(PreambleEnd), std::end(PreambleEnd), file.begin() + PreambleEndOffset))
    problems.push_back("bytes 108 and 109 are " + Hex(file[PreambleEndOffset], 2) + " " +
                       Hex(file[PreambleEndOffset + 1], 2) + ", expected 0x1B 0x42 (ESC B)");
  const std::uint16_t computed = Crc16Xmodem(file.data() + PayloadOffset, PayloadSize);
  const std::uint16_t stored = static_cast<std::uint16_t>(file[CheckOffset] << 8 | file[CheckOffset + 1]);
  if (computed != stored)
    problems.push_back("check value " + Hex(stored, 4) +
                       " in bytes 65646 and 65647 does not match the payload's CRC-16/XMODEM " + Hex(computed, 4) +
                       ": the payload or its check value is damaged");
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: check_image <image folder>\n";
    return 2;
  }
  const fs::path folder = argv[1];
  bool valid = true;
  std::optional<Bytes> reference;  // the first readable file, whose preamble all others must repeat
  std::string referenceName;

  for (int k = 1; k <= FirmwareFileCount; ++k) {
    const auto path = folder / FileName(k);
    std::vector<std::string> problems;
    if (auto file = ReadWhole(path, problems)) {
      CheckLayout(*file, problems);
      if (!reference) {
        reference = std::move(file);
        referenceName = FileName(k);
      } else {
        const auto differs = std::mismatch(file->begin(), file->begin() + PreambleSize, reference->begin()).first;
        if (differs != file->begin() + PreambleSize)
          problems.push_back("preamble (bytes 0 to 107) differs from that of " + referenceName + " at byte " +
                             std::to_string(differs - file->begin()) + "; all eight files share one preamble");
      }
    }
    for (const auto& problem : problems) std::cerr << "check_image: " << path.string() << ": " << problem << "\n";
    valid = valid && problems.empty();
  }

  if (!valid) {
    std::cerr << "check_image: the firmware image in " << folder.string() << " is rejected; it must hold "
              << FileName(1) << " to " << FileName(FirmwareFileCount) << " in the firmware file layout\n";
    return 1;
  }
  std::cout << "check_image: the " << FirmwareFileCount << " firmware files in " << folder.string() << " are valid\n";
  return 0;
}
