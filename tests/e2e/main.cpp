// The end-to-end tests run the real window on the offscreen platform, with the test's thread as
// the UI thread.
#include <gtest/gtest.h>

#include "platform/qt/application.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  platform::Application app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
