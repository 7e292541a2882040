#pragma once
// The command interpreter of the running firmware: one received line in, its reply and its
// effect on memory out. Replies end in CR; after "VERB 1" in CR LF. Commands that set something
// answer nothing. Unknown commands, bad values and "$" commands outside diagnostic mode
// ("$dia 1") are refused silently.
#include <string>

#include "faults.h"
#include "memory.h"
#include "reaction.h"

namespace sim {

class Commands {
 public:
  Commands(Memory& memory, const Faults& faults) : memory_(memory), faults_(faults) {}

  // A power-on: terse replies, diagnostic mode off.
  void Reset();
  // After new firmware the first `count` identity queries ("*IDN?") go unanswered.
  void IgnoreIdentityQueries(int count) { idn_to_ignore_ = count; }

  // Carries out one line (without its line end and NUL bytes). False when it was refused.
  bool Execute(const std::string& line, Reaction& reaction);

 private:
  void Reply(const std::string& text, Reaction& reaction, int pause_ms = 0);
  bool Query(const std::string& word, const std::string& argument, Reaction& reaction);
  bool Set(const std::string& word, const std::string& rest, Reaction& reaction);
  bool StoredQuery(const std::string& mnemonic, const std::string& argument, Reaction& reaction);
  bool StoredSet(const std::string& mnemonic, const std::string& rest);

  Memory& memory_;
  const Faults& faults_;
  bool verbose_ = false;
  bool diagnostic_ = false;
  int idn_to_ignore_ = 0;
};

}  // namespace sim
