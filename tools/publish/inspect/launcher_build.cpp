#include "publish/inspect/launcher_build.h"

#include <charconv>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "publish/file_bytes.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFactsHead = "TARVO-BUILD-1\n";
constexpr std::size_t kMaxFactsSize = 4096;
// Launchers are a few MiB; anything far larger is read no further.
constexpr std::uintmax_t kMaxLauncherSize = std::uintmax_t{256} << 20;

constexpr std::string_view kListScheme = "http://";
constexpr std::string_view kListPage = "/zip.html";

// The facts that `text` (from the head to the first NUL) spells; nothing when it is not
// whole. Lines of other names are passed over, for facts that later launchers may add.
std::optional<LauncherBuild> ParseFacts(std::string_view text) {
  std::map<std::string, std::string> facts;
  std::istringstream lines{std::string(text.substr(kFactsHead.size()))};
  for (std::string line; std::getline(lines, line);) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return std::nullopt;
    facts[line.substr(0, equals)] = line.substr(equals + 1);
  }
  const std::string& rate = facts["download-rate"];
  LauncherBuild build{true, facts["version"], facts["update-host"], facts["public-key"], 0};
  const auto [end, error] =
      std::from_chars(rate.data(), rate.data() + rate.size(), build.downloadRate);
  if (build.version.empty() || build.updateHost.empty() || rate.empty() || error != std::errc() ||
      end != rate.data() + rate.size()) {
    return std::nullopt;
  }
  return build;
}

// UTF-16LE text as it stands in an executable, from `at` to its terminating NUL, when it is
// ASCII and shorter than `limit` characters.
std::optional<std::string> WideAsciiText(std::string_view bytes, std::size_t at,
                                         std::size_t limit) {
  std::string text;
  for (; at + 1 < bytes.size() && text.size() < limit; at += 2) {
    const unsigned char low = static_cast<unsigned char>(bytes[at]);
    if (bytes[at + 1] != '\0' || low > 0x7E) return std::nullopt;
    if (low == 0) return text;
    text += static_cast<char>(low);
  }
  return std::nullopt;
}

std::string Wide(std::string_view ascii) {
  std::string wide;
  for (const char c : ascii) wide.append({c, '\0'});
  return wide;
}

// The update host of the version list address "http://HOST/zip.html" that every launcher holds
// as UTF-16 text.
std::optional<std::string> VersionListHost(std::string_view bytes) {
  const std::string scheme = Wide(kListScheme);
  for (std::size_t at = bytes.find(scheme); at != std::string_view::npos;
       at = bytes.find(scheme, at + 2)) {
    const auto url = WideAsciiText(bytes, at, 1024);
    if (url && url->size() > kListScheme.size() + kListPage.size() && url->ends_with(kListPage)) {
      return url->substr(kListScheme.size(), url->size() - kListScheme.size() - kListPage.size());
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<LauncherBuild> ReadLauncherBuild(const fs::path& path) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) throw std::runtime_error("cannot read " + path.string() + ": " + error.message());
  if (size > kMaxLauncherSize) return std::nullopt;
  const std::string bytes = ReadFileBytes(path);
  const std::string_view all(bytes);
  for (std::size_t at = all.find(kFactsHead); at != std::string_view::npos;
       at = all.find(kFactsHead, at + 1)) {
    const std::size_t end = std::min(all.find('\0', at), all.size());
    if (end - at > kMaxFactsSize) continue;
    if (auto build = ParseFacts(all.substr(at, end - at))) return build;
  }
  if (auto host = VersionListHost(all)) return LauncherBuild{false, {}, std::move(*host), {}, 0};
  return std::nullopt;
}

int RunInspect(const std::vector<fs::path>& files, std::ostream& out, std::ostream& err) {
  int status = 0;
  for (const fs::path& file : files) {
    std::optional<LauncherBuild> build;
    try {
      build = ReadLauncherBuild(file);
    } catch (const std::exception& failure) {
      err << "tarvo-publish: " << failure.what() << "\n";
      status = 1;
      continue;
    }
    if (!build) {
      err << "tarvo-publish: " << file.string() << " is no Tarvo launcher\n";
      status = 1;
      continue;
    }
    out << file.string() << "\n";
    if (build->facts) out << "  version: " << build->version << "\n";
    out << "  update host: " << build->updateHost << " (version list http://" << build->updateHost
        << "/zip.html)\n";
    if (!build->facts) {
      out << "  built before launchers named their build: its version, public key and download "
             "rate cannot be told\n";
      continue;
    }
    if (build->publicKey.empty()) {
      out << "  public key: none (updates are not signed)\n";
    } else {
      out << "  public key: " << build->publicKey
          << " (installs only updates signed with its secret key)\n";
    }
    out << "  download rate: "
        << (build->downloadRate == 0 ? std::string("no limit")
                                     : std::to_string(build->downloadRate) + " KiB/s")
        << "\n";
  }
  return status;
}

}  // namespace tarvo::publish
