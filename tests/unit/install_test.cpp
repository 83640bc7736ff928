// Installing pending archives: order, versions from names, what is skipped and what is kept.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "config/config_version.h"
#include "common/utf.h"
#include "install/archive_name.h"
#include "install/install_order.h"
#include "install/pending_archives.h"
#include "install/removal_list.h"
#include "platform/files.h"
#include "platform/disk_flush.h"
#include "support/test_keys.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "unzip/zip_archive.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

TEST(ArchiveName, NameAndTitleComeFromTheLastComponent) {
  EXPECT_EQ(FileNameFromPath(u"C:\\Game\\UpdateZip\\0000100000003.zip"), u"0000100000003.zip");
  EXPECT_EQ(FileNameFromPath(u"plain.zip"), u"plain.zip");
  EXPECT_EQ(FileTitleFromPath(u"C:\\Game\\UpdateZip\\a.b.zip"), u"a.b");
  EXPECT_EQ(FileTitleFromPath(u"C:\\Game.d\\noextension"), u"");
  EXPECT_EQ(FileTitleFromPath(u".zip"), u"");
}

TEST(ArchiveName, VersionsComeFromThirteenLeadingDigitsOnly) {
  const auto versions = [](std::u16string_view title) {
    const std::optional<ArchiveVersions> v = VersionsFromFileTitle(title);
    return v ? std::to_string(v->first) + "/" + std::to_string(v->second) : "none";
  };
  EXPECT_EQ(versions(u"1000200000015"), "10002/15");
  EXPECT_EQ(versions(u"0000100000003-extra999"), "1/3");
  EXPECT_EQ(versions(u"00001000000039999"), "1/3");
  for (std::u16string_view title : {u"12345", u"update", u"-0001+0000007", u"", u"00001 0000003",
                                    u"\u6c49\u5316\u8865\u4e01", u"000010000000"}) {
    EXPECT_EQ(versions(title), "none") << Utf16ToUtf8(title);
  }
}

// Each name as the installation would hold it, or refused: what could leave the installation,
// what Windows would take for another file, and what an update never removes.
TEST(RemovalList, TakesPlainRelativeNamesAndRefusesTheRest) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"data/old.pak", u"data\\old.pak"},
      {"data\\old.pak", u"data\\old.pak"},
      {"\xE5\x9C\xB0\xE5\x9B\xBE.map", u"\u5730\u56fe.map"},
      {"Sys/Other.ini", u"Sys\\Other.ini"},
      {"UpdateZipOld/a.txt", u"UpdateZipOld\\a.txt"},
      {"../outside.dat", u""},
      {"data/../../outside.dat", u""},
      {"/etc/passwd", u""},
      {"\\Windows\\win.ini", u""},
      {"C:/Windows/win.ini", u""},
      {"C:win.ini", u""},
      {"data/NUL", u""},
      {"com1.txt", u""},
      {"data//old.pak", u""},
      {"data/./old.pak", u""},
      {"data/old.pak.", u""},
      {"data/old.pak ", u""},
      {"data/old.pak::$DATA", u""},
      {"data/*.pak", u""},
      {"UPDATE~1/x.zip", u""},
      {"UpdateZip", u""},
      {"updatezip/0000100000003.zip", u""},
      {"UpdateZ\xC4\xB1p/x.zip", u""},
      {"Sys/Config.ini", u""},
      {"SYS\\CONFIG.INI", u""},
      {"\xC5\xBFys/Config.ini", u""},
      {std::string("a\0b", 3), u""},
      {std::string(300, 'a'), u""},
  };
  for (const auto& [raw, expected] : cases) {
    EXPECT_EQ(RemovableName(raw).value_or(u""), expected) << raw;
  }
}

TEST(RemovalList, ReadsItsFormAndEmptiesInnerFoldersFirst) {
  const std::optional<RemovalList> list = ParseRemovalList(
      "TARVO-REMOVALS-1\r\nmods/a.dat\r\n\nmods/\nmods/skins/old/\n../x\nmods/skins/\nb.dat");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->files, (std::vector<std::u16string>{u"mods\\a.dat", u"b.dat"}));
  EXPECT_EQ(list->folders,
            (std::vector<std::u16string>{u"mods\\skins\\old", u"mods\\skins", u"mods"}));
  EXPECT_EQ(list->refused, std::vector<std::string>{"../x"});
  for (const char* unknown : {"", "a.dat\n", "TARVO-REMOVALS-2\na.dat\n", " TARVO-REMOVALS-1\n"}) {
    EXPECT_FALSE(ParseRemovalList(unknown)) << unknown;
  }
  const std::optional<RemovalList> written =
      ParseRemovalList(FormatRemovalList({"a/b.dat", "c.dat"}, {"a/d", "a"}));
  ASSERT_TRUE(written);
  EXPECT_EQ(written->files, (std::vector<std::u16string>{u"a\\b.dat", u"c.dat"}));
  EXPECT_EQ(written->folders, (std::vector<std::u16string>{u"a\\d", u"a"}));
}

// A temporary installation with "Sys\Config.ini" and "UpdateZip\".
class Installer : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir() / "Sys");
    fs::create_directories(dir() / "UpdateZip");
    test::WriteFile(dir() / "Sys" / "Config.ini",
                    "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
  }
  fs::path dir() const { return temp_.path() / "game"; }
  std::u16string programDirectory() const { return test::CoreText(dir()) + u"\\"; }
  fs::path pending(const char* name) const { return dir() / "UpdateZip" / name; }
  std::pair<std::int32_t, std::int32_t> Recorded() const {
    std::int32_t first = -99, second = -99;
    ReadConfigVersion(programDirectory() + u"Sys\\Config.ini", first, second);
    return {first, second};
  }
  // Both passes; the paths of the archives that are done.
  std::vector<std::u16string> InstallAndDelete(const FileSearch& search = &FindFiles,
                                               const std::optional<PublicKey>& key = {},
                                               const CDiskFlush& flush = PlatformDiskFlush()) {
    std::vector<std::u16string> finished;
    InstallPendingArchives(programDirectory(), finished, key, search, flush);
    DeletePendingArchives(programDirectory(), finished);
    return finished;
  }
  std::vector<std::string> PendingNames() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir() / "UpdateZip")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir temp_;
};

TEST_F(Installer, InstallsEveryArchiveInSearchOrderAndRecordsTheLastOnesVersions) {
  test::WriteFile(dir() / "readme.txt", "old");
  test::WriteFile(pending("0000100000003.zip"),
                  test::BuildZip({{"readme.txt", "three"}, {"data/maps/a.map", "map3"}}));
  test::WriteFile(pending("0000100000004.zip"), test::BuildZip({{"readme.txt", "four"}}));

  InstallAndDelete();

  EXPECT_EQ(test::ReadFile(dir() / "readme.txt"), "four");
  EXPECT_EQ(test::ReadFile(dir() / "data" / "maps" / "a.map"), "map3");
  EXPECT_EQ(Recorded(), std::make_pair(1, 4));
  EXPECT_TRUE(fs::is_empty(dir() / "UpdateZip"));
}

TEST_F(Installer, InstallsInNameOrderWhateverOrderTheSearchFindsThem) {
  for (const char step : {'3', '4', '5', '6'}) {
    const std::string name = std::string("000010000000") + step + ".zip";
    test::WriteFile(pending(name.c_str()), test::BuildZip({{"game.dat", std::string(1, step)}}));
  }
  // In the order they were made on a FAT32 drive: the newest was downloaded first.
  const auto createdOrder = [](const std::u16string& pattern) {
    std::vector<std::u16string> names = FindFiles(pattern);
    std::reverse(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(InstallAndDelete(createdOrder).size(), 4u);
  EXPECT_EQ(test::ReadFile(dir() / "game.dat"), "6");
  EXPECT_EQ(Recorded(), std::make_pair(1, 6));
}

TEST_F(Installer, AZipWithoutVersionsInItsNameIsInstalledButRecordsNothing) {
  const std::string stray = "\xE6\xB1\x89\xE5\x8C\x96\xE8\xA1\xA5\xE4\xB8\x81.zip";  // 汉化补丁.zip
  test::WriteFile(dir() / "UpdateZip" / fs::u8path(stray),
                  test::BuildZip({{"lang/zh.txt", "chinese"}}));
  test::WriteFile(pending("update.zip"), test::BuildZip({{"lang/en.txt", "english"}}));
  EXPECT_EQ(InstallAndDelete().size(), 2u);
  EXPECT_EQ(test::ReadFile(dir() / "lang" / "zh.txt"), "chinese");
  EXPECT_EQ(test::ReadFile(dir() / "lang" / "en.txt"), "english");
  EXPECT_EQ(Recorded(), std::make_pair(1, 2));
  EXPECT_TRUE(PendingNames().empty());
}

// A Sys\Config.ini that will not take the versions: nothing may claim the update happened, so
// the archive and every later one stay for another start, which installs them once it can.
TEST_F(Installer, AnArchiveWhoseVersionsCannotBeRecordedStaysWithEveryLaterOne) {
  test::WriteFile(pending("0000100000003.zip"), test::BuildZip({{"a.txt", "three"}}));
  test::WriteFile(pending("0000100000004.zip"), test::BuildZip({{"b.txt", "four"}}));
  const fs::path config = dir() / "Sys" / "Config.ini";
  fs::permissions(config, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  SetFileAttributesW(test::CoreText(config).c_str(), FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(InstallAndDelete().empty());
  EXPECT_EQ(Recorded(), std::make_pair(1, 2));
  EXPECT_EQ(PendingNames(), (std::vector<std::string>{"0000100000003.zip", "0000100000004.zip"}));
  EXPECT_FALSE(fs::exists(dir() / "b.txt"));

  SetFileAttributesW(test::CoreText(config).c_str(), 0);
  EXPECT_EQ(InstallAndDelete().size(), 2u);
  EXPECT_EQ(Recorded(), std::make_pair(1, 4));
  EXPECT_TRUE(PendingNames().empty());
}

// A download that ended after newer updates were installed (the recorded versions, or older):
// deleted unread, against what is recorded when its turn comes, the pass's own recording
// included. Other lines and other names are installed as before.
TEST_F(Installer, AnArchiveNotNewerThanTheRecordedVersionsIsDeletedUnread) {
  test::WriteFile(dir() / "Sys" / "Config.ini",
                  "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=3\r\n");
  const std::vector<std::pair<std::string, bool>> archives = {
      {"0000100000002", false},  {"0000100000003", false}, {"0000100000004", true},
      {"0000100000004b", false}, {"0000200000001", true},  {"update", true}};
  for (const auto& [title, installed] : archives) {
    test::WriteFile(pending((title + ".zip").c_str()), test::BuildZip({{title + ".txt", title}}));
  }
  EXPECT_EQ(InstallAndDelete().size(), archives.size());
  for (const auto& [title, installed] : archives) {
    EXPECT_EQ(fs::exists(dir() / (title + ".txt")), installed) << title;
  }
  EXPECT_EQ(Recorded(), std::make_pair(2, 1));
  EXPECT_TRUE(PendingNames().empty());
}

// A newer archive stored before an older entry that the last list planned waits for it; a list
// that no longer offers that entry, another line, or a record that is missing or damaged lets it
// install as before. Each case starts from 1/2 recorded.
TEST_F(Installer, ANewerArchiveWaitsForAnOlderEntryThatTheLastListPlanned) {
  struct Case {
    std::optional<std::string> record;  // the record's text, or none
    std::vector<const char*> pending;
    std::pair<int, int> recorded;
    std::vector<std::string> left;  // archives still pending
  };
  const std::string head = "TARVO-PLANNED-1\n";
  const std::string planned34 = head + "0000100000003\n0000100000004\n";
  const Case cases[] = {
      {planned34, {"0000100000004"}, {1, 2}, {"0000100000004.zip"}},
      {planned34, {"0000100000004", "0000100000003"}, {1, 4}, {}},
      {planned34 + "0000100000005\n",
       {"0000100000004", "0000100000005", "update"},
       {1, 2},
       {"0000100000004.zip", "0000100000005.zip"}},
      {head + "0000100000004\n", {"0000100000004"}, {1, 4}, {}},
      {head + "0000200000003\n", {"0000100000004"}, {1, 4}, {}},
      {std::nullopt, {"0000100000004"}, {1, 4}, {}},
      {planned34 + "00001000000x5\n", {"0000100000004"}, {1, 4}, {}},
      {"TARVO-PLANNED-2\n0000100000003\n", {"0000100000004"}, {1, 4}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record.value_or("no record"));
    fs::remove_all(dir() / "UpdateZip");
    fs::create_directories(dir() / "UpdateZip");
    test::WriteFile(dir() / "Sys" / "Config.ini",
                    "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=2\r\n");
    if (c.record) test::WriteFile(pending("planned-updates.txt"), *c.record);
    for (const char* title : c.pending) {
      test::WriteFile(pending((std::string(title) + ".zip").c_str()),
                      test::BuildZip({{"game.dat", title}}));
    }
    InstallAndDelete();
    EXPECT_EQ(Recorded(), c.recorded);
    std::vector<std::string> left = PendingNames();
    std::erase(left, "planned-updates.txt");
    EXPECT_EQ(left, c.left);
  }
}

TEST(InstallOrder, TheRecordReadsBackSortedOnceEachAndALongListKeepsNone) {
  test::TempDir temp;
  const std::u16string folder = test::CoreText(temp.path()) + u"\\";
  EXPECT_FALSE(ReadPlannedEntries(folder));
  ASSERT_TRUE(WritePlannedEntries(folder, {{1, 4}, {99999, 99999999}, {1, 3}, {1, 4}, {0, 0}}));
  EXPECT_EQ(ReadPlannedEntries(folder),
            (PlannedEntries{{0, 0}, {1, 3}, {1, 4}, {99999, 99999999}}));
  EXPECT_EQ(test::ReadFile(temp.path() / "planned-updates.txt"),
            "TARVO-PLANNED-1\n0000000000000\n0000100000003\n0000100000004\n9999999999999\n");
  EXPECT_FALSE(WritePlannedEntries(folder, PlannedEntries(kMaxPlannedEntries + 1, {1, 3})));
  EXPECT_FALSE(ReadPlannedEntries(folder));
  EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 0);
}

// A flush that notes where it is called: what is recorded, what is pending and what is in place
// at each call.
class NotingFlush : public CDiskFlush {
 public:
  explicit NotingFlush(const fs::path& dir) : dir_(dir) {}
  bool FlushOutputFile(COutputFile& file, const std::u16string& path) const override {
    std::string name = Utf16ToUtf8(path.substr(path.rfind(u"game\\") + 5));
    std::replace(name.begin(), name.end(), '\\', '/');
    Note("file " + name);
    return CDiskFlush::FlushOutputFile(file, path);
  }
  bool FlushExtracted(const std::u16string& folder) const override {
    Note("extracted");
    return CDiskFlush::FlushExtracted(folder);
  }
  mutable std::vector<std::string> notes;

 private:
  void Note(const std::string& what) const {
    std::int32_t first = -1, second = -1;
    ReadConfigVersion(test::CoreText(dir_ / "Sys" / "Config.ini"), first, second);
    std::vector<std::string> pending;
    for (const auto& entry : fs::directory_iterator(dir_ / "UpdateZip")) {
      pending.push_back(entry.path().stem().string().substr(12));
    }
    std::sort(pending.begin(), pending.end());
    std::string note = what + ": recorded " + std::to_string(first) + "/" + std::to_string(second);
    note += ", pending";
    for (const std::string& version : pending) note += " " + version;
    for (const char* file : {"a.txt", "b.txt", "c.txt"}) {
      if (fs::exists(dir_ / file)) note.append(", ").append(file);
    }
    notes.push_back(note);
  }
  fs::path dir_;
};

// Each file is flushed before it takes its place, everything an archive placed (its own
// configuration last) before its versions are recorded, and each archive is deleted once they
// are: a kill anywhere leaves no file older than what is recorded, and no archive to install
// again over a later one.
TEST_F(Installer, FilesAreFlushedBeforeTheVersionsAreRecordedAndArchivesGoOnceRecorded) {
  test::WriteFile(
      pending("0000100000003.zip"),
      test::BuildZip(
          {{"Sys/Config.ini", "[Other]\r\nkey=kept\r\n"}, {"a.txt", "three"}, {"b.txt", "three"}}));
  test::WriteFile(pending("0000100000004.zip"), test::BuildZip({{"c.txt", "four"}}));
  const NotingFlush flush(dir());
  InstallAndDelete(&FindFiles, {}, flush);
  EXPECT_EQ(flush.notes, (std::vector<std::string>{
                             "file a.txt.tvnew: recorded 1/2, pending 3 4",
                             "file b.txt.tvnew: recorded 1/2, pending 3 4, a.txt",
                             "file Sys/Config.ini.tvnew: recorded 1/2, pending 3 4, a.txt, b.txt",
                             "extracted: recorded 0/0, pending 3 4, a.txt, b.txt",
                             "file c.txt.tvnew: recorded 1/3, pending 4, a.txt, b.txt",
                             "extracted: recorded 1/3, pending 4, a.txt, b.txt, c.txt"}));
  EXPECT_EQ(Recorded(), std::make_pair(1, 4));
}

TEST_F(Installer, ANonArchiveIsDeletedUnrecordedAndADirectoryNamedZipStays) {
  test::WriteFile(pending("0000100000009.zip"), "this is no archive");
  fs::create_directory(pending("0000100000010.zip"));
  test::WriteFile(pending("0000100000011.zip.part"), "half a download");
  test::WriteFile(pending("0000100000012.zip.1A2B3C4D.part"), "half another");
  test::WriteFile(pending("notes.txt"), "kept");

  InstallAndDelete();

  // Nothing of it was installed: the update check fetches it again.
  EXPECT_EQ(Recorded(), std::make_pair(1, 2));
  EXPECT_FALSE(fs::exists(pending("0000100000009.zip")));
  EXPECT_FALSE(fs::exists(pending("0000100000011.zip.part")));
  EXPECT_FALSE(fs::exists(pending("0000100000012.zip.1A2B3C4D.part")));
  EXPECT_TRUE(fs::is_directory(pending("0000100000010.zip")));
  EXPECT_TRUE(fs::exists(pending("notes.txt")));
}

// Kept bytes of downloads stay only while they can still be installed (recorded: 1, 2), and
// whatever they are while another launcher holds them.
TEST_F(Installer, DeletesKeptBytesThatCanNoLongerBeInstalled) {
  for (const std::string title :
       {"0000100000003", "0000100000002", "0000200000009", "0000100000004", "0000100000001"}) {
    test::WriteFile(pending((title + ".zip.kept").c_str()), "some bytes");
    test::WriteFile(pending((title + ".zip.kept-info").c_str()), "their record");
  }
  fs::last_write_time(pending("0000100000004.zip.kept"),
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 15));
  test::WriteFile(pending("0000100000005.zip.kept-info"), "a record alone");
  CFile holder(test::CoreText(pending("0000100000001.zip.kept")).c_str(),
               CFile::modeReadWrite | CFile::shareExclusive);
  InstallAndDelete();
  EXPECT_EQ(PendingNames(),
            (std::vector<std::string>{"0000100000001.zip.kept", "0000100000001.zip.kept-info",
                                      "0000100000003.zip.kept", "0000100000003.zip.kept-info"}));
}

// What stands where kept bytes or their record belong and is no file (a folder, with all in it)
// goes with the deletion pass; a file beside it that only looks alike stays.
TEST_F(Installer, AFolderWhereKeptBytesBelongIsRemoved) {
  fs::create_directories(pending("0000100000003.zip.kept") / "inner");
  test::WriteFile(pending("0000100000003.zip.kept") / "inner" / "f.bin", "x");
  fs::create_directory(pending("0000100000004.zip.kept-info"));
  test::WriteFile(pending("0000100000005.zip.kept"), "some bytes");
  test::WriteFile(pending("0000100000005.zip.kept-info"), "their record");
  InstallAndDelete();
  EXPECT_EQ(PendingNames(),
            (std::vector<std::string>{"0000100000005.zip.kept", "0000100000005.zip.kept-info"}));
}

// An archive whose item is damaged (spoiled on the disk after it was stored): the items before
// it stay, its removals are not applied, nothing is recorded, and it goes, to be fetched again.
TEST_F(Installer, AnArchiveWithADamagedItemRecordsAndRemovesNothingAndGoes) {
  const std::string data = test::PatternBytes(5000);
  std::string spoiled = data;
  spoiled[100] ^= 1;
  const std::pair<const char*, test::ZipEntry> damaged[] = {
      {"data that fails its CRC", {.name = "b.dat", .data = data, .method = 0, .stored = spoiled}},
      {"deflated data cut short",
       {.name = "b.dat", .data = data, .stored = test::Deflate(data).substr(0, 100)}},
      {"a size that is not the data's", {.name = "b.dat", .data = data, .uncompressedSize = 4000}},
      {"a local header that disagrees",
       {.name = "b.dat", .data = data, .patchLocalHeader = [](std::string& h) { h[14] ^= 1; }}},
  };
  int second = 3;
  for (const auto& [what, entry] : damaged) {
    SCOPED_TRACE(what);
    test::WriteFile(dir() / "old.dat", "old");
    fs::remove(dir() / "a.dat");
    const std::string name = "00001" + std::string(7, '0') + std::to_string(second++) + ".zip";
    test::WriteFile(
        pending(name.c_str()),
        test::BuildZip(
            {{"a.dat", "new"}, entry, {"Sys/TarvoRemovals.txt", "TARVO-REMOVALS-1\nold.dat\n"}}));
    InstallAndDelete();
    EXPECT_EQ(Recorded(), std::make_pair(1, 2));
    EXPECT_EQ(test::ReadFile(dir() / "a.dat"), "new");
    EXPECT_FALSE(fs::exists(dir() / "b.dat"));
    EXPECT_EQ(test::ReadFile(dir() / "old.dat"), "old");
    EXPECT_EQ(PendingNames(), std::vector<std::string>{});
  }
}

// Other spellings of the special names are the same names: the removal list is read, and the
// configuration still goes last, after the other items and the removals.
TEST_F(Installer, OtherSpellingsOfTheSpecialNamesAreTheSameNames) {
  const std::pair<const char*, const char*> spellings[] = {
      {"./Sys/Config.ini", "./Sys/TarvoRemovals.txt"},
      {"Sys//Config.ini", "Sys/./TarvoRemovals.txt"},
      {"Sys./Config.ini. ", "Sys /TarvoRemovals.txt."}};
  int second = 3;
  for (const auto& [config, list] : spellings) {
    SCOPED_TRACE(config);
    test::WriteFile(dir() / "old.dat", "old");
    test::WriteFile(
        pending(("00001" + std::string(7, '0') + std::to_string(second) + ".zip").c_str()),
        test::BuildZip({{config, "[Other]\r\nkey=kept\r\n"},
                        {list, "TARVO-REMOVALS-1\nold.dat\n"},
                        {"a.txt", "a"}}));
    const NotingFlush flush(dir());
    InstallAndDelete(&FindFiles, {}, flush);
    EXPECT_FALSE(fs::exists(dir() / "old.dat"));
    EXPECT_FALSE(fs::exists(dir() / "Sys" / "TarvoRemovals.txt"));
    ASSERT_GE(flush.notes.size(), 2u);
    EXPECT_EQ(flush.notes[0].rfind("file a.txt.tvnew", 0), 0u) << flush.notes[0];
    EXPECT_EQ(flush.notes[1].rfind("file Sys/Config.ini.tvnew", 0), 0u) << flush.notes[1];
    EXPECT_EQ(Recorded(), std::make_pair(1, second++));
  }
}

TEST_F(Installer, AnArchiveCarryingTheConfigurationReplacesItBeforeItsVersionsAreWritten) {
  fs::remove(dir() / "Sys" / "Config.ini");
  test::WriteFile(pending("0000200000001.zip"),
                  test::BuildZip({{"Sys/Config.ini", "[Other]\r\nkey=kept\r\n"}}));
  InstallAndDelete();
  EXPECT_EQ(Recorded(), std::make_pair(2, 1));
  const std::string config = test::ReadFile(dir() / "Sys" / "Config.ini");
  EXPECT_NE(config.find("key=kept"), std::string::npos) << config;
}

TEST_F(Installer, WithoutAConfigurationNothingIsRecordedAndNoFileCreated) {
  fs::remove(dir() / "Sys" / "Config.ini");
  test::WriteFile(pending("0000100000005.zip"), test::BuildZip({{"a.txt", "a"}}));
  InstallAndDelete();
  EXPECT_EQ(test::ReadFile(dir() / "a.txt"), "a");
  EXPECT_FALSE(fs::exists(dir() / "Sys" / "Config.ini"));
  EXPECT_FALSE(fs::exists(pending("0000100000005.zip")));
}

// Also what a stopped earlier try left beside it goes.
TEST_F(Installer, AReadOnlyFileIsLeftButTheOtherItemsAndTheVersionsGoThrough) {
  test::WriteFile(dir() / "locked.dat", "locked");
  test::WriteFile(dir() / "locked.dat.tvnew", "left by a kill");
  fs::permissions(dir() / "locked.dat",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  test::WriteFile(pending("0000100000006.zip"),
                  test::BuildZip({{"locked.dat", "new"}, {"free.dat", "free"}}));
  InstallAndDelete();
  EXPECT_EQ(test::ReadFile(dir() / "locked.dat"), "locked");
  EXPECT_FALSE(fs::exists(dir() / "locked.dat.tvnew"));
  EXPECT_EQ(test::ReadFile(dir() / "free.dat"), "free");
  EXPECT_EQ(Recorded(), std::make_pair(1, 6));
  EXPECT_FALSE(fs::exists(pending("0000100000006.zip")));
}

// Found not authentic before the extraction reached an item that a stopped earlier try had
// written: what that try left goes with the archive.
TEST_F(Installer, WhatAStoppedTryLeftGoesWithAnArchiveThatIsNotAuthentic) {
  // The first item takes long enough to write that the verdict is in before the last one.
  std::vector<test::ZipEntry> items = {
      {.name = "data/big.dat", .data = std::string(8 << 20, 'f'), .method = 0}};
  for (int i = 0; i < 64; ++i) items.push_back({"data/" + std::to_string(i) + ".dat", "forged"});
  test::WriteFile(pending("0000100000003.zip"),
                  test::Signed(test::BuildZip(items), "0000100000003", test::OtherSecretKey()));
  fs::create_directories(dir() / "data");
  test::WriteFile(dir() / "data" / "63.dat.tvnew", "left by a kill");
  EXPECT_EQ(InstallAndDelete(&FindFiles, test::TestPublicKey()).size(), 1u);
  EXPECT_FALSE(fs::exists(dir() / "data" / "63.dat.tvnew"));
  EXPECT_FALSE(fs::exists(dir() / "data" / "0.dat"));
  EXPECT_EQ(Recorded(), std::make_pair(1, 2));
}

TEST_F(Installer, AMissingPendingFolderChangesNothing) {
  fs::remove(dir() / "UpdateZip");
  InstallAndDelete();
  EXPECT_EQ(Recorded(), std::make_pair(1, 2));
  EXPECT_FALSE(fs::exists(dir() / "UpdateZip"));
}

TEST_F(Installer, TheCurrentDirectoryIsRestored) {
  test::WriteFile(pending("0000100000007.zip"), test::BuildZip({{"b.txt", "b"}}));
  char16_t before[1024] = {};
  GetCurrentDirectoryW(1024, before);
  InstallAndDelete();
  char16_t after[1024] = {};
  GetCurrentDirectoryW(1024, after);
  EXPECT_EQ(std::u16string(before), std::u16string(after));
  EXPECT_EQ(test::ReadFile(dir() / "b.txt"), "b");
}

// A list that cannot be read, or is not of the known form, removes nothing; the archive's items
// are installed and it counts as installed all the same. The list itself is never extracted.
TEST_F(Installer, ARemovalListThatCannotBeReadRemovesNothing) {
  const std::string list = "TARVO-REMOVALS-1\ngone.dat\n";
  // A list whose data is damaged stops its archive, which is fetched again; one in another form
  // or with another password is what the archive holds, and the archive counts as installed.
  const struct {
    test::ZipEntry entry;
    bool recorded;
  } unreadable[] = {
      {{.name = "Sys/TarvoRemovals.txt", .data = list, .crc = 0}, false},
      {{.name = "Sys/TarvoRemovals.txt", .data = "gone.dat\n"}, true},
      {{.name = "Sys/TarvoRemovals.txt", .data = list, .password = "secret"}, true},
  };
  int second = 3;
  for (const auto& [entry, recorded] : unreadable) {
    test::WriteFile(dir() / "gone.dat", "kept");
    const std::pair<int, int> before = Recorded();
    const std::string name = "00001" + std::string(7, '0') + std::to_string(second) + ".zip";
    test::WriteFile(pending(name.c_str()), test::BuildZip({{"new.dat", "new"}, entry}));
    InstallAndDelete();
    EXPECT_EQ(test::ReadFile(dir() / "gone.dat"), "kept") << second;
    EXPECT_EQ(test::ReadFile(dir() / "new.dat"), "new") << second;
    EXPECT_EQ(Recorded(), recorded ? std::make_pair(1, second) : before) << second;
    EXPECT_FALSE(fs::exists(pending(name.c_str()))) << second;
    EXPECT_FALSE(fs::exists(dir() / "Sys" / "TarvoRemovals.txt")) << second;
    ++second;
  }
  test::WriteFile(pending("0000100000009.zip"), test::BuildZip({{"Sys\\tarvoremovals.TXT", list}}));
  InstallAndDelete();
  EXPECT_FALSE(fs::exists(dir() / "gone.dat"));
  EXPECT_EQ(Recorded(), std::make_pair(1, 9));
}

}  // namespace
}  // namespace tarvo
