#pragma once
// A simulated TMV540 on a serial line: a pseudo-terminal of its own (or a real serial device),
// one thread that reads the line, runs the instrument and writes its replies, paced at 115200
// baud when asked. Every pause goes through the scalable protocol clock. Several instruments can
// run side by side in one process. All calls are thread-safe.
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device.h"
#include "memory.h"
#include "platform/clock.h"
#include "port.h"
#include "transcript.h"

namespace sim {

struct Options {
  Memory memory = DefaultMemory();
  DeviceOptions device;          // faults, power state at start, new firmware version, restart time
  bool pace = false;             // take and send bytes no faster than 115200 baud (10 bits a byte)
  bool auto_operator = false;    // work the front panel as the updater's log asks
  int operator_delay_ms = 1000;  // how long the automatic operator takes for each step
  std::string device_path;       // a real serial device instead of a pseudo-terminal
  std::string link_path;         // also make this symbolic link to the updater's side
  std::string transcript_path;   // write the transcript to this file
  bool keep_transcript = false;  // keep the transcript in memory (Transcript())
};

class Instrument {
 public:
  explicit Instrument(Options options);
  ~Instrument();  // stops it
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // Opens the line and starts the instrument's thread; false with a message on failure.
  bool Start(std::string& error);
  void Stop();
  // The path the updater opens: the pseudo-terminal's slave side or the device.
  std::string Path() const;

  // Front panel.
  void PressPower();
  void PressPowerWithIg1Degas();
  // Closes the line under the updater, as a USB adapter that is pulled out.
  void VanishPort();

  Power power() const;
  // Waits up to `protocol_ms` of protocol time for the power state; true when it was reached.
  bool WaitForPower(Power power, int protocol_ms) const;
  Memory memory() const;
  std::vector<sim::Received> Received() const;
  std::string ReceivedBytes() const;
  std::string Transcript() const;

 private:
  struct Pending {
    platform::Clock::time_point due;
    std::string bytes;
  };
  enum class Action { Wake, Power, PowerToLoader };
  struct Timer {
    platform::Clock::time_point at;
    Action action;
  };

  void Run();
  void Apply(const Reaction& reaction);  // with mutex_ held
  void RunTimers();                      // with mutex_ held
  void WriteDue();                       // with mutex_ held
  void ReadInput();
  void ClosePort();  // with mutex_ held
  platform::Clock::duration ByteTime() const;
  bool Paced() const;
  void Wakeup() const;

  Options options_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  sim::Transcript transcript_;
  Device device_;
  std::unique_ptr<Port> port_;
  std::string path_;
  std::thread thread_;
  int wakePipe_[2] = {-1, -1};
  bool stop_ = false;
  bool vanish_ = false;
  bool hungUp_ = false;          // nobody has the pseudo-terminal's slave side open
  bool waitingToWrite_ = false;  // the line is full; wait until it takes more
  std::deque<Pending> out_;
  std::vector<Timer> timers_;
  platform::Clock::time_point lineFreeAt_{};  // when the last queued byte has gone out
  platform::Clock::time_point nextReadAt_{};  // paced input: when the line has delivered more
};

}  // namespace sim
