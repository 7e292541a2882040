// The serial port calls on a pseudo-terminal: the test holds the master side and plays the
// instrument; the port under test opens the slave by its path, as it would open a serial device.
#include "platform/serial.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<BYTE>;

// The far end of the line.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0 && ptsname_r(master_, name, sizeof name) == 0)
      path_ = name;
    initial_ = Settings();
  }
  ~PseudoTerminal() { CloseMaster(); }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  const std::string& Path() const { return path_; }
  // The device's settings before anything opened it.
  const termios& Initial() const { return initial_; }
  // The master reports the settings of the slave, i.e. of the port under test.
  termios Settings() const {
    termios t{};
    tcgetattr(master_, &t);
    return t;
  }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

  void Send(const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0) << "the test could not write to its end of the line";
      done += static_cast<size_t>(n);
    }
  }
  // Up to `count` bytes, as many as arrive while the line is never silent for `quietMs`.
  Bytes Receive(size_t count, int quietMs = 5000) {
    Bytes got;
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, quietMs) <= 0) break;
      BYTE chunk[4096];
      ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
      if (n <= 0) break;
      got.insert(got.end(), chunk, chunk + n);
    }
    return got;
  }
  bool Quiet() { return Receive(1, 50).empty(); }

 private:
  int master_ = -1;
  std::string path_;
  termios initial_{};
};

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) { setenv(name, value.c_str(), 1); }
  ~ScopedEnv() { unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
};

// The port names' defaults hold only without the overrides a developer's shell may carry.
void ClearComEnvironment() {
  for (const char* name : {"TMV540_COM1", "TMV540_COM2", "TMV540_COM3", "TMV540_COM4"}) unsetenv(name);
}

HANDLE Open(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, 0);
}

// The line the updater runs on: 115200 baud, 8N1, RTS/CTS, DTR off.
BOOL SetUpdaterLine(HANDLE port) {
  DCB dcb{};
  dcb.DCBlength = 28;
  GetCommState(port, &dcb);
  dcb.BaudRate = 115200;
  dcb.fBinary = 1;
  dcb.fOutxCtsFlow = 1;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  return SetCommState(port, &dcb);
}

void SetReadTimeout(HANDLE port, DWORD constantMs) {
  COMMTIMEOUTS t{0, 0, constantMs, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port, &t));
}

// Whether thread `tid` sits in poll(): the call it makes has started and is blocked.
bool BlockedInPoll(pid_t tid) {
  std::ifstream syscall("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  syscall >> number;
#ifdef SYS_poll
  if (number == SYS_poll) return true;
#endif
  return number == SYS_ppoll;
}

void WaitUntilBlockedInPoll(const std::atomic<pid_t>& tid) {
  for (int i = 0; i < 10000; ++i) {
    if (tid != 0 && BlockedInPoll(tid)) return;
    std::this_thread::sleep_for(1ms);
  }
  ADD_FAILURE() << "the call never blocked";
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pty.Path().empty()) << "no pseudo-terminal";
    platform::SetTimeScale(0.05);
    port = Open(pty.Path());
    ASSERT_NE(port, INVALID_HANDLE_VALUE) << DescribeOpenFailure(pty.Path().c_str(), GetLastError());
    ASSERT_TRUE(SetUpdaterLine(port));
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    platform::SetTimeScale(1.0);
  }

  PseudoTerminal pty;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(SerialTest, ReadTakesAtMostItsCountAndLeavesTheRestForTheNextRead) {
  Bytes sent(80);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<BYTE>('A' + i % 26);
  pty.Send(sent);
  SetReadTimeout(port, 4000);

  Bytes buffer(64, 0xEE);
  DWORD n = 0;
  ReadFile(port, buffer.data(), 50, &n, nullptr);
  ASSERT_EQ(n, 50u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 50), Bytes(sent.begin(), sent.begin() + 50));

  buffer.assign(64, 0xEE);
  ReadFile(port, buffer.data(), 50, &n, nullptr);
  ASSERT_EQ(n, 30u);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 30), Bytes(sent.begin() + 50, sent.end()));
  EXPECT_EQ(Bytes(buffer.begin() + 30, buffer.end()), Bytes(34, 0xEE)) << "bytes past the count read were touched";
}

TEST_F(SerialTest, ReadWithNothingToTakeLeavesTheBufferAndWaitsOutItsTimeout) {
  struct Case {
    const char* name;
    bool deviceGone;
  };
  for (const Case& c : {Case{"silent line", false}, Case{"other side closed", true}}) {
    SCOPED_TRACE(c.name);
    if (c.deviceGone) pty.CloseMaster();
    SetReadTimeout(port, 100);
    Bytes buffer(50, 0x5A);
    DWORD n = 7;
    platform::Deadline readDeadline(100ms);
    ReadFile(port, buffer.data(), 50, &n, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buffer, Bytes(50, 0x5A));
    // A polling loop must not spin on a port that answers at once.
    EXPECT_GE(platform::Clock::now(), readDeadline.At());
  }
}

TEST_F(SerialTest, ReadOfZeroBytesReturnsAtOnceAndLeavesTheBuffer) {
  pty.Send({'x', 'y'});
  // All read time-outs zero: a read of one byte or more would wait for it without end.
  Bytes buffer(4, 0x5A);
  DWORD n = 7;
  EXPECT_TRUE(ReadFile(port, buffer.data(), 0, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(buffer, Bytes(4, 0x5A));
}

TEST_F(SerialTest, ReadReturnsAsSoonAsItsCountHasArrived) {
  struct Case {
    const char* name;
    std::optional<DWORD> timeoutMs;  // none: all read time-outs zero, wait for the count
  };
  for (const Case& c : {Case{"total time-out", 60000}, Case{"no time-out", std::nullopt}}) {
    SCOPED_TRACE(c.name);
    SetReadTimeout(port, c.timeoutMs.value_or(0));
    std::thread instrument([&] {
      Sleep(100);
      pty.Send({'1', '2', '3', '4', '5'});
      Sleep(100);
      pty.Send({'6', '7', '8', '9', '0'});
    });
    platform::Deadline readDeadline(std::chrono::milliseconds(c.timeoutMs.value_or(0)));
    Bytes buffer(10, 0);
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(port, buffer.data(), 10, &n, nullptr));
    bool beforeDeadline = platform::Clock::now() < readDeadline.At();
    instrument.join();
    EXPECT_EQ(n, 10u);
    EXPECT_EQ(buffer, (Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'}));
    if (c.timeoutMs) {
      EXPECT_TRUE(beforeDeadline) << "the read sat out its time-out after its count had arrived";
    }
  }
}

TEST_F(SerialTest, ReadTimeoutCoversTheWholeReadNotTheGapBetweenBytes) {
  // Bytes keep trickling in, never with a gap as long as the time-out, and stop after `trickle`.
  constexpr size_t trickle = 400;
  std::atomic<bool> readDone{false};
  std::thread instrument([&] {
    for (size_t i = 0; i < trickle && !readDone; ++i) {
      pty.Send({static_cast<BYTE>(i)});
      std::this_thread::sleep_for(1ms);
    }
  });
  SetReadTimeout(port, 100);
  Bytes buffer(4096);
  DWORD n = 0;
  ReadFile(port, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr);
  readDone = true;
  instrument.join();
  EXPECT_LT(n, trickle) << "the read ran on while bytes kept coming";
}

TEST_F(SerialTest, WriteSendsExactlyTheBytesGivenWithTheirNul) {
  static const char command[] = "*IDN?\n";
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, command, 7, &n, nullptr));
  EXPECT_EQ(n, 7u);
  EXPECT_EQ(pty.Receive(7), (Bytes{'*', 'I', 'D', 'N', '?', '\n', 0}));
  EXPECT_TRUE(pty.Quiet());
}

TEST_F(SerialTest, EveryByteValuePassesUnchangedBothWays) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<BYTE>(i);

  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, all.data(), 256, &n, nullptr));
  EXPECT_EQ(pty.Receive(256), all);
  EXPECT_TRUE(pty.Quiet());

  pty.Send(all);
  SetReadTimeout(port, 4000);
  Bytes buffer(256);
  ReadFile(port, buffer.data(), 256, &n, nullptr);
  EXPECT_EQ(n, 256u);
  EXPECT_EQ(buffer, all);
}

// A call that blocks, made on its own thread.
struct BlockedCall {
  BOOL ok = -1;  // neither success nor failure until the call returns
  DWORD n = 0;
  std::atomic<pid_t> tid{0};
  std::thread thread;
};

// A write larger than the line takes while nobody reads the far end: it blocks as under CTS.
void StartBlockedWrite(HANDLE port, BlockedCall& call) {
  call.thread = std::thread([port, &call] {
    call.tid = gettid();
    Bytes big(1 << 20, 'w');
    call.ok = WriteFile(port, big.data(), static_cast<DWORD>(big.size()), &call.n, nullptr);
  });
}

// With all read time-outs zero a read waits for its count, which never comes.
void StartBlockedRead(HANDLE port, BlockedCall& call, Bytes& buffer) {
  call.thread = std::thread([port, &call, &buffer] {
    call.tid = gettid();
    call.ok = ReadFile(port, buffer.data(), static_cast<DWORD>(buffer.size()), &call.n, nullptr);
  });
}

struct EndCase {
  const char* name;
  bool write;
  std::function<void(HANDLE&)> end;
};

void PurgeTx(HANDLE& port) { EXPECT_TRUE(PurgeComm(port, PURGE_TXABORT)); }
void PurgeRx(HANDLE& port) { EXPECT_TRUE(PurgeComm(port, PURGE_RXABORT)); }
void CloseIt(HANDLE& port) {
  EXPECT_TRUE(CloseHandle(port));
  port = INVALID_HANDLE_VALUE;
}

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class BlockedCallTest : public SerialTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(BlockedCallTest, IsEndedFromAnotherThread) {
  BlockedCall call;
  Bytes buffer(10, 0x5A);
  if (GetParam().write)
    StartBlockedWrite(port, call);
  else
    StartBlockedRead(port, call, buffer);
  WaitUntilBlockedInPoll(call.tid);
  GetParam().end(port);
  call.thread.join();

  EXPECT_FALSE(call.ok);
  if (GetParam().write) {
    EXPECT_LT(call.n, 1u << 20);
  } else {
    EXPECT_EQ(call.n, 0u);
    EXPECT_EQ(buffer, Bytes(10, 0x5A));
  }
  if (port == INVALID_HANDLE_VALUE) return;
  // The port stays usable: the abort does not linger to fail the next call.
  pty.Send({'o', 'k'});
  Bytes reply(2);
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(port, reply.data(), 2, &n, nullptr));
  EXPECT_EQ(reply, (Bytes{'o', 'k'}));
}

INSTANTIATE_TEST_SUITE_P(
    Serial, BlockedCallTest,
    ::testing::Values(EndCase{"WriteByTxAbort", true, PurgeTx}, EndCase{"WriteByRxAbort", true, PurgeRx},
                      EndCase{"WriteByClose", true, CloseIt}, EndCase{"ReadByRxAbort", false, PurgeRx},
                      EndCase{"ReadByTxAbort", false, PurgeTx}, EndCase{"ReadByClose", false, CloseIt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialTest, OneAbortEndsEveryCallInProgress) {
  BlockedCall write, read;
  Bytes buffer(10, 0x5A);
  StartBlockedWrite(port, write);
  StartBlockedRead(port, read, buffer);
  WaitUntilBlockedInPoll(write.tid);
  WaitUntilBlockedInPoll(read.tid);
  EXPECT_TRUE(PurgeComm(port, PURGE_RXABORT));
  write.thread.join();
  read.thread.join();
  EXPECT_FALSE(write.ok);
  EXPECT_FALSE(read.ok);
}

TEST_F(SerialTest, AbortWithNothingInProgressDoesNotEndLaterCalls) {
  EXPECT_TRUE(PurgeComm(port, PURGE_RXABORT | PURGE_TXABORT));
  pty.Send({'o', 'k'});
  Bytes reply(2);
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(port, reply.data(), 2, &n, nullptr));
  EXPECT_EQ(reply, (Bytes{'o', 'k'}));
  EXPECT_TRUE(WriteFile(port, "go", 2, &n, nullptr));
  EXPECT_EQ(pty.Receive(2), (Bytes{'g', 'o'}));
}

TEST_F(SerialTest, ClearDiscardsWaitingInput) {
  pty.Send({'o', 'l', 'd'});
  SetReadTimeout(port, 4000);
  Bytes first(1);
  DWORD n = 0;
  ReadFile(port, first.data(), 1, &n, nullptr);  // the first byte has arrived, so have the others
  ASSERT_EQ(n, 1u);
  EXPECT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  pty.Send({'n', 'e', 'w'});
  Bytes buffer(3);
  ReadFile(port, buffer.data(), 3, &n, nullptr);
  EXPECT_EQ(buffer, (Bytes{'n', 'e', 'w'}));
}

TEST_F(SerialTest, WriteToAGoneDeviceFails) {
  pty.CloseMaster();
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(port, "*IDN?\n", 7, &n, nullptr));
}

TEST_F(SerialTest, CallsOnAClosedOrUnknownHandleFailWithoutEffect) {
  HANDLE closed = port;
  ASSERT_TRUE(CloseHandle(closed));
  // The same device open again: a stale handle must not reach it.
  port = Open(pty.Path());
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetUpdaterLine(port));
  pty.Send({'a', 'b', 'c'});

  for (HANDLE stale : {closed, HANDLE{1} << 40, INVALID_HANDLE_VALUE}) {
    SCOPED_TRACE(stale);
    Bytes buffer(8, 0x5A);
    DWORD n = 7;
    EXPECT_FALSE(ReadFile(stale, buffer.data(), 8, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(buffer, Bytes(8, 0x5A));
    n = 7;
    EXPECT_FALSE(WriteFile(stale, "xyz", 3, &n, nullptr));
    EXPECT_EQ(n, 0u);
    COMMTIMEOUTS timeouts{1, 1, 1, 1, 1};
    DCB dcb{};
    EXPECT_FALSE(SetCommTimeouts(stale, &timeouts));
    EXPECT_FALSE(GetCommTimeouts(stale, &timeouts));
    EXPECT_FALSE(GetCommState(stale, &dcb));
    EXPECT_FALSE(SetCommState(stale, &dcb));
    EXPECT_FALSE(PurgeComm(stale, PURGE_RXCLEAR | PURGE_RXABORT));
    EXPECT_FALSE(CloseHandle(stale));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EBADF));
  }

  EXPECT_TRUE(pty.Quiet());
  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(GetCommTimeouts(port, &timeouts));
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
  SetReadTimeout(port, 4000);
  Bytes buffer(3);
  DWORD n = 0;
  ReadFile(port, buffer.data(), 3, &n, nullptr);
  EXPECT_EQ(buffer, (Bytes{'a', 'b', 'c'}));
}

TEST_F(SerialTest, TimeoutsReadBackAsSet) {
  COMMTIMEOUTS got{9, 9, 9, 9, 9};
  ASSERT_TRUE(GetCommTimeouts(port, &got));
  EXPECT_EQ((std::vector<DWORD>{got.ReadIntervalTimeout, got.ReadTotalTimeoutMultiplier, got.ReadTotalTimeoutConstant,
                                got.WriteTotalTimeoutMultiplier, got.WriteTotalTimeoutConstant}),
            std::vector<DWORD>(5, 0));

  COMMTIMEOUTS set{1, 2, 100, 4, 5};
  ASSERT_TRUE(SetCommTimeouts(port, &set));
  ASSERT_TRUE(GetCommTimeouts(port, &got));
  EXPECT_EQ((std::vector<DWORD>{got.ReadIntervalTimeout, got.ReadTotalTimeoutMultiplier, got.ReadTotalTimeoutConstant,
                                got.WriteTotalTimeoutMultiplier, got.WriteTotalTimeoutConstant}),
            (std::vector<DWORD>{1, 2, 100, 4, 5}));
}

struct Line {
  DWORD baud;
  BYTE byteSize;
  BYTE parity;
  BYTE stopBits;
  bool rtsCts;
};

DCB WithLine(DCB dcb, const Line& line) {
  dcb.BaudRate = line.baud;
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  dcb.fOutxCtsFlow = line.rtsCts;
  dcb.fRtsControl = line.rtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
  return dcb;
}

void ExpectLine(const DCB& dcb, const Line& line) {
  EXPECT_EQ(dcb.BaudRate, line.baud);
  EXPECT_EQ(dcb.ByteSize, line.byteSize);
  EXPECT_EQ(dcb.Parity, line.parity);
  EXPECT_EQ(dcb.StopBits, line.stopBits);
  EXPECT_EQ(dcb.fOutxCtsFlow, line.rtsCts);
  EXPECT_EQ(dcb.fRtsControl == RTS_CONTROL_HANDSHAKE, line.rtsCts);
}

// A pseudo-terminal always runs 8 data bits without parity; the other settings it keeps.
TEST_F(SerialTest, LineSettingsReadBackAsSetAndStayRaw) {
  for (const Line& line : {Line{115200, 8, NOPARITY, ONESTOPBIT, true}, Line{9600, 8, NOPARITY, TWOSTOPBITS, false},
                           Line{57600, 8, NOPARITY, TWOSTOPBITS, true}, Line{921600, 8, NOPARITY, ONESTOPBIT, false}}) {
    SCOPED_TRACE(line.baud);
    DCB dcb{};
    dcb.DCBlength = 28;
    ASSERT_TRUE(GetCommState(port, &dcb));
    DCB wanted = WithLine(dcb, line);
    ASSERT_TRUE(SetCommState(port, &wanted));

    DCB got{};
    got.DCBlength = 28;
    ASSERT_TRUE(GetCommState(port, &got));
    ExpectLine(got, line);
    EXPECT_EQ(got.DCBlength, 28u);
    EXPECT_EQ(got.fBinary, 1u);

    termios t = pty.Settings();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | IXANY | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  }
}

TEST_F(SerialTest, LineSettingsTheLineCannotTakeAreRefused) {
  const Line updater{115200, 8, NOPARITY, ONESTOPBIT, true};
  constexpr BYTE markParity = 3, evenParity = 2, oneAndHalfStopBits = 1;
  for (const Line& bad :
       {Line{12345, 8, NOPARITY, ONESTOPBIT, true}, Line{115200, 9, NOPARITY, ONESTOPBIT, true},
        Line{115200, 8, markParity, ONESTOPBIT, true}, Line{115200, 8, NOPARITY, oneAndHalfStopBits, true},
        // Valid, but a pseudo-terminal quietly keeps 8N: only reading back notices.
        Line{115200, 7, evenParity, ONESTOPBIT, true}}) {
    SCOPED_TRACE(::testing::Message() << bad.baud << " " << int{bad.byteSize} << " " << int{bad.parity} << " "
                                      << int{bad.stopBits});
    DCB dcb{};
    ASSERT_TRUE(GetCommState(port, &dcb));
    DCB wanted = WithLine(dcb, bad);
    EXPECT_FALSE(SetCommState(port, &wanted));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(EINVAL));
    ASSERT_TRUE(GetCommState(port, &dcb));
    ExpectLine(dcb, updater);
  }
}

TEST_F(SerialTest, ClosingPutsTheDevicesOriginalSettingsBack) {
  const termios& before = pty.Initial();
  ASSERT_NE(pty.Settings().c_lflag, before.c_lflag) << "the port under test did not change the settings";
  ASSERT_TRUE(CloseHandle(port));
  port = INVALID_HANDLE_VALUE;

  termios after = pty.Settings();
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
  EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
  EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
}

TEST_F(SerialTest, ComNameOpensTheDeviceTheEnvironmentNames) {
  ASSERT_TRUE(CloseHandle(port));
  ScopedEnv env("TMV540_COM1", pty.Path());
  port = Open("COM1");
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << DescribeOpenFailure("COM1", GetLastError());
  ASSERT_TRUE(SetUpdaterLine(port));
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, "hi", 2, &n, nullptr));
  EXPECT_EQ(pty.Receive(2), (Bytes{'h', 'i'}));
}

TEST_F(SerialTest, SecondOpenOfAnOpenDeviceIsRefusedAsBusy) {
  ScopedEnv env("TMV540_COM1", pty.Path());
  for (const std::string& name : {pty.Path(), std::string("COM1")}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Open(name), INVALID_HANDLE_VALUE);
    DWORD error = GetLastError();
    EXPECT_EQ(error, static_cast<DWORD>(EBUSY));
    std::string text = DescribeOpenFailure(name.c_str(), error);
    EXPECT_NE(text.find(pty.Path()), std::string::npos) << text;
    EXPECT_NE(text.find("in use by another program"), std::string::npos) << text;
  }
  // The refused opens took nothing from the port that holds the device.
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, "ok", 2, &n, nullptr));
  EXPECT_EQ(pty.Receive(2), (Bytes{'o', 'k'}));
}

TEST(SerialOpen, DeviceThatIsNoSerialPortIsNotOpened) {
  struct Case {
    const char* path;
    int error;
    const char* reason;
  };
  for (const Case& c :
       {Case{"/dev/tmv540-absent", ENOENT, "no such device"}, Case{"/dev/null", ENOTTY, "not a serial port"}}) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(Open(c.path), INVALID_HANDLE_VALUE);
    DWORD error = GetLastError();
    EXPECT_EQ(error, static_cast<DWORD>(c.error));
    std::string text = DescribeOpenFailure(c.path, error);
    EXPECT_NE(text.find(c.path), std::string::npos) << text;
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
  }
}

TEST(SerialOpen, PortNamesResolveToDevices) {
  ClearComEnvironment();
  ScopedEnv env("TMV540_COM3", "/dev/ttyUSB7");
  struct Case {
    const char* name;
    const char* device;
  };
  for (const Case& c : {Case{"COM1", "/dev/ttyS0"}, Case{"COM4", "/dev/ttyS3"}, Case{"com2", "/dev/ttyS1"},
                        Case{"COM3", "/dev/ttyUSB7"}, Case{"COM5", "COM5"}, Case{"COM10", "COM10"},
                        Case{"/dev/ttyACM0", "/dev/ttyACM0"}}) {
    EXPECT_EQ(ComDevicePath(c.name), c.device) << c.name;
  }
}

TEST(SerialOpen, OpenFailureIsOneLogLineNamingPortDeviceAndReason) {
  struct Case {
    int error;
    std::vector<std::string> says;
  };
  ClearComEnvironment();
  for (const Case& c : {Case{ENOENT, {"no such device", "TMV540_COM2"}}, Case{EACCES, {"permission denied", "dialout"}},
                        Case{EBUSY, {"busy", "in use by another program", "ModemManager"}},
                        Case{ENOTTY, {"not a serial port"}}, Case{EIO, {"Input/output error"}}}) {
    std::string text = DescribeOpenFailure("COM2", c.error);
    SCOPED_TRACE(text);
    EXPECT_EQ(text.rfind("\r\nCannot open COM2 (/dev/ttyS1): ", 0), 0u);
    EXPECT_EQ(text.find_first_of("\r\n", 2), std::string::npos) << "more than one line";
    for (const std::string& part : c.says) EXPECT_NE(text.find(part), std::string::npos) << part;
  }
}

}  // namespace
