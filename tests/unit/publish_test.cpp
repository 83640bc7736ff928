// tarvo-publish: the version page, names and URLs, the tree comparison, the archive it writes,
// the tool's refusals, and the launcher's planning of the page it writes.

#include <gtest/gtest.h>
#include <minizip/unzip.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "common/utf.h"
#include "publish/archive_url.h"
#include "publish/installation_tree.h"
#include "publish/item_names.h"
#include "publish/recorded_version.h"
#include "publish/site_check.h"
#include "publish/tool.h"
#include "publish/tree_changes.h"
#include "publish/update_archive.h"
#include "publish/version_page.h"
#include "support/reference_planner.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "unzip/archive_signature.h"
#include "unzip/zip_archive.h"
#include "update/plan_downloads.h"

namespace tarvo::publish {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

std::string Entry(std::string_view text) {
  return std::string(kEntryOpenTag) + std::string(text) + std::string(kEntryCloseTag);
}

std::vector<VersionKey> Keys(std::string_view page) {
  std::vector<VersionKey> keys;
  for (const VersionEntry& entry : ParseVersionList(page).entries) keys.push_back(entry.key);
  return keys;
}

// ---------------------------------------------------------------------------------------------
// The version page

TEST(VersionPage, ReadsTheEntriesOfThePagesFirstListAsTheLauncherDoes) {
  const std::string page =
      "<html><vlVersionList>\n"
      "  <Version>0000100000002http://h/u/0000100000002.zip</Version>\n"
      "  <!-- a comment --><version>0000100000009http://h/lower.zip</version>\n"
      "  <Version>-000100000003x</Version><Version>12345678</Version>\n"
      "</vlVersionList>\n"
      "<vlVersionList><Version>0000100000005http://h/second-list.zip</Version></vlVersionList>";
  const VersionList list = ParseVersionList(page);
  ASSERT_EQ(list.state, ListState::kFound);
  EXPECT_TRUE(list.faults.empty());
  ASSERT_EQ(list.entries.size(), 3u);
  EXPECT_EQ(list.entries[0].key, (VersionKey{1, 2}));
  EXPECT_EQ(list.entries[0].Url(), "http://h/u/0000100000002.zip");
  EXPECT_EQ(list.entries[0].line, 2u);
  EXPECT_EQ(list.entries[1].key, (VersionKey{-1, 3}));
  EXPECT_EQ(list.entries[1].Url(), "x");
  EXPECT_EQ(list.entries[2].key, (VersionKey{12345, 678}));
  EXPECT_EQ(list.entries[2].Url(), "");
  EXPECT_EQ(page.substr(list.entries[0].begin, list.entries[0].end - list.entries[0].begin),
            Entry("0000100000002http://h/u/0000100000002.zip"));
}

TEST(VersionPage, TellsListsAndTagsThatTheLauncherWouldReadOtherwise) {
  EXPECT_EQ(ParseVersionList("").state, ListState::kMissing);
  EXPECT_EQ(ParseVersionList("<vlVersionList><Version>x</Version>").state, ListState::kMissing);
  EXPECT_EQ(ParseVersionList("</vlVersionList>").state, ListState::kMissing);
  EXPECT_EQ(ParseVersionList("</vlVersionList><vlVersionList></vlVersionList>").state,
            ListState::kClosedBeforeOpened);

  const VersionList stray = ParseVersionList(
      "<vlVersionList>\n</Version>\n<Version>0000100000002u</Version>\n</vlVersionList>");
  ASSERT_EQ(stray.faults.size(), 1u);
  EXPECT_NE(stray.faults[0].find("line 2"), std::string::npos) << stray.faults[0];
  EXPECT_EQ(stray.entries.size(), 1u);

  const VersionList nested = ParseVersionList(
      "<vlVersionList><Version>0000100000002a\n<Version>0000100000003b</Version>"
      "</vlVersionList>");
  ASSERT_EQ(nested.faults.size(), 1u);
  EXPECT_NE(nested.faults[0].find("inside"), std::string::npos) << nested.faults[0];
  ASSERT_EQ(nested.entries.size(), 1u);
  EXPECT_EQ(nested.entries[0].key, (VersionKey{1, 3}));

  // A closing entry tag beyond the list does not close an entry inside it.
  const VersionList unclosed =
      ParseVersionList("<vlVersionList><Version>0000100000002a</vlVersionList></Version>");
  ASSERT_EQ(unclosed.faults.size(), 1u);
  EXPECT_TRUE(unclosed.entries.empty());
}

TEST(VersionPage, AddsEntriesInVersionOrderOnLinesOfTheirOwnKeepingEveryOtherByte) {
  const std::string page =
      "<html>\r\n<body>\r\n<vlVersionList>\r\n"
      "    <Version>0000100000002http://h/0000100000002.zip</Version>\r\n"
      "    <Version>0000100000010http://h/0000100000010.zip</Version>  \r\n"
      "</vlVersionList>\r\n</body>\r\n";
  const std::string between = "0000100000003http://h/0000100000003.zip";
  const std::string first = "0000000099999http://h/0000000099999.zip";
  const std::string last = "0000200000001http://h/0000200000001.zip";

  std::string result = AddVersionEntry(page, ParseVersionList(page), between);
  result = AddVersionEntry(result, ParseVersionList(result), first);
  result = AddVersionEntry(result, ParseVersionList(result), last);

  EXPECT_EQ(result,
            "<html>\r\n<body>\r\n<vlVersionList>\r\n"
            "    <Version>0000000099999http://h/0000000099999.zip</Version>\r\n"
            "    <Version>0000100000002http://h/0000100000002.zip</Version>\r\n"
            "    <Version>0000100000003http://h/0000100000003.zip</Version>\r\n"
            "    <Version>0000100000010http://h/0000100000010.zip</Version>  \r\n"
            "    <Version>0000200000001http://h/0000200000001.zip</Version>\r\n"
            "</vlVersionList>\r\n</body>\r\n");
}

TEST(VersionPage, AddsToListsWrittenOnOneLineAndToEmptyLists) {
  const std::string oneLine =
      "<p><vlVersionList><Version>0000100000002a/0000100000002.zip</Version></vlVersionList>";
  std::string result = AddVersionEntry(oneLine, ParseVersionList(oneLine), "0000100000001b");
  EXPECT_EQ(result,
            "<p><vlVersionList><Version>0000100000001b</Version>"
            "<Version>0000100000002a/0000100000002.zip</Version></vlVersionList>");
  result = AddVersionEntry(result, ParseVersionList(result), "0000100000003c");
  EXPECT_EQ(Keys(result), (std::vector<VersionKey>{{1, 1}, {1, 2}, {1, 3}}));
  EXPECT_NE(result.find("0000100000002.zip</Version><Version>0000100000003c</Version>"
                        "</vlVersionList>"),
            std::string::npos);

  const std::string empty = "<vlVersionList></vlVersionList>";
  EXPECT_EQ(AddVersionEntry(empty, ParseVersionList(empty), "0000100000001u"),
            "<vlVersionList>" + Entry("0000100000001u") + "</vlVersionList>");

  const std::string page = NewVersionPage();
  result = AddVersionEntry(page, ParseVersionList(page), "0000100000001u");
  EXPECT_NE(result.find("<vlVersionList>\n" + Entry("0000100000001u") + "\n</vlVersionList>"),
            std::string::npos)
      << result;
}

TEST(VersionPage, ReplacingChangesOnlyTheTextOfTheEntriesOfThoseVersions) {
  const std::string page =
      "x<vlVersionList> <Version>0000100000002old</Version> <Version>0000100000003k</Version> "
      "<Version>+0001+0000002dup</Version></vlVersionList>y";
  EXPECT_EQ(
      ReplaceVersionEntries(page, ParseVersionList(page), {1, 2}, "0000100000002new"),
      "x<vlVersionList> <Version>0000100000002new</Version> <Version>0000100000003k</Version> "
      "<Version>0000100000002new</Version></vlVersionList>y");
}

// ---------------------------------------------------------------------------------------------
// URLs and names

TEST(ArchiveUrl, BaseUrlsMustLeadToArchivesTheLauncherCanName) {
  EXPECT_EQ(BaseUrlProblem("http://updates.example.com"), std::nullopt);
  EXPECT_EQ(BaseUrlProblem("HTTP://127.0.0.1:8080/a/b/"), std::nullopt);
  EXPECT_EQ(BaseUrlProblem("https://h/dir%20name"), std::nullopt);
  for (const char* bad :
       {"ftp://h/u", "updates.example.com", "http://", "http:///u", "http://h/u dir",
        "http://h/<u>", "http://h/u?x=1", "http://h/u#f", "http://h/../u", "http://h/./u",
        "http://h/a%2Fb", "http://h/a%zz", "http://h/a%", "http://h/\xC3\xA9", "http://h\\u"}) {
    EXPECT_NE(BaseUrlProblem(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(JoinArchiveUrl("http://h/u", "a.zip"), "http://h/u/a.zip");
  EXPECT_EQ(JoinArchiveUrl("http://h/u/", "a.zip"), "http://h/u/a.zip");
}

TEST(ArchiveUrl, NamesAndPathsComeFromTheUrlAsLauncherAndServerUseThem) {
  EXPECT_EQ(ArchiveNameFromUrl("http://h/u/0000100000003.zip"), "0000100000003.zip");
  EXPECT_EQ(ArchiveNameFromUrl("http://h/u/"), "");
  EXPECT_EQ(ArchiveNameFromUrl("c:\\u\\a.zip"), "a.zip");
  EXPECT_EQ(ArchiveNameFromUrl("a.zip?x=1"), "a.zip?x=1");
  EXPECT_EQ(UrlPathSegments("http://h:80//a/%41b//c.zip?q=/x#f"),
            (std::vector<std::string>{"a", "Ab", "c.zip"}));
  EXPECT_EQ(UrlPathSegments("http://h"), std::vector<std::string>{});
  EXPECT_EQ(UrlPathSegments("http://h/a/%2e%2e/b"), std::nullopt);
  EXPECT_EQ(UrlPathSegments("no-scheme/a"), std::nullopt);
}

TEST(ItemNames, RefusesWhatWindowsCannotHoldOrTheLauncherWouldMisplace) {
  for (const char* good : {"Velmora.exe", "Data/Maps/m1.dat", "data/", "con2.txt", "configure",
                           "\xE6\x97\xA5\xE6\x9C\xAC/a.txt", ".hidden", "a b/c"}) {
    EXPECT_EQ(ItemNameProblem(good), std::nullopt) << good;
  }
  for (const char* bad :
       {"a\\b.txt", "c:x.txt", "x/a:b", "what?.txt", "a|b", "tab\t", "dir./f", "f ", "CON",
        "con.txt", "x/Nul.dat", "com1", "LPT9.log", "bad\xFF.txt", "\xC3"}) {
    EXPECT_NE(ItemNameProblem(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(ItemNameProblem(std::string(259, 'a')), std::nullopt);
  EXPECT_NE(ItemNameProblem(std::string(260, 'a')), std::nullopt);
  // Bytes count, not characters.
  EXPECT_EQ(ItemNameProblem(std::string(256, 'a') + "/\xC3\xA9"), std::nullopt);
  EXPECT_NE(ItemNameProblem(std::string(257, 'a') + "/\xC3\xA9"), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// The recorded versions of an installation

TEST(RecordedVersion, ReadsTheProfileAsWindowsDoes) {
  test::TempDir dir;
  const fs::path ini = dir.path() / "Config.ini";

  WriteFile(ini,
            "[Other]\nFirstVersion=9\n[ version ]\n firstversion = \"7\" \nSecondVersion=12ab\n"
            "[VERSION]\nFirstVersion=8\n");
  EXPECT_EQ(ReadRecordedVersion(ini), (VersionKey{7, 12}));

  // The form the launcher's own profile writer leaves on Windows: UTF-16LE with its mark.
  const std::u16string wide = u"[VERSION]\r\nFirstVersion=-3\r\nSecondVersion=42\r\n";
  std::string bytes = "\xFF\xFE";
  for (const char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  WriteFile(ini, bytes);
  EXPECT_EQ(ReadRecordedVersion(ini), (VersionKey{-3, 42}));

  WriteFile(ini, "\xEF\xBB\xBF[VERSION]\nFirstVersion=letters\nSecondVersion=" +
                     std::string(300, '9') + "\n");
  EXPECT_EQ(ReadRecordedVersion(ini), (VersionKey{0, 2147483647}));
  WriteFile(ini, "[General]\nName=x\n");
  EXPECT_EQ(ReadRecordedVersion(ini), (VersionKey{0, 0}));
  EXPECT_THROW(ReadRecordedVersion(dir.path() / "missing.ini"), std::runtime_error);
}

// ---------------------------------------------------------------------------------------------
// Comparing the trees

void Touch(const fs::path& path, const std::string& bytes = "x") {
  fs::create_directories(path.parent_path());
  WriteFile(path, bytes);
}

std::vector<std::string> ItemNames(const TreeChanges& changes) {
  std::vector<std::string> names;
  for (const TreeNode& item : changes.items) {
    names.push_back(item.kind == NodeKind::kDirectory ? item.name + "/" : item.name);
  }
  return names;
}

class TreeComparison : public ::testing::Test {
 protected:
  TreeChanges Compare() {
    std::ostringstream progress;
    return CompareTrees(ScanInstallationTree(previous_), ScanInstallationTree(next_), progress);
  }
  test::TempDir dir_;
  fs::path previous_ = dir_.path() / "previous";
  fs::path next_ = dir_.path() / "next";
};

TEST_F(TreeComparison, ArchivesAddedAndChangedFilesAndNewEmptyFolders) {
  Touch(previous_ / "same.dat", "same");
  Touch(next_ / "same.dat", "same");
  Touch(previous_ / "sized.dat", "abcd");
  Touch(next_ / "sized.dat", "abce");  // same size, other bytes
  Touch(previous_ / "grown.dat", "a");
  Touch(next_ / "grown.dat", "ab");
  Touch(next_ / "Data/Maps/new.map");
  Touch(previous_ / "Readme.txt", "r");
  Touch(next_ / "README.TXT", "r");  // the same file on Windows, and unchanged
  Touch(previous_ / "gone/old.txt");
  Touch(previous_ / "UpdateZip/0000100000002.zip");
  Touch(next_ / "updatezip/0000100000003.zip");
  fs::create_directories(next_ / "empty/inner/innermost");
  fs::create_directories(next_ / "Data/Empty");
  fs::create_directories(previous_ / "kept");
  fs::create_directories(next_ / "kept");

  const TreeChanges changes = Compare();
  EXPECT_TRUE(changes.problems.empty());
  EXPECT_EQ(ItemNames(changes),
            (std::vector<std::string>{"Data/Empty/", "Data/Maps/new.map", "empty/inner/innermost/",
                                      "grown.dat", "sized.dat"}));
  EXPECT_EQ(changes.added, 1u);
  EXPECT_EQ(changes.changed, 2u);
  EXPECT_EQ(changes.deleted, std::vector<std::string>{"gone/old.txt"});
}

TEST_F(TreeComparison, LinksToFilesCountAsTheFilesAndOtherLinksAreLeftOut) {
  Touch(dir_.path() / "outside/target.txt", "target");
  fs::create_directories(next_);
  fs::create_directories(previous_);
  fs::create_symlink(dir_.path() / "outside/target.txt", next_ / "linked.txt");
  fs::create_directory_symlink(dir_.path() / "outside", next_ / "linked-folder");
  fs::create_symlink(dir_.path() / "nowhere", next_ / "broken");

  const InstallationTree tree = ScanInstallationTree(next_);
  EXPECT_EQ(tree.skipped.size(), 2u);
  const TreeChanges changes = Compare();
  EXPECT_EQ(ItemNames(changes), std::vector<std::string>{"linked.txt"});
  EXPECT_EQ(changes.items[0].size, 6u);
}

TEST_F(TreeComparison, RefusesWhatAnArchiveCannotCarry) {
  Touch(previous_ / "was-file");
  Touch(next_ / "was-file/now-inside.txt");
  Touch(previous_ / "was-folder/x.txt");
  Touch(next_ / "Was-Folder");
  Touch(next_ / "Twice.txt");
  Touch(next_ / "twice.txt");
  Touch(next_ / "aux.txt");
  Touch(next_ / "back\\slash.txt");

  const TreeChanges changes = Compare();
  ASSERT_EQ(changes.problems.size(), 5u);
  const std::string all = [&] {
    std::string text;
    for (const auto& problem : changes.problems) text += problem + "\n";
    return text;
  }();
  EXPECT_NE(all.find("was-file is a file in the previous tree and a folder"), std::string::npos)
      << all;
  EXPECT_NE(all.find("Was-Folder is a folder in the previous tree and a file"), std::string::npos)
      << all;
  EXPECT_NE(all.find("Twice.txt and twice.txt"), std::string::npos) << all;
  EXPECT_NE(all.find("aux.txt has a part that is a device name"), std::string::npos) << all;
  EXPECT_NE(all.find("back\\slash.txt holds the character \\"), std::string::npos) << all;
}

// ---------------------------------------------------------------------------------------------
// The tool

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// Every file and folder under a root with its contents, to tell whether a run changed anything.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> snapshot;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().lexically_relative(root).generic_string();
    snapshot[name] = entry.is_regular_file() ? ReadFile(entry.path()) : "<folder>";
  }
  return snapshot;
}

class PublishTool : public ::testing::Test {
 protected:
  void SetUp() override {
    Touch(previous_ / "Sys/Config.ini", "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
    Touch(previous_ / "Velmora.exe", "client 2");
    Touch(previous_ / "data/old.pak", "old");
    Touch(previous_ / "data/kept.pak", "kept");
    fs::copy(previous_, next_, fs::copy_options::recursive);
    Touch(next_ / "Velmora.exe", "client 3");
    Touch(next_ / "data/new.pak", "new");
    fs::create_directories(site_ / "updates");
  }

  RunResult Run(std::vector<std::string> arguments) {
    std::ostringstream out, err;
    const int status = RunTool(arguments, out, err);
    return {status, out.str(), err.str()};
  }

  std::vector<std::string> Arguments(int first = 1, int second = 3) const {
    return {"--site",           site_.string(),        "--url",    kBaseUrl,
            "--first",          std::to_string(first), "--second", std::to_string(second),
            previous_.string(), next_.string()};
  }

  static constexpr const char* kBaseUrl = "http://updates.example.com/updates";
  test::TempDir dir_;
  fs::path previous_ = dir_.path() / "previous";
  fs::path next_ = dir_.path() / "next";
  fs::path site_ = dir_.path() / "site";
  fs::path page_ = site_ / "zip.html";
  fs::path archive_ = site_ / "updates" / "0000100000003.zip";
};

TEST_F(PublishTool, InfoZipExtractsExactlyTheAddedAndChangedFiles) {
  const RunResult run = Run(Arguments());
  ASSERT_EQ(run.status, 0) << run.err;

  const fs::path extracted = dir_.path() / "extracted";
  fs::create_directories(extracted);
  test::Process unzip("/usr/bin/unzip", {"-q", archive_.string(), "-d", extracted.string()},
                      dir_.path());
  ASSERT_TRUE(unzip.started());
  ASSERT_EQ(unzip.Wait(std::chrono::seconds(60)), 0);
  EXPECT_EQ(Snapshot(extracted),
            (std::map<std::string, std::string>{
                {"Velmora.exe", "client 3"}, {"data", "<folder>"}, {"data/new.pak", "new"}}));
  const auto seconds = [](const fs::path& path) {
    return std::chrono::floor<std::chrono::seconds>(
        std::chrono::file_clock::to_sys(fs::last_write_time(path)));
  };
  EXPECT_EQ(seconds(extracted / "data/new.pak"), seconds(next_ / "data/new.pak"))
      << "the modification time travels with the file";

  EXPECT_EQ(ReadFile(page_),
            "<!DOCTYPE html>\n<html>\n<head><title>Velmora updates</title></head>\n<body>\n"
            "<vlVersionList>\n"
            "<Version>0000100000003http://updates.example.com/updates/0000100000003.zip</Version>\n"
            "</vlVersionList>\n</body>\n</html>\n");
  EXPECT_EQ(Run({"--check", site_.string()}).status, 0);
}

TEST_F(PublishTool, ArchiveItemsInstallWritableUnderTheirUtf8NamesAndTimes) {
  Touch(next_ / "\xC3\xA9t\xC3\xA9/caf\xC3\xA9.txt", "utf-8");
  fs::permissions(next_ / "data/new.pak", fs::perms::owner_read);
  fs::create_directories(next_ / "saves");
  ASSERT_EQ(Run(Arguments()).status, 0);

  unzFile zip = unzOpen64(archive_.c_str());
  ASSERT_NE(zip, nullptr);
  std::map<std::string, unz_file_info64> items;
  for (int more = unzGoToFirstFile(zip); more == UNZ_OK; more = unzGoToNextFile(zip)) {
    unz_file_info64 info;
    char name[260] = {};
    ASSERT_EQ(unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0),
              UNZ_OK);
    items[name] = info;
    unsigned char extra[64] = {};
    ASSERT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
    ASSERT_EQ(unzGetLocalExtrafield(zip, extra, sizeof extra), 9) << name;
    unzCloseCurrentFile(zip);
    // "UT", 5 data bytes, the modification time alone.
    EXPECT_EQ(extra[0], 0x55);
    EXPECT_EQ(extra[1], 0x54);
    EXPECT_EQ(extra[2], 5);
    EXPECT_EQ(extra[4], 0x01);
  }
  unzClose(zip);

  ASSERT_EQ(items.size(), 4u);
  for (const auto& [name, info] : items) {
    EXPECT_EQ(info.version >> 8, 0u) << name << ": MS-DOS attributes";
    EXPECT_EQ(info.flag & 0x0800, 0x0800u) << name << ": UTF-8 name";
  }
  EXPECT_EQ(items["data/new.pak"].external_fa, 0x20u) << "archive bit only: never read-only";
  EXPECT_EQ(items["saves/"].external_fa, 0x10u);
  EXPECT_EQ(items["saves/"].compression_method, 0u);
  EXPECT_EQ(items.count("\xC3\xA9t\xC3\xA9/caf\xC3\xA9.txt"), 1u);
}

TEST_F(PublishTool, EachRefusalSaysWhyAndChangesNothing) {
  struct Case {
    const char* what;
    std::function<void(std::vector<std::string>&)> prepare;
    int status;
    const char* message;
  };
  const auto with = [](std::size_t index, std::string value) {
    return [=](std::vector<std::string>& arguments) { arguments[index] = value; };
  };
  const std::string malformedPage = "<vlVersionList><Version>0000100000002a</vlVersionList>";
  const std::vector<Case> cases = {
      {"first version too wide", with(5, "100000"), 2, "--first takes a number from 0 to 99999"},
      {"second version too wide", with(7, "100000000"), 2,
       "--second takes a number from 0 to 99999999"},
      {"negative version", with(5, "-1"), 2, "--first takes a number"},
      {"version with letters", with(7, "3a"), 2, "--second takes a number"},
      {"base URL not HTTP", with(3, "ftp://h/u"), 2, "must begin with http://"},
      {"previous tree missing", with(8, "/nonexistent/previous"), 1,
       "the previous tree /nonexistent/previous is not an existing folder"},
      {"new tree missing", with(9, "/nonexistent/next"), 1, "the new tree"},
      {"site missing", with(1, "/nonexistent/site"), 1, "the site folder"},
      {"archive folder missing", with(3, "http://updates.example.com/elsewhere"), 1,
       "the archive folder"},
      {"first version not the installed one", with(5, "2"), 1,
       "records FirstVersion 1 in Sys/Config.ini"},
      {"second version not above the installed one", with(7, "2"), 1,
       "records SecondVersion 2 in Sys/Config.ini"},
      {"archive exists", [&](auto&) { Touch(archive_, "published before"); }, 1,
       "already exists; give --force"},
      {"entry exists",
       [&](auto&) {
         Touch(page_,
               "<vlVersionList>\n<Version>0000100000003http://x/y.zip</Version>\n"
               "</vlVersionList>");
       },
       1, "already has an entry for these versions (line 2)"},
      {"page without a list", [&](auto&) { Touch(page_, "<html>maintenance</html>"); }, 1,
       "has no <vlVersionList> ... </vlVersionList> element"},
      {"malformed list", [&](auto&) { Touch(page_, malformedPage); }, 1, "not well-formed"},
      {"file became a folder",
       [&](auto&) {
         fs::remove(next_ / "data/kept.pak");
         Touch(next_ / "data/kept.pak/inside.txt");
       },
       1, "data/kept.pak is a file in the previous tree and a folder in the new one"},
      {"name Windows cannot hold", [&](auto&) { Touch(next_ / "what?.txt"); }, 1,
       "what?.txt holds the character ?"},
      {"the removal list's name", [&](auto&) { Touch(next_ / "Sys/tarvoremovals.TXT"); }, 1,
       "Sys/tarvoremovals.TXT is the name under which an update carries the files it removes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> arguments = Arguments();
    c.prepare(arguments);
    const auto before = Snapshot(dir_.path());
    const RunResult run = Run(arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(dir_.path()), before);
    // Undo what the case prepared.
    fs::remove(archive_);
    fs::remove(page_);
    fs::remove_all(next_);
    fs::copy(previous_, next_, fs::copy_options::recursive);
    Touch(next_ / "Velmora.exe", "client 3");
    Touch(next_ / "data/new.pak", "new");
  }
}

TEST_F(PublishTool, AddsStepsToAnExistingPageInOrderAndForceReplacesOne) {
  const std::string before = "<html>\n<!-- players' update list -->\n<vlVersionList>\n";
  const std::string after = "</vlVersionList>\n<p>\xB0 not UTF-8, kept</p>\n";
  Touch(page_, before +
                   "  <Version>0000100000002http://updates.example.com/updates/"
                   "0000100000002.zip</Version>\n" +
                   after);
  Touch(site_ / "updates/0000100000002.zip", test::BuildZip({{"a.txt", "earlier"}}));
  Touch(previous_ / "Sys/Config.ini", "[VERSION]\nFirstVersion=1\nSecondVersion=1\n");

  ASSERT_EQ(Run(Arguments(1, 4)).status, 0);
  ASSERT_EQ(Run(Arguments(1, 3)).status, 0);
  const std::string page = ReadFile(page_);
  EXPECT_EQ(page, before +
                      "  <Version>0000100000002http://updates.example.com/updates/"
                      "0000100000002.zip</Version>\n"
                      "  <Version>0000100000003http://updates.example.com/updates/"
                      "0000100000003.zip</Version>\n"
                      "  <Version>0000100000004http://updates.example.com/updates/"
                      "0000100000004.zip</Version>\n" +
                      after);

  Touch(next_ / "data/new.pak", "fixed");
  const std::string archiveBefore = ReadFile(archive_);
  std::vector<std::string> forced = Arguments(1, 3);
  forced.push_back("--force");
  std::vector<std::string> moved = forced;
  moved[3] = "http://mirror.example.com/updates";
  const RunResult run = Run(moved);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(ReadFile(archive_), archiveBefore);
  std::string expected = page;
  const std::string oldUrl = "http://updates.example.com/updates/0000100000003.zip";
  expected.replace(expected.find(oldUrl), oldUrl.size(),
                   "http://mirror.example.com/updates/0000100000003.zip");
  EXPECT_EQ(ReadFile(page_), expected);
  EXPECT_EQ(Run({"--check", site_.string()}).status, 0);
}

TEST_F(PublishTool, WarnsAboutWhatPlayersKeepOrCannotReplace) {
  fs::remove(next_ / "data/old.pak");
  Touch(next_ / "Tarvo.exe", "new launcher");
  Touch(next_ / "Sys/Config.ini", "[VERSION]\nFirstVersion=1\nSecondVersion=3\n");
  Touch(next_ / "UpdateZip/0000100000002.zip");

  const RunResult run = Run(Arguments());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("removes 1 file(s) and 0 folder(s)"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("players' launchers remove:\n  data/old.pak\n"), std::string::npos);
  EXPECT_EQ(run.err.find("players keep"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Sys/Config.ini is in the update"), std::string::npos);
  EXPECT_NE(run.err.find("Tarvo.exe is in the update: players' launchers replace themselves"),
            std::string::npos);
  EXPECT_NE(run.err.find("left out what UpdateZip holds"), std::string::npos);
}

TEST_F(PublishTool, ADryRunShowsTheItemsAndWritesNothing) {
  std::vector<std::string> arguments = Arguments();
  arguments.push_back("--dry-run");
  const auto before = Snapshot(dir_.path());
  const RunResult run = Run(arguments);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Snapshot(dir_.path()), before);
  EXPECT_NE(run.out.find("  data/new.pak\n  Velmora.exe\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("<Version>0000100000003http://updates.example.com/updates/"
                         "0000100000003.zip</Version>"),
            std::string::npos);
}

TEST_F(PublishTool, LargeTreesShowProgress) {
  for (int i = 0; i < 1100; ++i) {
    const std::string name = std::to_string(i) + ".dat";
    WriteFile(next_ / "data" / name, "n");
    if (i < 1050) WriteFile(previous_ / "data" / name, "o");
  }
  const RunResult run = Run(Arguments());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("comparing: 1000 of 1054 files"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("archiving: 1000 of 1102 files"), std::string::npos) << run.err;
}

TEST_F(PublishTool, TheCommandLineIsCheckedBeforeAnythingElse) {
  EXPECT_EQ(Run({"--help"}).status, 0);
  EXPECT_NE(Run({"--help"}).out.find("Usage:"), std::string::npos);
  EXPECT_EQ(Run({}).status, 2);
  EXPECT_EQ(Run({"--bogus"}).status, 2);
  std::vector<std::string> oneTree = Arguments();
  oneTree.pop_back();
  EXPECT_EQ(Run(oneTree).status, 2);
  EXPECT_EQ(Run({"--check", site_.string(), "--first", "1"}).status, 2);
  std::vector<std::string> joined = {"--site=" + site_.string(),
                                     "--url=" + std::string(kBaseUrl),
                                     "--first=1",
                                     "--second=3",
                                     previous_.string(),
                                     next_.string()};
  EXPECT_EQ(Run(joined).status, 0);
}

// 65,535 items or more: a count that only a zip64 end record can hold. Info-ZIP and the
// launcher read every item, and so does the check.
TEST_F(PublishTool, ArchivesOfManyItemsEndInAZip64EndRecord) {
  constexpr int kFolders = 65540;
  std::vector<TreeNode> items(kFolders);
  for (int i = 0; i < kFolders; ++i) {
    items[i].name = std::to_string(i);
    items[i].kind = NodeKind::kDirectory;
  }
  std::ostringstream progress;
  WriteUpdateArchive(archive_, items, progress);
  Touch(page_, "<vlVersionList>" + Entry("0000100000003http://h/updates/0000100000003.zip") +
                   "</vlVersionList>");

  const std::string bytes = ReadFile(archive_);
  EXPECT_EQ(bytes.compare(bytes.size() - 22 - 20, 4, "PK\x06\x07"), 0) << "a zip64 locator";
  test::Process unzip("/usr/bin/unzip", {"-tqq", archive_.string()}, dir_.path());
  ASSERT_TRUE(unzip.started());
  EXPECT_EQ(unzip.Wait(std::chrono::seconds(60)), 0);
  const ZipHandle zip = ZipOpenArchive(test::CoreText(archive_).c_str());
  ASSERT_NE(zip, nullptr);
  ZipItem item{};
  EXPECT_EQ(ZipGetItem(zip, -1, &item), ZIP_OK);
  EXPECT_EQ(item.index, kFolders);
  ZipCloseArchive(zip);
  EXPECT_EQ(Run({"--check", site_.string()}).status, 0);
}

// ---------------------------------------------------------------------------------------------
// Checking a site

TEST_F(PublishTool, CheckReportsMissingArchivesAndEntriesTheLauncherSkips) {
  const std::string archive = test::BuildZip({{"a.txt", "a"}});
  Touch(site_ / "updates/0000100000002.zip", archive);
  // Two spellings of one file: only the last would stay in players' installations.
  Touch(site_ / "updates/0000100000003-hotfix.ZIP",
        test::BuildZip({{"Data/A.dat", "a"}, {"b.txt", "b"}, {"./data//a.dat ", "c"}}));
  Touch(site_ / "updates/0000100000004.zip", archive);
  Touch(site_ / "updates/update5.zip", archive);
  Touch(site_ / "updates/0000100000006.rar", "Rar!");
  Touch(site_ / "mirror/0000100000008.zip", archive);
  Touch(page_,
        "<vlVersionList>\n"
        "<Version>0000100000002http://h/updates/0000100000002.zip</Version>\n"
        "<Version>0000100000003http://h/updates/0000100000003-hotfix.ZIP</Version>\n"
        "<Version>0000100000004http://h/updates/0000100000004.zip</Version>\n"
        "<Version>0000100000005http://h/updates/update5.zip</Version>\n"
        "<Version>0000100000006http://h/updates/0000100000006.rar</Version>\n"
        "<Version>0000100000007http://h/updates/0000100000007.zip</Version>\n"
        "<Version>0000100000008http://other/mirror/0000100000008.zip</Version>\n"
        "<Version>0000100000004http://h/updates/0000100000004.zip</Version>\n"
        "<Version> 000100000009http://h/updates/ 000100000009.zip</Version>\n"
        "<Version>0000100000010</Version>\n"
        "</vlVersionList>\n");

  const std::vector<std::string> problems = CheckSite(site_, std::nullopt);
  std::string all;
  for (const auto& problem : problems) all += problem + "\n";
  // The launcher names its download after the entry, so any archive name will do.
  EXPECT_EQ(problems.size(), 8u) << all;
  const auto reported = [&](std::string_view text) { return all.find(text) != std::string::npos; };
  EXPECT_TRUE(reported("line 7, entry 0000100000007: archive missing: " +
                       (site_ / "updates/0000100000007.zip").string()))
      << all;
  EXPECT_TRUE(
      reported("line 9, entry 0000100000004: the same versions as line 4; players "
               "download only the first of them"))
      << all;
  EXPECT_TRUE(
      reported("line 10, entry  000100000009: does not begin with 13 digits, so the "
               "launcher never downloads it"))
      << all;
  EXPECT_TRUE(reported("line 10, entry  000100000009: the archive URL holds white space")) << all;
  EXPECT_TRUE(reported("line 11, entry 0000100000010: no archive URL")) << all;
  EXPECT_TRUE(reported("items 1 and 3 both name data/a.dat")) << all;
  EXPECT_TRUE(
      reported("line 6, entry 0000100000006: " + (site_ / "updates/0000100000006.rar").string() +
               " is no zip archive that the launcher reads whole"))
      << all;

  const RunResult run = Run({"--check", site_.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("8 problem(s)"), std::string::npos) << run.out;

  // With an archive folder, archives are looked up by name there instead.
  const auto inMirror = CheckSite(site_, site_ / "mirror");
  all.clear();
  for (const auto& problem : inMirror) all += problem + "\n";
  EXPECT_TRUE(reported("line 2, entry 0000100000002: archive missing")) << all;
  EXPECT_FALSE(reported("line 8,")) << all;

  fs::remove(page_);
  EXPECT_EQ(Run({"--check", site_.string()}).status, 1);
  Touch(page_, "<html>no list</html>");
  EXPECT_EQ(Run({"--check", site_.string()}).status, 1);
}

// ---------------------------------------------------------------------------------------------
// The launcher's own planning of a page written by the tool

TEST_F(PublishTool, TheLauncherPlansExactlyThePublishedStepsItLacks) {
  ASSERT_EQ(Run(Arguments(1, 3)).status, 0);
  const fs::path step4 = dir_.path() / "step4";
  fs::copy(next_, step4, fs::copy_options::recursive);
  Touch(step4 / "data/kept.pak", "kept, fixed");
  const std::vector<std::string> fourth = {
      "--site", site_.string(), "--url", kBaseUrl,       "--first",
      "1",      "--second",     "4",     next_.string(), step4.string()};
  const RunResult run = Run(fourth);
  ASSERT_EQ(run.status, 0) << run.err;

  const std::u16string page = Utf8ToUtf16(ReadFile(page_));
  const std::u16string program = u"C:\\Games\\Velmora\\";
  const auto plan = [&](std::int32_t first, std::int32_t second) {
    test::RecordingPlanner planner(first, second);
    const int started = PlanDownloads(page, planner, program);
    EXPECT_EQ(started, planner.downloads.empty() ? 0 : 1);
    return planner.downloads;
  };
  const std::vector<test::PlannedDownload> both = {
      {u"http://updates.example.com/updates/0000100000003.zip",
       u"C:\\Games\\Velmora\\UpdateZip\\0000100000003.zip"},
      {u"http://updates.example.com/updates/0000100000004.zip",
       u"C:\\Games\\Velmora\\UpdateZip\\0000100000004.zip"}};
  EXPECT_EQ(plan(1, 2), both);
  EXPECT_EQ(plan(1, 3), std::vector<test::PlannedDownload>(both.begin() + 1, both.end()));
  EXPECT_TRUE(plan(1, 4).empty());
  EXPECT_TRUE(plan(2, 2).empty()) << "another line's installation takes none of them";
}

}  // namespace
}  // namespace tarvo::publish

namespace tarvo::publish {
namespace {

// ---------------------------------------------------------------------------------------------
// Signing

class PublishSigned : public PublishTool {
 protected:
  // Makes a key pair with keygen; the public key as the tool printed it.
  std::string Keygen(const fs::path& file) {
    const RunResult run = Run({"keygen", file.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string last = run.out.substr(0, run.out.size() - 1);
    return last.substr(last.rfind('\n') + 1);
  }
  bool Verifies(const fs::path& archive, const std::string& publicKey, std::string_view versions) {
    const std::optional<PublicKey> key = DecodePublicKey(publicKey);
    return key && VerifyArchiveFile(test::CoreText(archive).c_str(), *key, versions);
  }
  fs::path key_ = dir_.path() / "secret.key";
};

TEST_F(PublishSigned, KeygenWritesASecretKeyForItsOwnerAloneAndNeverOverwrites) {
  const std::string publicKey = Keygen(key_);
  EXPECT_TRUE(DecodePublicKey(publicKey)) << publicKey;
  EXPECT_EQ(fs::status(key_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const std::string secret = ReadFile(key_);
  const RunResult again = Run({"keygen", key_.string()});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("exists already"), std::string::npos) << again.err;
  EXPECT_EQ(ReadFile(key_), secret);
  EXPECT_EQ(Run({"keygen"}).status, 2);
}

TEST_F(PublishSigned, PublishedArchivesAreSignedAndTheCheckVerifiesThem) {
  const std::string publicKey = Keygen(key_);
  std::vector<std::string> arguments = Arguments();
  arguments.insert(arguments.begin(), {"--sign-key", key_.string()});
  const RunResult run = Run(arguments);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Verifies(archive_, publicKey, "0000100000003"));
  EXPECT_FALSE(Verifies(archive_, publicKey, "0000100000004"));
  EXPECT_EQ(Run({"--check", site_.string(), "--public-key", publicKey}).status, 0);

  // Another operator's key, and an archive that lost its signature.
  const std::string otherKey = Keygen(dir_.path() / "other.key");
  const RunResult other = Run({"--check", site_.string(), "--public-key", otherKey});
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.out.find("entry 0000100000003: " + archive_.string() + " is not signed"),
            std::string::npos)
      << other.out;
  test::WriteFile(archive_, test::BuildZip({{"a", "b"}}));
  EXPECT_EQ(Run({"--check", site_.string(), "--public-key", publicKey}).status, 1);
  EXPECT_EQ(Run({"--check", site_.string(), "--public-key", "not a key"}).status, 1);
}

TEST_F(PublishSigned, SignSignsArchivesOfOtherToolsNamedAfterTheirVersions) {
  const std::string publicKey = Keygen(key_);
  const fs::path foreign = dir_.path() / "0000100000005.zip";
  test::WriteFile(foreign, test::BuildZip({{"a.txt", "five"}}, "", "made by another tool"));
  const fs::path unnamed = dir_.path() / "update.zip";
  test::WriteFile(unnamed, test::BuildZip({{"a.txt", "five"}}));
  const fs::path notZip = dir_.path() / "0000100000006.zip";
  test::WriteFile(notZip, "no archive");

  const RunResult run = Run(
      {"sign", "--sign-key", key_.string(), foreign.string(), unnamed.string(), notZip.string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Verifies(foreign, publicKey, "0000100000005"));
  EXPECT_NE(run.err.find("does not begin with the 13 digits"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("is no zip archive"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(notZip), "no archive");
  EXPECT_EQ(ReadFile(unnamed), test::BuildZip({{"a.txt", "five"}}));

  EXPECT_EQ(Run({"sign", foreign.string()}).status, 2);
  EXPECT_EQ(
      Run({"sign", "--sign-key", (dir_.path() / "missing.key").string(), foreign.string()}).status,
      1);
}

}  // namespace
}  // namespace tarvo::publish
