// The window's tests run on the offscreen platform, on a scaled clock, with the test's thread
// as the UI thread.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/qt/application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  platform::Application app(argc, argv);
  platform::SetTimeScale(0.01);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
