#pragma once
// The firmware loader the instrument restarts into when POWER is pressed with IG1 and DEGAS held.
// It prompts "01\r\n" for file 1, waits silently for "*TMV540 " and takes the next 65,648 bytes
// as the file it asked for, checks it, and asks for the next with "0<digit>\r\n": the lowest file
// it does not hold yet, which is the same file again after a failed check. With all eight files
// it answers nothing and programs its flash.
#include <array>
#include <string>
#include <string_view>

#include "faults.h"
#include "reaction.h"
#include "received.h"

namespace sim {

class Loader {
 public:
  enum class Outcome { Working, AllFilesIn, PowerLost, PortVanished };

  Loader(const Faults& faults, ReceiveLog& log, Notes notes) : faults_(faults), log_(log), notes_(std::move(notes)) {}

  // The loader starts afresh: nothing held, the prompt for file 1 sent.
  void Start(Reaction& reaction);
  // Starts without a prompt, as one that has been waiting since an earlier, broken-off upload.
  void StartWaiting();

  // Takes bytes until an outcome other than Working; `used` tells how many it took.
  Outcome Receive(std::string_view bytes, std::size_t& used, Reaction& reaction);

  const std::string& Stamp() const { return stamp_; }
  const std::array<std::string, 8>& Digests() const { return digests_; }

 private:
  Outcome FileComplete(Reaction& reaction);
  void Ask(int file, Reaction& reaction);
  void Reset();

  const Faults& faults_;
  ReceiveLog& log_;
  Notes notes_;
  int wanted_ = 1;
  std::string file_;                    // the file being received, from its "*TMV540 "
  std::string skipped_;                 // bytes before a file start, not yet logged
  std::array<std::string, 8> digests_;  // of the files held, empty for the others
  std::string stamp_;
  bool silent_ = false;
  // Each fault that acts on "file K" does so once per loader session, except bad-check-always.
  bool checkFailed_ = false, wrongRequested_ = false, aborted_ = false, garbled_ = false;
};

}  // namespace sim
