#pragma once
// The simulated instrument without its port or its clock: front panel, power, the running
// firmware's command interpreter and the loader. Bytes in, bytes out (with pauses to keep) and
// memory changes; pure, so the exchanges can be tested byte for byte.
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "faults.h"
#include "loader.h"
#include "memory.h"
#include "reaction.h"
#include "received.h"

namespace sim {

enum class Power {
  Off,
  Running,     // under its firmware
  Loader,      // in its firmware loader
  Restarting,  // programming its flash and restarting under the new firmware; deaf and silent
};

const char* PowerName(Power power);

struct DeviceOptions {
  Faults faults;
  Power start = Power::Running;     // Loader: waiting in its loader since an earlier upload broke off
  std::string new_version = "093";  // the version the loader's files install
  int restart_ms = 1500;            // from the eighth file until the new firmware answers
};

class Device {
 public:
  Device(Memory memory, DeviceOptions options, Notes notes);
  Device(const Device&) = delete;  // its parts hold references into it
  Device& operator=(const Device&) = delete;

  Reaction Receive(std::string_view bytes);
  Reaction PressPower();
  Reaction PressPowerWithIg1Degas();  // POWER while holding IG1 and DEGAS
  // The pause asked for by Reaction::restart_in_ms has passed.
  Reaction Wake();

  Power power() const { return power_; }
  const Memory& memory() const { return memory_; }
  const std::vector<sim::Received>& Received() const { return log_.Items(); }
  const std::string& ReceivedBytes() const { return bytes_; }

 private:
  void ReceiveLine(char byte, Reaction& reaction);
  void ExecuteLine(char terminator, Reaction& reaction);
  void SwitchOn();
  void SwitchOff(const std::string& why);
  void Program(Reaction& reaction);
  void Note(const std::string& text) {
    if (notes_) notes_(text);
  }

  Memory memory_;
  DeviceOptions options_;
  Notes notes_;
  Power power_;
  Commands commands_;
  ReceiveLog log_;
  Loader loader_;
  std::string bytes_;    // every byte received
  std::string line_;     // the command line being received, without NULs
  std::string lineRaw_;  // its bytes as received
  bool lineTooLong_ = false;
};

}  // namespace sim
