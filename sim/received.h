#pragma once
// What the instrument received, item by item, so a test can check the exact bytes an updater
// sent: each command line with the line ends and NUL bytes that followed it, each firmware file,
// and the bytes it ignored (while off, restarting, or in its loader between files).
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Received {
  enum class Kind { Command, File, Ignored };
  Kind kind = Kind::Command;
  std::string text;      // the command line without line ends and NULs; "file 3" for a file
  std::string raw;       // every byte, as received
  bool accepted = true;  // the command was understood and carried out; the file passed its check
};

class ReceiveLog {
 public:
  void Add(Received::Kind kind, std::string text, std::string raw, bool accepted);
  // Line ends and NUL bytes between commands belong to the command before them.
  void AddTrailing(char byte);
  void AddIgnored(std::string_view bytes);
  // Whatever arrives next starts a new item.
  void Close() { open_ = false; }
  const std::vector<Received>& Items() const { return items_; }

 private:
  std::vector<Received> items_;
  bool open_ = false;
};

}  // namespace sim
