#include "e2e/launcher_update_host.h"

#include <random>
#include <thread>

#include "support/zip_builder.h"

namespace tarvo::test {

namespace fs = std::filesystem;

void LauncherUpdateHost::SetUp() {
  InstallFixture::SetUp();
  auto servers = TestServers::Require("update_host");
  if (!servers) GTEST_SKIP() << "needs the update_host fixture: run through ctest";
  servers_ = std::move(*servers);
  // Built piece by piece: GCC 12 warns wrongly (-Wrestrict) on assigning text here.
  folder_.assign(1, 't').append(std::to_string(std::random_device{}()));
  fs::create_directories(servers_.docroot / folder_ / "updates");
}

void LauncherUpdateHost::TearDown() {
  std::error_code ignored;
  fs::remove(servers_.docroot / "zip.html", ignored);
  fs::remove(servers_.docroot / "zip.html.fault", ignored);
  RemoveTree(servers_.docroot / folder_);
}

std::string LauncherUpdateHost::Uri(const std::string& name) const {
  // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) on chains of "text" + string.
  std::string uri = "/";
  uri.append(folder_).append("/updates/").append(name);
  return uri;
}

std::string LauncherUpdateHost::ArchiveUrl(const std::string& name) const {
  std::string url = "http://127.0.0.1:";
  url.append(std::to_string(servers_.nginx_port)).append(Uri(name));
  return url;
}

std::string LauncherUpdateHost::Publish(const std::string& name, std::size_t size) {
  std::string item = "data/";
  item.append(name).append(".bin");
  const std::string bytes = BuildZip({{item, PatternBytes(size)}});
  PublishBytes(name, bytes);
  return bytes;
}

void LauncherUpdateHost::PublishBytes(const std::string& name, const std::string& bytes) {
  WriteFile(servers_.docroot / folder_ / "updates" / name, bytes);
}

void LauncherUpdateHost::PublishList(
    const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string page = "<html><body><h1>Velmora</h1>\r\n<vlVersionList>\r\n";
  for (const auto& [versions, url] : entries) {
    page.append("<Version>").append(versions).append(url).append("</Version>\r\n");
  }
  page += "</vlVersionList>\r\n</body></html>\r\n";
  WriteFile(servers_.docroot / "zip.html", page);
}

void LauncherUpdateHost::PublishList() {
  std::vector<std::pair<std::string, std::string>> entries;
  for (const char* versions : {"0000100000002", "0000100000003", "0000200000001"}) {
    entries.emplace_back(versions, ArchiveUrl(std::string(versions) + ".zip"));
  }
  PublishList(entries);
}

void LauncherUpdateHost::SetListFaults(const std::string& rules) {
  WriteFile(servers_.docroot / "zip.html.fault", rules);
}

int LauncherUpdateHost::Requests(const std::string& name) const {
  // nginx logs a request when it ends; a transfer cut by the launcher's end is logged then.
  int count = servers_.RequestsFor(Uri(name));
  for (int i = 0; i < 100 && count == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    count = servers_.RequestsFor(Uri(name));
  }
  return count;
}

}  // namespace tarvo::test
