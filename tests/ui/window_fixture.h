#pragma once
// A test case with the real window: the Qt operator drives the log, boxes and serial number
// dialog of the window under test; the transcript is kept; every COM port points at nothing.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "platform/qt/qt_operator.h"

class TForm1;

class WindowTest : public ::testing::Test {
 protected:
  WindowTest();
  void SetUp() override;
  void TearDown() override;

  static QString Log(const TForm1& form);
  // Runs the event loop until `done` holds; false if it did not within a generous limit.
  static bool RunLoopUntil(const std::function<bool()>& done);

  platform::QtOperator screen;
  std::ostringstream transcript;
};

inline constexpr char MissingDevice[] = "/nonexistent/tmv540-test-port";
