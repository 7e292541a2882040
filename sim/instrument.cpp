#include "instrument.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {
namespace {

using platform::Clock;
using std::chrono::milliseconds;

// Ten bits a byte at 115200 baud.
constexpr double ByteMicroseconds = 1e6 * 10 / 115200;
// Paced input is taken in small reads, as a UART hands it over.
constexpr std::size_t PacedRead = 16;
// How late poll() may wake us for a paced read that was due (its time-out is in whole ms).
constexpr auto LateWakeUp = std::chrono::milliseconds(2);
// How often a pseudo-terminal nobody has open is looked at again.
constexpr milliseconds HangUpRecheck{2};

int PollTimeoutMs(Clock::time_point now, const Clock::time_point* next) {
  if (!next) return -1;
  if (*next <= now) return 0;
  return int(std::chrono::ceil<milliseconds>(*next - now).count());
}

}  // namespace

Instrument::Instrument(Options options)
    : options_(std::move(options)),
      transcript_(options_.transcript_path, options_.keep_transcript),
      device_(options_.memory, options_.device, [this](std::string_view text) { transcript_.Note(text); }) {}

Instrument::~Instrument() { Stop(); }

bool Instrument::Start(std::string& error) {
  if (!transcript_.ok()) {
    error = "cannot write the transcript " + options_.transcript_path;
    return false;
  }
  port_ =
      options_.device_path.empty() ? Port::OpenPseudoTerminal(error) : Port::OpenDevice(options_.device_path, error);
  if (!port_) return false;
  path_ = port_->path();
  hungUp_ = port_->pseudo_terminal();
  if (!options_.link_path.empty()) {
    struct stat info {};
    if (lstat(options_.link_path.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
      error = options_.link_path + " exists and is not a symbolic link";
      port_.reset();
      return false;
    }
    unlink(options_.link_path.c_str());
    if (symlink(path_.c_str(), options_.link_path.c_str()) != 0) {
      error = "cannot create the link " + options_.link_path + ": " + std::strerror(errno);
      port_.reset();
      return false;
    }
  }
  if (pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    ClosePort();
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    transcript_.Note("line open on " + path_ + (options_.pace ? ", paced at 115200 baud" : ""));
  }
  thread_ = std::thread(&Instrument::Run, this);
  return true;
}

void Instrument::Stop() {
  if (thread_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    Wakeup();
    thread_.join();
  }
  std::lock_guard lock(mutex_);
  ClosePort();
  for (int& fd : wakePipe_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

std::string Instrument::Path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

void Instrument::PressPower() {
  std::lock_guard lock(mutex_);
  Apply(device_.PressPower());
  Wakeup();
}

void Instrument::PressPowerWithIg1Degas() {
  std::lock_guard lock(mutex_);
  Apply(device_.PressPowerWithIg1Degas());
  Wakeup();
}

void Instrument::VanishPort() {
  std::lock_guard lock(mutex_);
  vanish_ = true;
  Wakeup();
}

Power Instrument::power() const {
  std::lock_guard lock(mutex_);
  return device_.power();
}

bool Instrument::WaitForPower(Power power, int protocol_ms) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, Clock::now() + platform::Scaled(milliseconds(protocol_ms)),
                             [&] { return device_.power() == power; });
}

Memory Instrument::memory() const {
  std::lock_guard lock(mutex_);
  return device_.memory();
}

std::vector<sim::Received> Instrument::Received() const {
  std::lock_guard lock(mutex_);
  return device_.Received();
}

std::string Instrument::ReceivedBytes() const {
  std::lock_guard lock(mutex_);
  return device_.ReceivedBytes();
}

std::string Instrument::Transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_.Text();
}

Clock::duration Instrument::ByteTime() const {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::micro>(ByteMicroseconds * platform::TimeScale()));
}

bool Instrument::Paced() const { return options_.pace && ByteTime() > Clock::duration::zero(); }

void Instrument::Wakeup() const {
  if (wakePipe_[1] >= 0) [[maybe_unused]]
    auto n = write(wakePipe_[1], "!", 1);
}

void Instrument::Apply(const Reaction& reaction) {
  auto now = Clock::now();
  for (const Chunk& chunk : reaction.out) {
    auto due = std::max(now, lineFreeAt_) + platform::Scaled(milliseconds(chunk.pause_ms));
    out_.push_back({due, chunk.bytes});
    lineFreeAt_ = due + (Paced() ? ByteTime() * long(chunk.bytes.size()) : Clock::duration::zero());
  }
  auto later = [&](int protocolMs) { return now + platform::Scaled(milliseconds(protocolMs)); };
  if (reaction.restart_in_ms >= 0) timers_.push_back({later(reaction.restart_in_ms), Action::Wake});
  for (Event event : reaction.events) {
    if (event == Event::PortVanished) vanish_ = true;
    if (!options_.auto_operator) continue;
    if (event == Event::StateBackupDone) {
      transcript_.Note("operator: restarting into the loader");
      timers_.push_back({later(options_.operator_delay_ms), Action::Power});
      timers_.push_back({later(2 * options_.operator_delay_ms), Action::PowerToLoader});
    } else if (event == Event::SwitchedOff) {
      transcript_.Note("operator: switching it on again");
      timers_.push_back({later(2 * options_.operator_delay_ms), Action::Power});
    }
  }
  changed_.notify_all();
}

void Instrument::RunTimers() {
  auto now = Clock::now();
  std::vector<Timer> due;
  auto split = std::stable_partition(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.at > now; });
  due.assign(split, timers_.end());
  timers_.erase(split, timers_.end());
  std::stable_sort(due.begin(), due.end(), [](const Timer& a, const Timer& b) { return a.at < b.at; });
  for (const Timer& timer : due) {
    if (timer.action == Action::Wake) Apply(device_.Wake());
    if (timer.action == Action::Power) Apply(device_.PressPower());
    if (timer.action == Action::PowerToLoader) Apply(device_.PressPowerWithIg1Degas());
  }
}

void Instrument::WriteDue() {
  auto now = Clock::now();
  if (port_ && port_->pseudo_terminal() && !out_.empty()) {
    // The updater may have closed its side since the last look: what it would miss is lost.
    pollfd line{port_->fd(), 0, 0};
    if (poll(&line, 1, 0) >= 0) hungUp_ = line.revents & POLLHUP;
  }
  while (!out_.empty() && out_.front().due <= now && !waitingToWrite_) {
    Pending& next = out_.front();
    if (!port_ || hungUp_) {
      transcript_.Note("lost, nobody has the line open: " + Transcript::Escape(next.bytes));
      out_.pop_front();
      continue;
    }
    std::size_t count = next.bytes.size();
    if (Paced()) {
      // A byte goes out once the line has had the time to carry it.
      auto carried = std::size_t((now - next.due) / ByteTime());
      count = std::min(count, carried);
      if (count == 0) return;
    }
    ssize_t written = write(port_->fd(), next.bytes.data(), count);
    if (written < 0) {
      if (errno == EAGAIN)
        waitingToWrite_ = true;
      else if (errno == EIO)
        hungUp_ = true;
      else {
        transcript_.Note(std::string("write failed: ") + std::strerror(errno));
        out_.pop_front();
      }
      continue;
    }
    transcript_.Sent(next.bytes.substr(0, std::size_t(written)));
    next.bytes.erase(0, std::size_t(written));
    next.due += ByteTime() * long(Paced() ? written : 0);
    if (next.bytes.empty())
      out_.pop_front();
    else if (!Paced())
      waitingToWrite_ = true;
  }
}

void Instrument::ReadInput() {
  char buffer[4096];
  ssize_t count = read(port_->fd(), buffer, Paced() ? PacedRead : sizeof buffer);
  if (count < 0 && errno == EIO) hungUp_ = true;  // the last opener of the slave side closed it
  if (count <= 0) return;
  auto now = Clock::now();
  transcript_.Received(std::string_view(buffer, std::size_t(count)));
  Apply(device_.Receive(std::string_view(buffer, std::size_t(count))));
  if (Paced()) {
    // Bytes that were already waiting came over the line back to back, so the line's schedule
    // goes on from where it was; a late wake-up must not stretch it. After a quiet spell the
    // line's clock starts again now.
    const auto start = now - nextReadAt_ < LateWakeUp ? nextReadAt_ : now;
    nextReadAt_ = start + ByteTime() * long(count);
  }
}

void Instrument::ClosePort() {
  if (!port_) return;
  if (!options_.link_path.empty()) unlink(options_.link_path.c_str());
  port_.reset();
  transcript_.Note("line closed");
}

void Instrument::Run() {
  for (;;) {
    std::unique_lock lock(mutex_);
    if (stop_) return;
    RunTimers();
    if (vanish_) ClosePort();
    WriteDue();

    auto now = Clock::now();
    const Clock::time_point* next = nullptr;
    Clock::time_point wakeAt{};
    auto consider = [&](Clock::time_point t) {
      if (!next || t < wakeAt) wakeAt = t, next = &wakeAt;
    };
    if (!out_.empty() && !waitingToWrite_) {
      const Pending& front = out_.front();
      consider(Paced() && front.due <= now ? front.due + ByteTime() * long(std::min(front.bytes.size(), PacedRead))
                                           : front.due);
    }
    for (const Timer& timer : timers_) consider(timer.at);
    int fd = port_ ? port_->fd() : -1;
    bool wantRead = fd >= 0 && now >= nextReadAt_;
    if (fd >= 0 && !wantRead) consider(nextReadAt_);
    short events = short((wantRead ? POLLIN : 0) | (waitingToWrite_ ? POLLOUT : 0));
    bool hungUp = hungUp_;
    lock.unlock();

    int timeout = PollTimeoutMs(now, next);
    pollfd fds[2] = {{wakePipe_[0], POLLIN, 0}, {fd, events, 0}};
    if (hungUp && fd >= 0) {
      // A hung-up pseudo-terminal reports POLLHUP at once; look again a little later.
      int pause = int(HangUpRecheck.count());
      poll(fds, 1, timeout < 0 ? pause : std::min(timeout, pause));
      timeout = 0;
    }
    poll(fds, fd >= 0 ? 2 : 1, timeout);
    if (fds[0].revents & POLLIN) {
      char drain[64];
      while (read(wakePipe_[0], drain, sizeof drain) > 0) {
      }
    }
    if (fd < 0) continue;
    lock.lock();
    if (!port_) continue;
    hungUp_ = port_->pseudo_terminal() && (fds[1].revents & POLLHUP);
    if (fds[1].revents & POLLOUT) waitingToWrite_ = false;
    if (fds[1].revents & POLLIN) ReadInput();
  }
}

}  // namespace sim
