#include "engine/backup_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

BackupFile::~BackupFile() {
  if (fd_ >= 0) close(fd_);
  if (!tempName_.empty()) unlink(tempName_.c_str());
}

void BackupFile::Fail(const char* what) { error_ = std::string(what) + " " + name_ + ": " + std::strerror(errno); }

bool BackupFile::Create() {
  std::string pattern = name_ + ".XXXXXX";
  fd_ = mkstemp(pattern.data());
  if (fd_ < 0) {
    Fail("Couldn't create");
    return false;
  }
  tempName_ = pattern;
  fchmod(fd_, 0644);
  return true;
}

bool BackupFile::Commit(std::string_view content) {
  const char* data = content.data();
  std::size_t left = content.size();
  while (left > 0) {
    const ssize_t n = write(fd_, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail("Couldn't write");
      return false;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (fsync(fd_) != 0) {
    Fail("Couldn't flush");
    return false;
  }
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) {
    Fail("Couldn't close");
    return false;
  }
  if (std::rename(tempName_.c_str(), name_.c_str()) != 0) {
    Fail("Couldn't replace");
    return false;
  }
  tempName_.clear();
  return true;
}
