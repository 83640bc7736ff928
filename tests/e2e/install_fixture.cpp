#include "e2e/install_fixture.h"

#include <chrono>

#include "support/test_support.h"

namespace tarvo::test {

namespace fs = std::filesystem;

void InstallFixture::SetUp() {
  fs::create_directories(install_.dir() / "UpdateZip");
  fs::create_directories(install_.dir() / "Sys");
}

void InstallFixture::Record(int first, int second) {
  std::string config = "[VERSION]\r\nFirstVersion=";
  config.append(std::to_string(first)).append("\r\nSecondVersion=");
  config.append(std::to_string(second)).append("\r\n");
  WriteFile(install_.dir() / "Sys" / "Config.ini", config);
}

std::string InstallFixture::Recorded() const {
  const std::string config = ReadFile(install_.dir() / "Sys" / "Config.ini");
  const auto value = [&config](std::string_view key) {
    const std::size_t at = config.find(key);
    if (at == std::string::npos) return std::string("?");
    const std::size_t begin = at + key.size();
    return config.substr(begin, config.find_first_of("\r\n", begin) - begin);
  };
  std::string pair = value("FirstVersion=");
  pair.append("/").append(value("SecondVersion="));
  return pair;
}

fs::path InstallFixture::Pending(const std::string& name) const {
  return install_.dir() / "UpdateZip" / name;
}

int InstallFixture::RunLauncher(std::chrono::seconds timeout) {
  Process tarvo(install_.exe(), {}, install_.dir());
  EXPECT_TRUE(tarvo.started());
  return tarvo.Wait(timeout).value_or(-1);
}

}  // namespace tarvo::test
