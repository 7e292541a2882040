#include "engine_fixture.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

#include "engine/Update_unit2.h"
#include "platform/clock.h"
#include "platform/ui_thread.h"
#include "ui/port_connection.h"

double TestTimeScale() {
  const char* scale = std::getenv("TMV_TEST_TIME_SCALE");
  return scale ? std::atof(scale) : 0.05;
}

std::string TodayAsDownloadDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  // Tests run in the "C" locale, whose month names are the English ones.
  std::strftime(text, sizeof text, "%d%b%y", &local);
  return text;
}

void EngineTest::SetUp() {
  platform::SetTimeScale(TestTimeScale());
  ResetProgressState();
  std::memset(ReplyBuffer, 0, sizeof(ReplyBuffer));
  previousDir_ = std::filesystem::current_path();
  std::string pattern = (std::filesystem::temp_directory_path() / "tmv-engine-XXXXXX").string();
  workDir_ = mkdtemp(pattern.data());
  std::filesystem::current_path(workDir_);
}

void EngineTest::TearDown() {
  if (Worker) StopWorker();
  std::filesystem::current_path(previousDir_);
  std::filesystem::remove_all(workDir_);
}

void EngineTest::PickPort(const std::string& devicePath) {
  setenv("TMV540_COM1", devicePath.c_str(), 1);
  std::strcpy(PortName, "COM1");
  OpenPort();
}

void EngineTest::WaitForWorker() {
  platform::ServeUiRequestsUntil([] { return Worker == nullptr; });
}

void EngineTest::RunUpdate(const std::string& devicePath) {
  PickPort(devicePath);
  WaitForWorker();
}

std::string EngineTest::ReadWorkFile(const std::string& name) const {
  std::ifstream in(workDir_ / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void EngineTest::WriteWorkFile(const std::string& name, const std::string& content) const {
  std::ofstream(workDir_ / name, std::ios::binary) << content;
}
