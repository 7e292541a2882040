#pragma once
// The instrument's end of the serial line: the master side of a pseudo-terminal whose other side
// the updater opens, or a real serial device (115200 8N1, raw, RTS/CTS) for a null-modem cable.
#include <memory>
#include <string>

namespace sim {

class Port {
 public:
  static std::unique_ptr<Port> OpenPseudoTerminal(std::string& error);
  static std::unique_ptr<Port> OpenDevice(const std::string& path, std::string& error);
  ~Port();
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  int fd() const { return fd_; }
  // What the updater opens: the pseudo-terminal's slave side, or the device itself.
  const std::string& path() const { return path_; }
  // A pseudo-terminal reports a hang-up while nobody has its slave side open.
  bool pseudo_terminal() const { return pseudoTerminal_; }

 private:
  Port(int fd, std::string path, bool pseudoTerminal)
      : fd_(fd), path_(std::move(path)), pseudoTerminal_(pseudoTerminal) {}
  int fd_;
  std::string path_;
  bool pseudoTerminal_;
};

}  // namespace sim
