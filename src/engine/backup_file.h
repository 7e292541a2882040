#pragma once
// A backup file that replaces the previous one only once it is complete and on disk, so a failed
// or broken-off backup never costs the operator the last good copy.
#include <string>
#include <string_view>

class BackupFile {
 public:
  explicit BackupFile(std::string name) : name_(std::move(name)) {}
  BackupFile(const BackupFile&) = delete;
  BackupFile& operator=(const BackupFile&) = delete;
  // Removes the temporary file unless it was committed.
  ~BackupFile();

  // Creates the temporary file beside the final one.
  bool Create();
  // Writes `content`, flushes it to disk and renames it over the final name.
  bool Commit(std::string_view content);
  // Why Create() or Commit() failed, in the operator's words.
  const std::string& Error() const { return error_; }

 private:
  void Fail(const char* what);

  std::string name_;
  std::string tempName_;
  int fd_ = -1;
  std::string error_;
};
