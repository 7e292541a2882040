#include "port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

// Raw 8N1 at 115200: firmware bytes such as XON, XOFF, CR and Ctrl-C must pass unchanged.
bool MakeRaw(int fd, bool hardwareFlow) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag &= ~(CSTOPB | PARENB | CSIZE);
  settings.c_cflag |= CS8 | CREAD | CLOCAL;
  if (hardwareFlow) settings.c_cflag |= CRTSCTS;
  settings.c_iflag &= ~(IXON | IXOFF | IXANY);
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B115200);
  cfsetospeed(&settings, B115200);
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

std::unique_ptr<Port> Port::OpenPseudoTerminal(std::string& error) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) {
    error = Why("posix_openpt");
    return nullptr;
  }
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    error = Why("cannot prepare the pseudo-terminal");
    close(master);
    return nullptr;
  }
  // The slave side keeps its settings while the master stays open, so set them once here. Closing
  // it again leaves the line hung up until the updater opens it, as a port nobody listens on.
  int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0 || !MakeRaw(slave, false) || !MakeRaw(master, false)) {
    error = Why(std::string("cannot set raw mode on ") + name);
    if (slave >= 0) close(slave);
    close(master);
    return nullptr;
  }
  close(slave);
  return std::unique_ptr<Port>(new Port(master, name, true));
}

std::unique_ptr<Port> Port::OpenDevice(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = Why("cannot open " + path + (errno == EACCES ? " (is this user in the dialout group?)" : ""));
    return nullptr;
  }
  if (!MakeRaw(fd, true)) {
    error = Why("cannot configure " + path + " as 115200 8N1 raw with RTS/CTS");
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<Port>(new Port(fd, path, false));
}

Port::~Port() { close(fd_); }

}  // namespace sim
