#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/clock.h"

namespace {

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;

thread_local DWORD lastError = 0;

BOOL Fail(int error) {
  lastError = static_cast<DWORD>(error);
  return FALSE;
}

// One open port. Reads and writes on another thread are ended by bumping `abortEpoch` and
// signalling `wakeFd`, which every poll() also watches: a call fails when the epoch it started
// under has changed. The wake descriptor stays readable until the last call it was meant for has
// left (`unwoken`), so two calls on one port never steal each other's wake-up.
struct Port {
  int fd = -1;
  int wakeFd = -1;
  termios original{};

  std::mutex m;
  std::condition_variable changed;
  COMMTIMEOUTS timeouts{};
  bool closing = false;  // also ends calls that found the port just before it left the registry
  int users = 0;         // calls inside the port; CloseHandle waits until none is left
  int waiters = 0;       // reads and writes among them, which an abort ends
  unsigned abortEpoch = 0;
  int unwoken = 0;  // waiters started before the last abort that have not left yet

  Port() = default;
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;
  ~Port() { CloseDescriptors(); }

  void CloseDescriptors() {
    if (fd >= 0) close(fd);
    if (wakeFd >= 0) close(wakeFd);
    fd = wakeFd = -1;
  }

  void AbortCalls() {
    std::lock_guard lock(m);
    ++abortEpoch;
    unwoken = waiters;
    if (waiters > 0) eventfd_write(wakeFd, 1);
    changed.notify_all();
  }
};

std::mutex registryMutex;
std::map<HANDLE, std::shared_ptr<Port>> registry;
HANDLE lastHandle = 0;

// A call's hold on its port: while it lasts, CloseHandle waits and the descriptors stay open.
// A handle that is unknown or already closed yields no port.
class PortUse {
 public:
  explicit PortUse(HANDLE handle) {
    std::lock_guard registryLock(registryMutex);
    auto it = registry.find(handle);
    if (it == registry.end()) return;
    port_ = it->second;
    std::lock_guard lock(port_->m);
    ++port_->users;
  }
  ~PortUse() {
    if (!port_) return;
    std::lock_guard lock(port_->m);
    --port_->users;
    port_->changed.notify_all();
  }
  PortUse(const PortUse&) = delete;
  PortUse& operator=(const PortUse&) = delete;

  explicit operator bool() const { return port_ != nullptr; }
  Port& operator*() const { return *port_; }
  Port* operator->() const { return port_.get(); }

 private:
  std::shared_ptr<Port> port_;
};

// A read or write in progress, which PurgeComm and CloseHandle can end.
class Waiter {
 public:
  explicit Waiter(Port& port) : port_(port) {
    std::lock_guard lock(port_.m);
    ++port_.waiters;
    epoch_ = port_.abortEpoch;
  }
  ~Waiter() {
    std::lock_guard lock(port_.m);
    --port_.waiters;
    if (epoch_ != port_.abortEpoch && --port_.unwoken == 0) {
      eventfd_t drained;
      eventfd_read(port_.wakeFd, &drained);
      port_.changed.notify_all();
    }
  }
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  bool Aborted() {
    std::lock_guard lock(port_.m);
    return port_.closing || epoch_ != port_.abortEpoch;
  }

  // The wake descriptor fired for calls older than this one: let them leave, so it is drained,
  // instead of polling it again and again.
  void LetOlderCallsLeave() {
    std::unique_lock lock(port_.m);
    port_.changed.wait(lock, [this] { return port_.unwoken == 0 || port_.closing || epoch_ != port_.abortEpoch; });
  }

 private:
  Port& port_;
  unsigned epoch_;
};

enum class Wait { Ready, TimedOut, Aborted, Failed };

// Waits until `fd` is ready for `events` (revents in *ready), the deadline has passed or the call
// is aborted. With fd < 0 only the deadline or an abort ends the wait.
Wait WaitFor(Port& port, Waiter& call, int fd, short events, const std::optional<platform::Deadline>& deadline,
             short* ready) {
  for (;;) {
    if (call.Aborted()) return Wait::Aborted;
    pollfd fds[2] = {{port.wakeFd, POLLIN, 0}, {fd, events, 0}};
    int result = poll(fds, 2, deadline ? deadline->RemainingMs() : -1);
    if (result < 0) {
      if (errno == EINTR) continue;
      return Wait::Failed;
    }
    if (fds[0].revents != 0) {
      if (call.Aborted()) return Wait::Aborted;
      call.LetOlderCallsLeave();
      continue;
    }
    if (fds[1].revents != 0) {
      *ready = fds[1].revents;
      return Wait::Ready;
    }
    if (deadline && deadline->Expired()) return Wait::TimedOut;
  }
}

constexpr short kLineGone = POLLHUP | POLLERR | POLLNVAL;

// The read's total time-out. All read fields 0 means none: the read waits for its whole count.
// An interval alone gives a total of 0: the read takes what is there and returns.
std::optional<platform::Deadline> ReadDeadline(const COMMTIMEOUTS& t, DWORD count) {
  if (t.ReadIntervalTimeout == 0 && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0)
    return std::nullopt;
  std::uint64_t ms = std::uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
  // Capped at about 24 days, which keeps poll()'s int milliseconds from overflowing.
  return platform::Deadline(std::chrono::milliseconds(std::min<std::uint64_t>(ms, INT_MAX)));
}

// A total time-out over the whole count, which VMIN/VTIME cannot express (VTIME is a gap between
// bytes), so the descriptor stays non-blocking and poll() waits against the deadline.
BOOL ReadPort(HANDLE handle, BYTE* buffer, DWORD count, DWORD& got) {
  PortUse port(handle);
  if (!port) return Fail(EBADF);
  if (count == 0) return TRUE;
  if (buffer == nullptr) return Fail(EINVAL);
  COMMTIMEOUTS timeouts;
  {
    std::lock_guard lock(port->m);
    timeouts = port->timeouts;
  }
  auto deadline = ReadDeadline(timeouts, count);
  Waiter call(*port);
  short lastReady = 0;
  while (got < count) {
    ssize_t n = read(port->fd, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    // EIO (a pseudo-terminal whose other side closed, a USB adapter pulled) or nothing to read
    // from a line that reports hang-up: the device is gone.
    bool gone = (n < 0 && errno != EAGAIN) || (lastReady & kLineGone) != 0;
    switch (WaitFor(*port, call, gone ? -1 : port->fd, POLLIN, deadline, &lastReady)) {
      case Wait::Ready:
        continue;
      case Wait::TimedOut:
        // A gone device still costs the caller its time-out, so a polling loop cannot spin on it.
        return gone ? Fail(EIO) : TRUE;
      case Wait::Aborted:
        return Fail(ECANCELED);
      case Wait::Failed:
        return Fail(errno);
    }
  }
  return TRUE;
}

// No write time-out: the call ends when every byte is taken, when it is aborted, or at once when
// the device is gone.
BOOL WritePort(HANDLE handle, const BYTE* data, DWORD count, DWORD& sent) {
  PortUse port(handle);
  if (!port) return Fail(EBADF);
  if (data == nullptr && count > 0) return Fail(EINVAL);
  Waiter call(*port);
  while (sent < count) {
    ssize_t n = write(port->fd, data + sent, count - sent);
    if (n > 0) {
      sent += static_cast<DWORD>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return Fail(errno);
    short ready = 0;
    switch (WaitFor(*port, call, port->fd, POLLOUT, std::nullopt, &ready)) {
      case Wait::Ready:
        if (ready & kLineGone) return Fail(EIO);
        continue;
      case Wait::TimedOut:  // no deadline: cannot happen
      case Wait::Aborted:
        return Fail(ECANCELED);
      case Wait::Failed:
        return Fail(errno);
    }
  }
  return TRUE;
}

struct BaudRate {
  DWORD rate;
  speed_t code;
};
constexpr BaudRate kBaudRates[] = {{110, B110},       {300, B300},      {600, B600},       {1200, B1200},
                                   {2400, B2400},     {4800, B4800},    {9600, B9600},     {19200, B19200},
                                   {38400, B38400},   {57600, B57600},  {115200, B115200}, {230400, B230400},
                                   {460800, B460800}, {921600, B921600}};

// The termios bits the line settings decide; everything else stays as the device has it.
constexpr tcflag_t kInputBits =
    IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK;
constexpr tcflag_t kLocalBits = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t kControlBits = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CLOCAL | CREAD;

// Raw both ways: firmware images hold every byte value, and CR, LF, ^C, XON and XOFF must pass
// unchanged. Returns nothing for settings the line cannot take.
std::optional<termios> TermiosFor(const DCB& dcb, termios t) {
  auto baud = std::find_if(std::begin(kBaudRates), std::end(kBaudRates),
                           [&](const BaudRate& b) { return b.rate == dcb.BaudRate; });
  if (baud == std::end(kBaudRates)) return std::nullopt;
  tcflag_t control = CLOCAL | CREAD;
  switch (dcb.ByteSize) {
    case 5:
      control |= CS5;
      break;
    case 6:
      control |= CS6;
      break;
    case 7:
      control |= CS7;
      break;
    case 8:
      control |= CS8;
      break;
    default:
      return std::nullopt;
  }
  switch (dcb.Parity) {
    case NOPARITY:
      break;
    case ODDPARITY:
      control |= PARENB | PARODD;
      break;
    case EVENPARITY:
      control |= PARENB;
      break;
    default:
      return std::nullopt;
  }
  switch (dcb.StopBits) {
    case ONESTOPBIT:
      break;
    case TWOSTOPBITS:
      control |= CSTOPB;
      break;
    default:
      return std::nullopt;
  }
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) control |= CRTSCTS;

  t.c_iflag = (t.c_iflag & ~kInputBits) | (dcb.fParity ? INPCK : 0);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~kLocalBits;
  t.c_cflag = (t.c_cflag & ~kControlBits) | control;
  // The descriptor is non-blocking and poll() paces reads; VMIN 1 makes an empty read say EAGAIN
  // rather than 0, which then only a hung-up line returns.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, baud->code);
  cfsetospeed(&t, baud->code);
  return t;
}

bool SameLine(const termios& a, const termios& b) {
  return (a.c_iflag & kInputBits) == (b.c_iflag & kInputBits) && (a.c_oflag & OPOST) == (b.c_oflag & OPOST) &&
         (a.c_lflag & kLocalBits) == (b.c_lflag & kLocalBits) &&
         (a.c_cflag & kControlBits) == (b.c_cflag & kControlBits) && cfgetispeed(&a) == cfgetispeed(&b) &&
         cfgetospeed(&a) == cfgetospeed(&b);
}

// A pseudo-terminal has no modem lines and rejects these requests; that is no failure.
bool SetModemLine(int fd, int line, bool on) {
  if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
  return errno == ENOTTY || errno == EINVAL;
}

// "COM1" to "COM4", in any letter case as the system these names come from takes them: 1 to 4.
int ComNumber(const char* name) {
  if (strncasecmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '4' || name[4] != '\0') return 0;
  return name[3] - '0';
}

}  // namespace

HANDLE CreateFileA(const char* fileName, DWORD /*desiredAccess*/, DWORD /*shareMode*/, void* /*securityAttributes*/,
                   DWORD /*creationDisposition*/, DWORD /*flagsAndAttributes*/, HANDLE /*templateFile*/) {
  // A port is always opened existing, for reading and writing, and for this program alone.
  if (fileName == nullptr) {
    Fail(EINVAL);
    return INVALID_HANDLE_VALUE;
  }
  auto port = std::make_shared<Port>();
  std::string path = ComDevicePath(fileName);
  port->fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (port->fd < 0 || tcgetattr(port->fd, &port->original) != 0) {
    Fail(errno);
    return INVALID_HANDLE_VALUE;
  }
  // TIOCEXCL turns away other openers but not root; the lock also stops a second open by root
  // and from within this process.
  if (flock(port->fd, LOCK_EX | LOCK_NB) != 0) {
    Fail(errno == EWOULDBLOCK ? EBUSY : errno);
    return INVALID_HANDLE_VALUE;
  }
  ioctl(port->fd, TIOCEXCL);
  port->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (port->wakeFd < 0) {
    Fail(errno);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard lock(registryMutex);
  HANDLE handle = ++lastHandle;
  registry[handle] = std::move(port);
  return handle;
}

BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts) {
  PortUse port(handle);
  if (!port) return Fail(EBADF);
  if (timeouts == nullptr) return Fail(EINVAL);
  std::lock_guard lock(port->m);
  *timeouts = port->timeouts;
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts) {
  PortUse port(handle);
  if (!port) return Fail(EBADF);
  if (timeouts == nullptr) return Fail(EINVAL);
  std::lock_guard lock(port->m);
  port->timeouts = *timeouts;
  return TRUE;
}

BOOL GetCommState(HANDLE handle, DCB* dcb) {
  PortUse port(handle);
  if (!port) return Fail(EBADF);
  if (dcb == nullptr) return Fail(EINVAL);
  termios t;
  if (tcgetattr(port->fd, &t) != 0) return Fail(errno);
  DCB state{};
  state.DCBlength = dcb->DCBlength;
  speed_t speed = cfgetospeed(&t);
  for (const auto& b : kBaudRates)
    if (b.code == speed) state.BaudRate = b.rate;
  state.fBinary = 1;
  state.fParity = (t.c_iflag & INPCK) != 0;
  bool handshake = (t.c_cflag & CRTSCTS) != 0;
  state.fOutxCtsFlow = handshake;
  state.fOutX = (t.c_iflag & IXON) != 0;
  state.fInX = (t.c_iflag & IXOFF) != 0;
  // Without modem lines (a pseudo-terminal) report them raised, as a serial port opens.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(port->fd, TIOCMGET, &lines);
  state.fDtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  state.fRtsControl = handshake             ? RTS_CONTROL_HANDSHAKE
                      : (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE
                                            : RTS_CONTROL_DISABLE;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      state.ByteSize = 5;
      break;
    case CS6:
      state.ByteSize = 6;
      break;
    case CS7:
      state.ByteSize = 7;
      break;
    default:
      state.ByteSize = 8;
      break;
  }
  state.Parity = !(t.c_cflag & PARENB) ? NOPARITY : (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  state.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  *dcb = state;
  return TRUE;
}

BOOL SetCommState(HANDLE handle, const DCB* dcb) {
  PortUse port(handle);
  if (!port) return Fail(EBADF);
  if (dcb == nullptr) return Fail(EINVAL);
  termios current;
  if (tcgetattr(port->fd, &current) != 0) return Fail(errno);
  auto wanted = TermiosFor(*dcb, current);
  if (!wanted) return Fail(EINVAL);
  if (tcsetattr(port->fd, TCSANOW, &*wanted) != 0) return Fail(errno);
  if (!SetModemLine(port->fd, TIOCM_DTR, dcb->fDtrControl != DTR_CONTROL_DISABLE)) return Fail(errno);
  if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE &&
      !SetModemLine(port->fd, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE))
    return Fail(errno);
  // tcsetattr succeeds when any part of the request took effect, and drivers quietly drop what
  // their hardware cannot do: only reading the settings back tells whether the line runs as asked.
  termios actual;
  if (tcgetattr(port->fd, &actual) != 0) return Fail(errno);
  return SameLine(*wanted, actual) ? TRUE : Fail(EINVAL);
}

BOOL PurgeComm(HANDLE handle, DWORD flags) {
  PortUse port(handle);
  if (!port) return Fail(EBADF);
  // Either abort flag ends whatever call is in progress, so no thread is left waiting on the line.
  if (flags & (PURGE_TXABORT | PURGE_RXABORT)) port->AbortCalls();
  bool input = flags & PURGE_RXCLEAR;
  bool output = flags & PURGE_TXCLEAR;
  if (!input && !output) return TRUE;
  int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  return tcflush(port->fd, queue) == 0 ? TRUE : Fail(errno);
}

BOOL ReadFile(HANDLE port, void* buffer, DWORD count, DWORD* bytesRead, void* /*overlapped*/) {
  DWORD got = 0;
  BOOL ok = ReadPort(port, static_cast<BYTE*>(buffer), count, got);
  if (bytesRead != nullptr) *bytesRead = got;
  return ok;
}

BOOL WriteFile(HANDLE port, const void* data, DWORD count, DWORD* bytesWritten, void* /*overlapped*/) {
  DWORD sent = 0;
  BOOL ok = WritePort(port, static_cast<const BYTE*>(data), count, sent);
  if (bytesWritten != nullptr) *bytesWritten = sent;
  return ok;
}

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<Port> port;
  {
    std::lock_guard lock(registryMutex);
    auto it = registry.find(handle);
    if (it == registry.end()) return Fail(EBADF);
    port = std::move(it->second);
    registry.erase(it);
  }
  {
    std::lock_guard lock(port->m);
    port->closing = true;
  }
  port->AbortCalls();
  {
    std::unique_lock lock(port->m);
    port->changed.wait(lock, [&] { return port->users == 0; });
  }
  // Only now may the descriptors go: closing one while another thread sits in poll() or read() on
  // it leaves that thread waiting on a number the next open() may hand to a different file.
  // Unsent output is dropped so that closing never waits on a line that CTS holds.
  tcflush(port->fd, TCIOFLUSH);
  tcsetattr(port->fd, TCSANOW, &port->original);
  ioctl(port->fd, TIOCNXCL);
  flock(port->fd, LOCK_UN);
  port->CloseDescriptors();
  return TRUE;
}

DWORD GetLastError() { return lastError; }

std::string ComDevicePath(const char* portName) {
  int number = ComNumber(portName);
  if (number == 0) return portName;
  std::string variable = "TMV540_COM" + std::to_string(number);
  if (const char* set = std::getenv(variable.c_str()); set != nullptr && *set != '\0') return set;
  return "/dev/ttyS" + std::to_string(number - 1);
}

std::string DescribeOpenFailure(const char* portName, DWORD error) {
  std::string device = ComDevicePath(portName);
  std::string port = device == portName ? device : std::string(portName) + " (" + device + ")";
  std::string reason;
  switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      reason = "no such device";
      if (int number = ComNumber(portName))
        reason +=
            "; for a USB serial adapter set TMV540_COM" + std::to_string(number) + " to its device, e.g. /dev/ttyUSB0";
      break;
    case EACCES:
    case EPERM:
      reason =
          "permission denied; add your user to the dialout group (sudo usermod -aG dialout $USER) "
          "and log in again";
      break;
    case EBUSY:
      reason =
          "busy, in use by another program (ModemManager may be probing a newly plugged port; "
          "wait a moment or stop it)";
      break;
    case ENOTTY:
      reason = "not a serial port";
      break;
    default:
      reason = std::error_code(static_cast<int>(error), std::generic_category()).message();
  }
  return "\r\nCannot open " + port + ": " + reason + ".";
}
