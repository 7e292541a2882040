#pragma once
// What the instrument does in answer to something: bytes to send, each after a pause of protocol
// time, and events that the code around it acts on.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Chunk {
  int pause_ms = 0;  // protocol time to wait before these bytes go out
  std::string bytes;
};

enum class Event {
  StateBackupDone,  // the last state query (VOLC?) was answered
  SwitchedOff,      // it switched itself off ("poff")
  PortVanished,     // a fault asks for the port to be closed under the updater
};

struct Reaction {
  std::vector<Chunk> out;
  std::vector<Event> events;
  int restart_in_ms = -1;  // call Wake() after this much protocol time
};

// Where the instrument writes what it does, for the transcript.
using Notes = std::function<void(std::string_view)>;

}  // namespace sim
