#include "scripted_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "firmware/firmware.h"
#include "firmware/image_layout.h"
#include "platform/serial.h"
#include "platform/ui_thread.h"
#include "ui/port_connection.h"

namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Every firmware file opens with its build stamp line; nothing else on the line does.
constexpr std::string_view FileStart = firmware_layout::Line1;

// A write this far into the line is a file, not one of the short commands before it.
constexpr int WriteUnderWay = 1024;

}  // namespace

ScriptedPeer::ScriptedPeer() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) Fail("posix_openpt");
  char name[128];
  if (ptsname_r(master_, name, sizeof(name)) != 0) Fail("ptsname_r");
  devicePath_ = name;
  slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) Fail("open pty");
  // Raw from the start: the instrument's answers must reach the engine unchanged and unechoed.
  termios t{};
  if (tcgetattr(slave_, &t) != 0) Fail("tcgetattr");
  cfmakeraw(&t);
  if (tcsetattr(slave_, TCSANOW, &t) != 0) Fail("tcsetattr");
  if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) Fail("fcntl");
  wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_ < 0) Fail("eventfd");
  reader_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Wake();
  reader_.join();
  if (master_ >= 0) close(master_);
  if (slave_ >= 0) close(slave_);
  close(wake_);
}

void ScriptedPeer::When(std::string trigger, std::string reply) {
  std::lock_guard lock(mutex_);
  rules_.push_back({std::move(trigger), {std::move(reply)}, false});
}

void ScriptedPeer::WhenInTurn(std::string trigger, std::vector<std::string> replies) {
  std::lock_guard lock(mutex_);
  rules_.push_back({std::move(trigger), std::move(replies), true});
}

void ScriptedPeer::AfterFiles(std::vector<std::string> replies) {
  std::lock_guard lock(mutex_);
  fileReplies_ = std::move(replies);
}

void ScriptedPeer::Send(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  SendLocked(bytes);
}

void ScriptedPeer::HoldReading() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void ScriptedPeer::ResumeReading(bool discard) {
  {
    std::lock_guard lock(mutex_);
    if (discard && !hungUp_) {
      tcflush(master_, TCIFLUSH);
      // A file whose rest was dropped stays cut short.
      if (inFile_) {
        wire_ += "[part of a file]";
        scanned_ = received_.size();
        inFile_ = false;
      }
    }
    held_ = false;
  }
  Wake();
}

int ScriptedPeer::Unread() const {
  std::lock_guard lock(mutex_);
  int count = 0;
  if (!hungUp_) ioctl(master_, FIONREAD, &count);
  return count;
}

void ScriptedPeer::Hangup() {
  std::unique_lock lock(mutex_);
  hangupAsked_ = true;
  Wake();
  // The reader closes the line itself, so no descriptor is closed under its poll().
  changed_.wait(lock, [this] { return hungUp_; });
}

std::string ScriptedPeer::Wire() const {
  std::lock_guard lock(mutex_);
  if (inFile_) return wire_ + "[part of a file]";
  return wire_ + received_.substr(scanned_);
}

std::vector<int> ScriptedPeer::Files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

void ScriptedPeer::WaitForFiles(std::size_t count) const {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return files_.size() >= count; });
}

void ScriptedPeer::Run() {
  std::vector<char> buffer(FirmwareFileSize);
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (hangupAsked_ && !hungUp_) {
      close(master_);
      close(slave_);
      master_ = slave_ = -1;
      hungUp_ = true;
      changed_.notify_all();
    }
    pollfd fds[2] = {{wake_, POLLIN, 0}, {held_ || hungUp_ ? -1 : master_, POLLIN, 0}};
    lock.unlock();
    poll(fds, 2, -1);
    lock.lock();
    if (fds[0].revents != 0) {
      eventfd_t drained;
      eventfd_read(wake_, &drained);
    }
    // HoldReading() may have come in meanwhile: then nothing more is taken.
    if ((fds[1].revents & POLLIN) && !held_ && !hungUp_) {
      const ssize_t n = read(master_, buffer.data(), buffer.size());
      if (n > 0) {
        received_.append(buffer.data(), static_cast<std::size_t>(n));
        Process();
      }
    }
  }
}

void ScriptedPeer::Process() {
  for (;;) {
    if (inFile_) {
      if (received_.size() - scanned_ < FirmwareFileSize) return;
      FileDone();
      continue;
    }
    const std::size_t start = received_.find(FileStart, scanned_);
    std::size_t end = start;
    if (start == std::string::npos) {
      // Hold back what may be the beginning of a file that is still arriving.
      end = received_.size();
      for (std::size_t k = std::min(FileStart.size() - 1, received_.size() - scanned_); k > 0; --k) {
        if (received_.compare(received_.size() - k, k, FileStart, 0, k) == 0) {
          end = received_.size() - k;
          break;
        }
      }
    }
    if (end > scanned_) {
      const std::string_view text(received_.data() + scanned_, end - scanned_);
      wire_ += text;
      scanned_ = end;
      ApplyRules(text);
    }
    if (start == std::string::npos) return;
    inFile_ = true;
    text_.clear();
  }
}

void ScriptedPeer::ApplyRules(std::string_view text) {
  text_ += text;
  for (;;) {
    Rule* first = nullptr;
    std::size_t firstEnd = std::string::npos;
    for (Rule& rule : rules_) {
      const std::size_t at = text_.find(rule.trigger);
      if (at != std::string::npos && at + rule.trigger.size() < firstEnd) {
        first = &rule;
        firstEnd = at + rule.trigger.size();
      }
    }
    if (!first) return;
    text_.erase(0, firstEnd);
    const std::size_t turn = first->fired++;
    if (!first->inTurn)
      SendLocked(first->replies.front());
    else if (turn < first->replies.size())
      SendLocked(first->replies[turn]);
  }
}

void ScriptedPeer::FileDone() {
  const auto* file = reinterpret_cast<const std::uint8_t*>(received_.data() + scanned_);
  int number = 0;
  for (int k = 1; k <= FirmwareFileCount && number == 0; ++k)
    if (std::memcmp(file, FirmwareImage + static_cast<std::size_t>(k - 1) * FirmwareFileSize, FirmwareFileSize) == 0)
      number = k;
  wire_ += number ? "[file " + std::to_string(number) + "]" : std::string("[file ?]");
  scanned_ += FirmwareFileSize;
  inFile_ = false;
  files_.push_back(number);
  changed_.notify_all();
  if (files_.size() <= fileReplies_.size()) SendLocked(fileReplies_[files_.size() - 1]);
}

void ScriptedPeer::Wake() { eventfd_write(wake_, 1); }

void ScriptedPeer::SendLocked(std::string_view bytes) {
  if (hungUp_) return;
  while (!bytes.empty()) {
    const ssize_t n = write(master_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EAGAIN) {
      pollfd out = {master_, POLLOUT, 0};
      poll(&out, 1, 100);
    } else if (n < 0 && errno != EINTR) {
      return;
    }
  }
}

void WaitForWriteUnderWay(const ScriptedPeer& peer) {
  while (peer.Unread() < WriteUnderWay && Worker) platform::UiSleep(10);
}

void FailWriteInProgress(const ScriptedPeer& peer) {
  WaitForWriteUnderWay(peer);
  // The call has begun once its bytes are on the line, so the abort cannot miss it.
  PurgeComm(PortHandle, PURGE_TXABORT);
}
