// The simulated firmware loader: its file check and its side of the transfer dialogue.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device.h"
#include "firmware_file.h"

namespace sim {
namespace {

std::string Out(const Reaction& reaction) {
  std::string out;
  for (const Chunk& chunk : reaction.out) out += chunk.bytes;
  return out;
}

std::string File(int number, std::size_t changedByte = FileSize) {
  std::vector<unsigned char> file = MakeFirmwareFile(number);
  if (changedByte < file.size()) file[changedByte] ^= 0x01;
  return std::string(file.begin(), file.end());
}

TEST(FirmwareFileCheck, AcceptsASoundFileAndRefusesAnyChangedPart) {
  std::vector<unsigned char> sound = MakeFirmwareFile(3);
  FileCheck check = CheckFirmwareFile(sound.data(), sound.size());
  EXPECT_TRUE(check.ok) << check.problem;
  EXPECT_EQ(check.stamp, "03/06/02 14:51");

  struct Case {
    const char* what;
    std::size_t byte;
  };
  for (Case c : {Case{"model name", 3}, Case{"preamble line 2", 30}, Case{"ESC", 108}, Case{"B", 109},
                 Case{"first payload byte", PayloadOffset}, Case{"last payload byte", CheckOffset - 1},
                 Case{"check value", CheckOffset + 1}}) {
    std::vector<unsigned char> changed = sound;
    changed[c.byte] ^= 0x01;
    EXPECT_FALSE(CheckFirmwareFile(changed.data(), changed.size()).ok) << c.what;
  }
  EXPECT_FALSE(CheckFirmwareFile(sound.data(), sound.size() - 1).ok);
}

// The loader takes the image the updater carries, when the build has one.
TEST(FirmwareFileCheck, AcceptsTheImageFilesOfTheBuild) {
  for (int k = 1; k <= 8; ++k) {
    std::ifstream in(std::string(FIRMWARE_IMAGE_DIR) + "/TMV5400" + std::to_string(k) + ".bin", std::ios::binary);
    if (!in) GTEST_SKIP() << "no firmware image in " << FIRMWARE_IMAGE_DIR;
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FileCheck check = CheckFirmwareFile(file.data(), file.size());
    EXPECT_TRUE(check.ok) << "file " << k << ": " << check.problem;
    EXPECT_EQ(check.stamp, "03/06/02 14:51");
  }
}

TEST(Loader, PromptsTakesEightFilesAndRestartsUnderTheNewFirmware) {
  Device device(DefaultMemory(), {}, nullptr);
  device.PressPower();
  EXPECT_EQ(device.power(), Power::Off);
  EXPECT_EQ(Out(device.PressPowerWithIg1Degas()), "01\r\n");
  // What a handshake sends to a loader is noise to it.
  EXPECT_EQ(Out(device.Receive("\n\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n")), "");

  std::vector<std::string> replies;
  for (int k = 1; k <= 8; ++k) {
    std::string file = File(k);
    // Split the file as a serial line would.
    std::string reply = Out(device.Receive(file.substr(0, 1000)));
    replies.push_back(reply + Out(device.Receive(file.substr(1000))));
  }
  EXPECT_EQ(replies,
            (std::vector<std::string>{"02\r\n", "03\r\n", "04\r\n", "05\r\n", "06\r\n", "07\r\n", "08\r\n", ""}));
  EXPECT_EQ(device.power(), Power::Restarting);
  EXPECT_EQ(Out(device.Receive("*IDN?\n")), "");

  device.Wake();
  EXPECT_EQ(device.power(), Power::Running);
  EXPECT_EQ(Out(device.Receive("*IDN?\n")), "TMV540,,093 03/06/02 14:51\r");
  for (int k = 1; k <= 8; ++k) {
    std::vector<unsigned char> file = MakeFirmwareFile(k);
    EXPECT_EQ(device.memory().flash_files[k - 1], PayloadDigest(file.data() + PayloadOffset, PayloadSize));
  }
}

TEST(Loader, FaultsChangeItsAnswers) {
  struct Case {
    const char* fault;
    std::vector<std::string> sent;  // files by number, "bad" for a file with a changed payload byte
    std::vector<std::string> answers;
  };
  const std::vector<Case> cases = {
      {"", {"1", "bad", "2"}, {"02\r\n", "02\r\n", "03\r\n"}},
      {"bad-check=2", {"1", "2", "2", "3"}, {"02\r\n", "02\r\n", "03\r\n", "04\r\n"}},
      {"bad-check-always=2", {"1", "2", "2"}, {"02\r\n", "02\r\n", "02\r\n"}},
      {"wrong-request=2:5", {"1", "2", "3"}, {"02\r\n", "05\r\n", "03\r\n"}},
      {"abort=2", {"1", "2"}, {"02\r\n", "x\r\n"}},
      {"garbage-after=1", {"1"}, {"#?\r\n"}},
      {"silent-after=2", {"1", "2", "3"}, {"02\r\n", "", ""}},
  };
  for (const Case& c : cases) {
    DeviceOptions options;
    std::string error;
    if (*c.fault) {
      ASSERT_TRUE(options.faults.Apply(c.fault, error)) << error;
    }
    options.start = Power::Off;
    Device device(DefaultMemory(), options, nullptr);
    EXPECT_EQ(Out(device.PressPowerWithIg1Degas()), "01\r\n") << c.fault;
    std::vector<std::string> answers;
    for (const std::string& file : c.sent)
      answers.push_back(Out(device.Receive(file == "bad" ? File(2, PayloadOffset + 7) : File(std::stoi(file)))));
    EXPECT_EQ(answers, c.answers) << c.fault;
  }
}

TEST(Loader, AbortInsteadOfThePrompt) {
  DeviceOptions options;
  std::string error;
  ASSERT_TRUE(options.faults.Apply("abort=0", error));
  options.start = Power::Off;
  Device device(DefaultMemory(), options, nullptr);
  EXPECT_EQ(Out(device.PressPowerWithIg1Degas()), "x\r\n");
}

TEST(Loader, PowerLostInAFileLeavesMemoryAsItWasAndTheLoaderCanStartAgain) {
  DeviceOptions options;
  std::string error;
  ASSERT_TRUE(options.faults.Apply("power-loss=2", error));
  options.start = Power::Off;
  Device device(DefaultMemory(), options, nullptr);
  device.PressPowerWithIg1Degas();
  device.Receive(File(1));
  EXPECT_EQ(Out(device.Receive(File(2))), "");
  EXPECT_EQ(device.power(), Power::Off);
  EXPECT_EQ(device.memory(), DefaultMemory());
  EXPECT_EQ(Out(device.PressPowerWithIg1Degas()), "01\r\n");
  EXPECT_EQ(Out(device.Receive(File(1))), "02\r\n");
}

TEST(Loader, WaitsSilentlyWhenStartedInItsLoader) {
  DeviceOptions options;
  options.start = Power::Loader;
  Device device(DefaultMemory(), options, nullptr);
  EXPECT_EQ(Out(device.Receive("\n")), "");
  EXPECT_EQ(Out(device.Receive("\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n")), "");
  EXPECT_EQ(Out(device.Receive(File(1))), "02\r\n");
}

TEST(Loader, IdentityQueriesGoUnansweredForAWhileAfterNewFirmware) {
  DeviceOptions options;
  std::string error;
  ASSERT_TRUE(options.faults.Apply("idn-late=2", error));
  options.start = Power::Off;
  Device device(DefaultMemory(), options, nullptr);
  device.PressPowerWithIg1Degas();
  for (int k = 1; k <= 8; ++k) device.Receive(File(k));
  device.Wake();
  EXPECT_EQ(Out(device.Receive("*IDN?\n")), "");
  EXPECT_EQ(Out(device.Receive("*IDN?\n")), "");
  EXPECT_NE(Out(device.Receive("*IDN?\n")), "");
}

}  // namespace
}  // namespace sim
