#pragma once
// A test case that plays the window's part around one or more updates: a scaled clock, fresh
// progress state, its own working directory for the backup files, and a scripted operator.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "scripted_operator.h"

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Points COM1 at `devicePath` and picks "&1", as the operator does; returns once the worker
  // has started (or the open failed).
  void PickPort(const std::string& devicePath);
  // Serves the worker's log lines, boxes and UI routines until it has ended.
  void WaitForWorker();
  // PickPort, then WaitForWorker.
  void RunUpdate(const std::string& devicePath);

  // The working directory of this case, where "tmv-cal.txt" and "tmv-ste.txt" go.
  const std::filesystem::path& WorkDir() const { return workDir_; }
  std::string ReadWorkFile(const std::string& name) const;
  void WriteWorkFile(const std::string& name, const std::string& content) const;

  ScriptedOperator op;

 private:
  std::filesystem::path workDir_;
  std::filesystem::path previousDir_;
};

// Protocol time in tests runs at this fraction of real time ($TMV_TEST_TIME_SCALE, default 0.05).
double TestTimeScale();

// Today as the instrument's download date: ddMmmyy with English month names.
std::string TodayAsDownloadDate();
