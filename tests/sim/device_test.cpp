// The simulated instrument's exchanges, byte for byte, without a serial line: what the updater
// sends and what the instrument answers.
#include "device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tables.h"
#include "updater_side.h"

namespace sim {
namespace {

using namespace std::string_literals;

std::string Out(const Reaction& reaction) {
  std::string out;
  for (const Chunk& chunk : reaction.out) out += chunk.bytes;
  return out;
}

DeviceOptions WithFault(const std::string& fault) {
  DeviceOptions options;
  std::string error;
  if (!fault.empty()) {
    EXPECT_TRUE(options.faults.Apply(fault, error)) << error;
  }
  return options;
}

TEST(DeviceExchange, AnswersEachCommandWithTheExpectedBytes) {
  struct Case {
    const char* what;
    std::string fault;
    std::string sent;
    std::string answer;
  };
  const std::vector<Case> cases = {
      {"wake-up", "", "\n", ""},
      {"identity", "", "\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n", "092\r\n02/11/01 09:30\r\n15Nov02\r\n"},
      {"short identity", "short-identity", "\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n", "092\r\n02/11/01 "},
      {"silent", "silent", "\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\nsnum?\n\0"s, ""},
      {"serial number", "", "snum?\n\0"s, "12345\r"},
      {"empty serial number", "bad-serial=empty", "snum?\n\0"s, "\r"},
      {"serial number with 0", "bad-serial=zero", "snum?\n\0"s, "01234\r"},
      {"serial number with a letter", "bad-serial=letter", "snum?\n\0"s, "A1234\r"},
      {"commands before the queries", "", "SNUM 12345\r\n\n$dia 1\n$2FC 0 2\n", ""},
      {"identification", "", "*IDN?\n\0"s, "TMV540,12345,092 02/11/01 09:30\r"},
      {"download date", "", "$dia 1\r\n\0FDAT 12Dec25\n$dia 0\r\n\0FDAT?\n"s, "12Dec25\r"},
      {"state query", "", "GPMU?   \n", "MBAR\r"},
      {"state query with argument", "", "GDES? 12\n", "CHAMBER 12\r"},
      {"nothing to store", "", "RDES?  8\n", "\r"},
      {"last state query", "", "VOLC?   \n", "230\r"},
      {"empty state reply", "state-empty=1", "GPMU?   \n", ""},
      {"NUL inside a state reply", "state-nul=1", "GPMU?   \n", "M\0BAR\r"s},
      {"calibration outside diagnostic mode", "", "$afs? 1\n", ""},
      {"unknown command", "", "HELP\n", ""},
      {"power off", "", "$dia 1\r\n\0$ibr\npoff\n*IDN?\n\0"s, ""},
  };
  for (const Case& c : cases) {
    Device device(DefaultMemory(), WithFault(c.fault), nullptr);
    EXPECT_EQ(Out(device.Receive(c.sent)), c.answer) << c.what;
  }
}

TEST(DeviceExchange, IdentityReplyHasTheFieldsWhereTheUpdaterReadsThem) {
  Device device(DefaultMemory(), {}, nullptr);
  device.Receive("\n");
  std::string reply = Out(device.Receive("\nVERB 1\nFREV?\nVRDT?\nFDAT?\nVERB 0\n"));
  ASSERT_GE(reply.size(), 15u);
  EXPECT_EQ(reply.substr(0, 3), "092");
  EXPECT_EQ(reply.substr(5, 13), "02/11/01 09:3");
  EXPECT_EQ(reply.substr(reply.size() - 9, 7), "15Nov02");
}

TEST(DeviceExchange, CalibrationQueriesAreAnsweredInOneBurstInQueryOrder) {
  Device device(DefaultMemory(), {}, nullptr);
  ASSERT_EQ(CalQueryList.size(), 312u);
  Reaction reaction = device.Receive(CalQueryList);
  std::vector<std::string> replies;
  std::string all = Out(reaction);
  for (std::size_t start = 0, cr; (cr = all.find('\r', start)) != std::string::npos; start = cr + 1)
    replies.push_back(all.substr(start, cr - start));
  ASSERT_EQ(replies.size(), 38u);
  const std::vector<StoredItem>& items = CalibrationItems();
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(replies[i], DefaultMemory().calibration.at(items[i].key)) << items[i].key;
    EXPECT_FALSE(replies[i].empty()) << items[i].key;
  }
  for (const Chunk& chunk : reaction.out) EXPECT_EQ(chunk.pause_ms, 0);
  EXPECT_EQ(CalibrationItems()[8].key, "$hbt");
  EXPECT_EQ(CalibrationItems()[26].key, "$hgt 2");
}

TEST(DeviceExchange, CalibrationFaultsDropOrDelayReplies) {
  Device missing(DefaultMemory(), WithFault("cal-missing=3"), nullptr);
  std::string all = Out(missing.Receive(CalQueryList));
  EXPECT_EQ(std::count(all.begin(), all.end(), '\r'), 35);

  Device paused(DefaultMemory(), WithFault("cal-pause=20:300"), nullptr);
  Reaction reaction = paused.Receive(CalQueryList);
  ASSERT_EQ(reaction.out.size(), 38u);
  EXPECT_EQ(reaction.out[19].pause_ms, 300);
  EXPECT_EQ(reaction.out[18].pause_ms, 0);
}

TEST(DeviceExchange, LongStateReplyIsExactly200Bytes) {
  Device device(DefaultMemory(), WithFault("state-200=8"), nullptr);
  std::string reply = Out(device.Receive("GDES?  1\n"));
  EXPECT_EQ(reply.size(), 200u);
  EXPECT_EQ(reply.back(), '\r');
  EXPECT_EQ(reply.find('\r'), 199u);
}

TEST(DeviceExchange, KeepsEveryCommandWithTheBytesThatFollowedIt) {
  Device device(DefaultMemory(), {}, nullptr);
  device.Receive("snum?\n\0SNUM 12345\r\n\n$dia 1\r"s);
  device.Receive("\n\0$afs? 7\n"s);
  const auto& received = device.Received();
  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[0].raw, "snum?\n\0"s);
  EXPECT_EQ(received[1].text, "SNUM 12345");
  EXPECT_EQ(received[1].raw, "SNUM 12345\r\n\n");
  EXPECT_EQ(received[2].raw, "$dia 1\r\n\0"s);
  EXPECT_TRUE(received[2].accepted);
  EXPECT_EQ(received[3].text, "$afs? 7");
  EXPECT_FALSE(received[3].accepted);
  EXPECT_EQ(device.ReceivedBytes(), "snum?\n\0SNUM 12345\r\n\n$dia 1\r\n\0$afs? 7\n"s);
}

TEST(DeviceExchange, RefusesBadValuesAndKeepsTheOldOnes) {
  Device device(DefaultMemory(), {}, nullptr);
  device.Receive("$dia 1\nGPLV  1 fast\n$afs  1 1.2.3\nFDAT 2025-12-12\nRDES  8 VALVE\nSNUM 12345678901234567\n");
  EXPECT_EQ(device.memory(), DefaultMemory());
  for (const Received& item : device.Received()) EXPECT_EQ(item.accepted, item.text == "$dia 1") << item.text;
}

TEST(DevicePower, PoffSwitchesOffAndBytesWhileOffAreIgnored) {
  Device device(DefaultMemory(), {}, nullptr);
  Reaction reaction = device.Receive("$dia 1\n$ibr\npoff\nsnum?\n");
  EXPECT_EQ(Out(reaction), "");
  ASSERT_EQ(reaction.events.size(), 1u);
  EXPECT_EQ(reaction.events[0], Event::SwitchedOff);
  EXPECT_EQ(device.power(), Power::Off);
  EXPECT_EQ(device.Received().back().kind, Received::Kind::Ignored);
  EXPECT_EQ(device.Received().back().raw, "snum?\n");

  // $ibr: the next power-on loads the calibration from flash and resets the settings.
  device.PressPower();
  EXPECT_EQ(device.power(), Power::Running);
  EXPECT_EQ(device.memory().settings, FactorySettings());
  EXPECT_EQ(device.memory().calibration, DefaultMemory().saved_calibration);
  EXPECT_TRUE(device.memory().ram_valid);
}

}  // namespace
}  // namespace sim
