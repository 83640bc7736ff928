// The zip reader and extraction: names, attributes and times of items, damaged archives, and
// what extraction writes (and never writes) to disk.

#include <gtest/gtest.h>

#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "common/utf.h"
#include "platform/files.h"
#include "platform/output_file.h"
#include "platform/text.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "unzip/zip_archive.h"
#include "unzip/zip_crc32.h"
#include "unzip/zip_item_attributes.h"
#include "unzip/zip_item_name.h"
#include "unzip/zip_item_times.h"
#include "unzip/zip_stream_check.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::BuildZip;
using test::ZipEntry;

constexpr std::uint64_t kDosExampleLocal = 128840950420000000;  // 2009-04-13 11:17:22

// An archive handle that closes itself.
struct Archive {
  ZipHandle handle = nullptr;
  Archive() = default;
  Archive(const Archive&) = delete;
  ~Archive() {
    if (handle) ZipCloseArchive(handle);
  }
  operator ZipHandle() const { return handle; }
};

// A temporary folder with the archive "a.zip" and the extraction root "root" in it.
struct Sandbox {
  test::TempDir dir;
  fs::path root = dir.path() / "root";
  fs::path archive = dir.path() / "a.zip";
  Archive zip;

  Sandbox() { fs::create_directory(root); }
  // Writes `bytes` as the archive, behind `hole` bytes that the file system need not store, and
  // opens it with the root as the current directory.
  ZipHandle Open(const std::string& bytes, std::uint64_t hole = 0) {
    {
      std::ofstream out(archive, std::ios::binary | std::ios::trunc);
      out.seekp(static_cast<std::streamoff>(hole));
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    const fs::path saved = fs::current_path();
    fs::current_path(root);
    zip.handle = ZipOpenArchive(test::CoreText(archive).c_str());
    fs::current_path(saved);
    return zip.handle;
  }
  // Extracts every item in the installer's order; the results by the name each item got.
  std::map<std::u16string, ZipResult> ExtractAll() {
    std::map<std::u16string, ZipResult> results;
    ZipItem item{};
    ZipGetItem(zip, -1, &item);
    for (std::int32_t i = 0, count = item.index; i < count; ++i) {
      ZipGetItem(zip, i, &item);
      results[item.name] = ZipExtractItem(zip, i, item.name);
    }
    return results;
  }
  // Every path below the sandbox folder, relative to it.
  std::set<std::string> Tree() const {
    std::set<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
      paths.insert(fs::relative(entry.path(), dir.path()).generic_string());
    }
    return paths;
  }
};

std::uint64_t WriteTime(const fs::path& path) {
  const auto utc = std::chrono::file_clock::to_sys(fs::last_write_time(path));
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(utc.time_since_epoch());
  return static_cast<std::uint64_t>(ns.count() / 100) + 116444736000000000;
}

std::uint64_t FromUnixSeconds(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + 11644473600) * 10000000;
}

TEST(ZipItemName, CleaningDropsDrivesLeadingSeparatorsAndUpLevelPrefixes) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"C:\\games\\a.txt", u"games\\a.txt"},
      {u"/etc/x", u"etc/x"},
      {u"\\\\srv\\share\\f", u"srv\\share\\f"},
      {u"a/../b.txt", u"b.txt"},
      {u"a\\..\\b/../c", u"c"},
      {u"dir/..\\f", u"f"},
      {u"x:y:z", u"z"},
      {u"C:", u""},
      {u"a/..", u"a/.."},
      {u"a/../../x", u"../x"},
      {u"/../x", u"../x"},
      {u"a/../b\\..\\c", u"c"},
      // "\..\" is looked for before "/..\", even where that stands earlier.
      {u"a/..\\..\\b", u"b"},
      {u"ab:c", u"ab:c"},
      // One spelling for one file, as Windows finds it.
      {u"./Sys/Config.ini", u"Sys/Config.ini"},
      {u"Sys//./TarvoRemovals.txt", u"Sys/TarvoRemovals.txt"},
      {u"Sys. /Config.ini. ", u"Sys/Config.ini"},
      {u"dir/./", u"dir/"},
      {u"a/.", u"a"},
      {u"./C:/x", u"x"},
      {u"./../x", u"x"},
      {u"a/.../b", u"a/.../b"}};
  for (const auto& [raw, cleaned] : cases) {
    EXPECT_EQ(CleanZipItemName(raw), cleaned) << Utf16ToUtf8(raw);
  }
}

TEST(ZipItemName, NamesThatAreNotValidUtf8OrTooLongAreRefusedNotCut) {
  std::u16string name;
  for (const bool flag : {true, false}) {
    EXPECT_TRUE(DecodeZipItemName("d\xC3\xA9j\xC3\xA0/\xE2\x82\xAC.txt", flag, 259, &name));
    EXPECT_EQ(name, u"d\u00e9j\u00e0/\u20ac.txt");
    EXPECT_TRUE(DecodeZipItemName(std::string(259, 'a'), flag, 259, &name));
    EXPECT_FALSE(DecodeZipItemName(std::string(260, 'a'), flag, 259, &name));
    EXPECT_FALSE(DecodeZipItemName(std::string("a\0b", 3), flag, 259, &name));
  }
  // Marked as UTF-8, a name must be UTF-8.
  for (const std::string& bad :
       {std::string("caf\xE9.txt"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80")}) {
    EXPECT_FALSE(DecodeZipItemName(bad, true, 259, &name));
  }
}

// Run again under Chinese Windows (OEM code page 936) by the Win32 tests.
TEST(ZipItemName, NamesWithoutTheUtf8FlagAreReadInTheOemCodePage) {
  const std::u16string chinese = u"\u6c49\u5316\u8865\u4e01/\u8bf4\u660e.txt";
  const std::string gbk = "\xBA\xBA\xBB\xAF\xB2\xB9\xB6\xA1/\xCB\xB5\xC3\xF7.txt";
  if (!test::HasMultiByteCodePage(OemCodePageToUtf16(gbk) == chinese)) return;
  std::u16string name;
  EXPECT_TRUE(DecodeZipItemName(gbk, false, 259, &name));
  EXPECT_EQ(name, chinese);
  EXPECT_FALSE(DecodeZipItemName(gbk, true, 259, &name));
  // Cut inside a character: no text in the code page either.
  EXPECT_FALSE(DecodeZipItemName(gbk.substr(0, 3), false, 259, &name));
  EXPECT_FALSE(DecodeZipItemName(gbk, false, 4, &name));
}

TEST(ZipItemName, PathsLeadingUpOrToDevicesAreNotExtractable) {
  for (const std::u16string path :
       {u"../x", u"..\\x", u"..", u"a/..", u"a\\..\\..\\x", u"...", u"a/.. /b", u"NUL",
        u"dir/com1.txt", u"Con", u"lpt9.log", u"AUX .x", u"conout$"}) {
    EXPECT_FALSE(IsExtractablePath(path)) << Utf16ToUtf8(path);
  }
  for (const std::u16string path :
       {u"a..b", u".hidden", u"a/./b", u"..a", u"com10", u"console", u"C:\\x\\y.txt", u""}) {
    EXPECT_TRUE(IsExtractablePath(path)) << Utf16ToUtf8(path);
  }
}

TEST(ZipAttributes, DosHostsKeepDosBitsOtherHostsAreReadFromTheUnixMode) {
  const struct {
    std::uint16_t madeBy;
    std::uint32_t external, attributes;
  } cases[] = {{0x0314, 0x41ED0000, 0x30}, {0x0314, 0x81A40000, 0x20}, {0x0314, 0x81240000, 0x21},
               {0x0014, 0x21, 0x21},       {0x0014, 0x16, 0x16},       {0x0A14, 0x20, 0x21},
               {0x0B14, 0xFFFFFFFF, 0x37}, {0x0714, 0x08, 0x00},       {0x0E14, 0x01, 0x01}};
  for (const auto& c : cases) {
    EXPECT_EQ(MapZipAttributes(c.madeBy, c.external), c.attributes)
        << std::hex << c.madeBy << " " << c.external;
  }
}

TEST(ZipTimes, DosDateAndTimeAreACalendarTimeOrNothing) {
  std::uint64_t local = 0;
  ASSERT_TRUE(DosDateTimeToLocalFileTime(0x3A8D5A2B, &local));
  EXPECT_EQ(local, kDosExampleLocal);
  ASSERT_TRUE(DosDateTimeToLocalFileTime(0x00210000, &local));  // 1980-01-01 00:00:00
  EXPECT_EQ(local, FromUnixSeconds(315532800));
  ASSERT_TRUE(DosDateTimeToLocalFileTime(0x305DBF7D, &local));  // 2004-02-29 23:59:58
  EXPECT_EQ(local, FromUnixSeconds(1078099198));
  // Month 0, day 0, February 30, 2100-02-29 (no leap year), hour 24, minute 60, second 60.
  for (const std::uint32_t invalid : {0x3A0D5A2Bu, 0x3A805A2Bu, 0x3A5E5A2Bu, 0xF05D0000u,
                                      0x3A8DC000u, 0x3A8D0780u, 0x3A8D001Eu}) {
    EXPECT_FALSE(DosDateTimeToLocalFileTime(invalid, &local)) << std::hex << invalid;
  }
}

TEST(ZipTimes, ExtendedTimestampOverridesTheTimesItCarries) {
  const auto apply = [](const std::string& field) {
    ZipItemTimes times{.access = 1, .creation = 2, .modification = 3};
    ApplyExtendedTimestamp(reinterpret_cast<const std::uint8_t*>(field.data()), field.size(),
                           &times);
    return std::vector<std::uint64_t>{times.modification, times.access, times.creation};
  };
  using V = std::vector<std::uint64_t>;
  EXPECT_EQ(apply(test::ExtendedTimestamp(7, {0, -1, 1})),
            (V{116444736000000000, 116444735990000000, 116444736010000000}));
  EXPECT_EQ(apply(test::ExtendedTimestamp(1, {0})), (V{116444736000000000, 1, 2}));
  // Found behind a block of 300 bytes; not searched in a field of 4 bytes.
  const std::string other = std::string("\x01\x00\x2C\x01", 4) + std::string(300, 'x');
  EXPECT_EQ(apply(other + test::ExtendedTimestamp(4, {1})), (V{3, 1, 116444736010000000}));
  EXPECT_EQ(apply(std::string("UT\x05\x00", 4)), (V{3, 1, 2}));
  // Values cut short by the field or by their block are not used.
  std::string cut = test::ExtendedTimestamp(3, {0, 0});
  EXPECT_EQ(apply(cut.substr(0, cut.size() - 1)), (V{116444736000000000, 1, 2}));
  EXPECT_EQ(apply(std::string("UT\x05\x00\x03", 5) + std::string(8, '\0')),
            (V{116444736000000000, 1, 2}));
}

// Folded where the processor can, by zlib's tables elsewhere: the same value at any length,
// alignment and starting value, and in pieces as in one.
TEST(ZipCrc32, MatchesZlibAtEveryLengthAlignmentAndStart) {
  std::string bytes(3 << 20, '\0');
  std::uint32_t state = 12345;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const auto zlib = [](std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    return static_cast<std::uint32_t>(crc32(crc, p, static_cast<uInt>(n)));
  };
  for (const std::uint32_t start : {0u, 0xFFFFFFFFu, 0x1234ABCDu}) {
    for (std::size_t offset = 0; offset < 16; ++offset) {
      for (std::size_t size = 0; size < 700; size += offset % 2 == 0 ? 1 : 7) {
        ASSERT_EQ(ZipCrc32(start, data + offset, size), zlib(start, data + offset, size))
            << start << " " << offset << " " << size;
      }
    }
    for (const std::size_t size : {std::size_t{65536}, std::size_t{(3 << 20) - 21}}) {
      EXPECT_EQ(ZipCrc32(start, data + 5, size), zlib(start, data + 5, size)) << size;
    }
  }
  EXPECT_EQ(ZipCrc32(ZipCrc32(0, data, 1000), data + 1000, 300000), zlib(0, data, 301000));
}

TEST(ZipArchive, CountQueryArgumentsAndNullHandle) {
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip({{.name = "a"}, {.name = "b"}, {.name = "c"}})));
  ZipItem item{};
  item.name[0] = u'x';
  item.attributes = item.compressedSize = 7;
  EXPECT_EQ(ZipGetItem(box.zip, -1, &item), ZIP_OK);
  EXPECT_EQ(item.index, 3);
  EXPECT_EQ(item.name[0], 0);
  EXPECT_EQ(item.attributes | item.compressedSize | item.uncompressedSize, 0u);
  EXPECT_EQ(item.accessTime | item.creationTime | item.modificationTime, 0u);

  item.index = 42;
  EXPECT_EQ(ZipGetItem(box.zip, -2, &item), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipGetItem(box.zip, 3, &item), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipExtractItem(box.zip, 3, u"x"), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipExtractItem(box.zip, -1, u"x"), ZIP_ERR_ARGS);
  EXPECT_EQ(item.index, 42);
  EXPECT_EQ(ZipGetItem(nullptr, 0, &item), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipExtractItem(nullptr, 0, u"x"), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipCloseArchive(nullptr), ZIP_ERR_ARGS);
  EXPECT_EQ(box.Tree(), (std::set<std::string>{"a.zip", "root"}));

  Sandbox empty;
  ASSERT_TRUE(empty.Open(BuildZip({})));
  EXPECT_EQ(ZipGetItem(empty.zip, -1, &item), ZIP_OK);
  EXPECT_EQ(item.index, 0);
}

TEST(ZipArchive, RecordsCarryCleanedNamesAttributesSizesAndTimes) {
  // Data in front of the archive and a long comment: offsets are shifted, the end record is
  // found far from the end.
  const std::string data(5000, 'z');
  Sandbox box;
  ASSERT_TRUE(
      box.Open(BuildZip({{.name = "C:\\games/../data/\xC3\xA9t\xC3\xA9.txt",
                          .data = data,
                          .versionMadeBy = 0x0B14,
                          .externalAttributes = 0x23,
                          .localExtra = std::string("\x0A\x00\x04\x00\x01\x02\x03\x04", 8) +
                                        test::ExtendedTimestamp(3, {1000000000, 1100000000})},
                         {.name = "plain", .method = 0, .dosDateTime = 0x3A8D5A2B}},
                        std::string(70000, 'P'), std::string(2000, 'C'))));
  ZipItem item{};
  ASSERT_EQ(ZipGetItem(box.zip, 0, &item), ZIP_OK);
  EXPECT_EQ(item.index, 0);
  EXPECT_EQ(std::u16string(item.name), u"data/\u00e9t\u00e9.txt");
  EXPECT_EQ(item.attributes, 0x23u);
  EXPECT_EQ(item.uncompressedSize, 5000u);
  EXPECT_EQ(item.compressedSize, test::Deflate(data).size());
  EXPECT_EQ(item.modificationTime, FromUnixSeconds(1000000000));
  EXPECT_EQ(item.accessTime, FromUnixSeconds(1100000000));
  std::uint64_t dosTime = 0;
  ASSERT_TRUE(LocalFileTimeToFileTime(kDosExampleLocal, &dosTime));
  EXPECT_EQ(item.creationTime, dosTime);

  ASSERT_EQ(ZipGetItem(box.zip, 1, &item), ZIP_OK);
  EXPECT_EQ(std::u16string(item.name), u"plain");
  EXPECT_EQ(item.modificationTime, dosTime);
  EXPECT_EQ(item.accessTime, dosTime);
  // Backwards again: navigation starts over from the first item.
  ASSERT_EQ(ZipGetItem(box.zip, 0, &item), ZIP_OK);
  EXPECT_EQ(item.modificationTime, FromUnixSeconds(1000000000));
}

// What the installer would not read whole is not opened, and not taken for an archive by the
// check a download passes.
TEST(ZipArchive, ArchivesWhoseDirectoryCannotBeReadWholeDoNotOpen) {
  const std::vector<ZipEntry> entries = {{.name = "a", .data = "x"}, {.name = "b", .data = "y"}};
  const std::string good = BuildZip(entries);
  const std::size_t end = good.size() - 22;
  // Copied over, not replaced: GCC 12 warns wrongly (-Wrestrict) on std::string::replace here.
  const auto patched = [](std::string bytes, std::size_t at, std::string_view with) {
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return bytes;
  };
  ZipEntry broken = entries[1], overrun = entries[1];
  broken.patchCentralRecord = [](std::string& record) { record[0] = 'X'; };
  overrun.patchCentralRecord = [](std::string& record) { record[30] = 1; };  // extra field
  const std::string zip64 = BuildZip(entries, "", "", test::ZipEnd::kZip64);
  const std::size_t zip64End = zip64.size() - 22 - 20 - 56;
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"end record alone, too short", "PK\x05\x06"},
      {"another disk", patched(good, end + 4, "\x01")},
      {"a directory longer than the room before its end record", patched(good, end + 12, "\x5F")},
      {"end record beyond the last 64 KiB", good + std::string(70000, '\0')},
      {"a damaged record in the middle", BuildZip({entries[0], broken, entries[0]})},
      {"a record running past the directory", BuildZip({entries[0], overrun})},
      {"a count one higher", patched(good, end + 8, std::string("\x03\x00\x03\x00", 4))},
      {"a count one lower", patched(good, end + 8, std::string("\x01\x00\x01\x00", 4))},
      {"deferring to a zip64 end record that is not there",
       patched(good, end + 8, "\xFF\xFF\xFF\xFF")},
      {"a zip64 count one higher", patched(patched(zip64, zip64End + 24, std::string("\x03", 1)),
                                           zip64End + 32, std::string("\x03", 1))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    EXPECT_EQ(box.Open(c.bytes), nullptr);
    EXPECT_FALSE(ZipCheckArchive(test::CoreText(box.archive).c_str()));
  }
  Sandbox missing;
  EXPECT_EQ(ZipOpenArchive(test::CoreText(missing.dir.path() / "none.zip").c_str()), nullptr);
  EXPECT_FALSE(ZipCheckArchive(test::CoreText(missing.dir.path() / "none.zip").c_str()));
}

// Sizes and offsets in zip64 blocks; a zip64 end record that the end record defers to, or that
// stands beside one holding its values in full; data in front: the same items, read alike.
TEST(ZipArchive, Zip64BlocksAndEndRecordsAreRead) {
  const std::string text(30000, 't');
  const std::string noise = test::PatternBytes(5000);
  using test::ZipEnd;
  for (const ZipEnd end : {ZipEnd::kPlain, ZipEnd::kZip64, ZipEnd::kZip64Alongside}) {
    for (const bool zip64Items : {false, true}) {
      for (const std::string prefix : {"", "MZ in front"}) {
        SCOPED_TRACE(::testing::Message() << static_cast<int>(end) << zip64Items << prefix);
        Sandbox box;
        ASSERT_TRUE(box.Open(BuildZip({{.name = "a.txt", .data = text, .zip64 = zip64Items},
                                       {.name = "b.bin", .data = noise, .method = 0}},
                                      prefix, "", end)));
        EXPECT_TRUE(ZipCheckArchive(test::CoreText(box.archive).c_str()));
        ZipItem item{};
        ASSERT_EQ(ZipGetItem(box.zip, 0, &item), ZIP_OK);
        EXPECT_EQ(item.uncompressedSize, text.size());
        EXPECT_EQ(item.compressedSize, test::Deflate(text).size());
        for (const auto& [name, result] : box.ExtractAll()) {
          EXPECT_EQ(result, ZIP_OK) << Utf16ToUtf8(name);
        }
        EXPECT_EQ(test::ReadFile(box.root / "a.txt"), text);
        EXPECT_EQ(test::ReadFile(box.root / "b.bin"), noise);
      }
    }
  }
  // A size past 4 GiB is reported as it is; data that falls short of it is damaged.
  ZipEntry huge{.name = "huge.bin", .data = "short", .zip64 = true};
  huge.patchCentralRecord = [](std::string& record) { record[46 + 8 + 4 + 4] = 0x01; };
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip({huge})));
  ZipItem item{};
  ASSERT_EQ(ZipGetItem(box.zip, 0, &item), ZIP_OK);
  EXPECT_EQ(item.uncompressedSize, (std::uint64_t{1} << 32) + 5);
  EXPECT_EQ(ZipExtractItem(box.zip, 0, item.name), ZIP_ERR_DATA);
}

// Behind 4 GiB and more of other data, which a sparse file does not store: every read of the
// archive is at an offset past 4 GiB.
TEST(ZipArchive, ArchivesPastFourGiBIntoTheirFileAreRead) {
  const std::uint64_t hole = (std::uint64_t{1} << 32) + 12345;
  const std::string noise = test::PatternBytes(700000);
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip({{.name = "a.bin", .data = noise, .zip64 = true},
                                 {.name = "b.bin", .data = noise, .method = 0}},
                                "", "", test::ZipEnd::kZip64),
                       hole));
  for (const auto& [name, result] : box.ExtractAll()) EXPECT_EQ(result, ZIP_OK);
  EXPECT_TRUE(test::ReadFile(box.root / "a.bin") == noise);
  EXPECT_TRUE(test::ReadFile(box.root / "b.bin") == noise);
}

TEST(ZipArchive, DamagedRecordsFailAndLeaveItemAndCacheAsTheyWere) {
  const auto patchAt = [](std::size_t offset, std::string bytes) {
    return [=](std::string& header) { header.replace(offset, bytes.size(), bytes); };
  };
  const struct {
    const char* what;
    ZipEntry entry;
    ZipResult result;
  } cases[] = {
      {"local signature",
       {.name = "n", .patchLocalHeader = patchAt(0, "PK\x01\x02")},
       ZIP_ERR_CORRUPT},
      {"local method",
       {.name = "n", .patchLocalHeader = patchAt(8, std::string(1, '\0'))},
       ZIP_ERR_CORRUPT},
      {"method 12", {.name = "n", .method = 12, .stored = "x"}, ZIP_ERR_UNSUPPORTED},
      {"local name length",
       {.name = "n", .patchLocalHeader = patchAt(26, "\x02")},
       ZIP_ERR_CORRUPT},
      {"local CRC", {.name = "n", .patchLocalHeader = patchAt(14, "\x01")}, ZIP_ERR_CORRUPT},
      {"local CRC, data descriptor",
       {.name = "n", .flags = 8, .patchLocalHeader = patchAt(14, "\x01")},
       ZIP_OK},
      {"name of 260 bytes", {.name = std::string(260, 'n')}, ZIP_ERR_UNSUPPORTED},
      {"name of 259 bytes", {.name = std::string(259, 'n')}, ZIP_OK},
      {"name marked as UTF-8 but not UTF-8",
       {.name = "caf\xE9", .flags = 0x800},
       ZIP_ERR_UNSUPPORTED},
      {"extra field past the end",
       {.name = "n", .method = 0, .patchLocalHeader = patchAt(28, "\xFF\xFF")},
       ZIP_ERR_READ},
  };
  for (const auto& c : cases) {
    Sandbox box;
    ASSERT_TRUE(box.Open(BuildZip({{.name = "first"}, c.entry}))) << c.what;
    ZipItem item{};
    ASSERT_EQ(ZipGetItem(box.zip, 0, &item), ZIP_OK);
    EXPECT_EQ(ZipGetItem(box.zip, 1, &item), c.result) << c.what;
    if (c.result == ZIP_OK) continue;
    EXPECT_EQ(std::u16string(item.name), u"first") << c.what;
    // The installer extracts with the name it holds: the damaged item writes nothing.
    EXPECT_EQ(ZipExtractItem(box.zip, 1, item.name), c.result) << c.what;
    EXPECT_TRUE(fs::is_empty(box.root)) << c.what;
  }
}

TEST(ZipExtract, WritesUnderTheRootTakenAtOpen) {
  Sandbox box;
  const fs::path elsewhere = box.dir.path() / "elsewhere";
  fs::create_directory(elsewhere);
  const std::string big = std::string(40000, 'a') + test::Deflate(std::string(30000, 'q'));
  ASSERT_TRUE(box.Open(BuildZip({{.name = "docs/readme.txt", .data = "read me"},
                                 {.name = "data/maps/", .externalAttributes = 0x41ED0000},
                                 {.name = "a.txt", .data = big},
                                 {.name = "stored\\in\\parts.bin", .data = big, .method = 0},
                                 {.name = "empty.txt", .method = 0},
                                 {.name = "empty-deflated.txt"}})));
  const fs::path saved = fs::current_path();
  fs::current_path(elsewhere);  // the root stays where it was at open
  const auto results = box.ExtractAll();
  fs::current_path(saved);
  for (const auto& [name, result] : results) EXPECT_EQ(result, ZIP_OK);
  EXPECT_EQ(box.Tree(),
            (std::set<std::string>{
                "a.zip", "elsewhere", "root", "root/docs", "root/docs/readme.txt", "root/data",
                "root/data/maps", "root/a.txt", "root/stored", "root/stored/in",
                "root/stored/in/parts.bin", "root/empty.txt", "root/empty-deflated.txt"}));
  EXPECT_EQ(test::ReadFile(box.root / "docs" / "readme.txt"), "read me");
  EXPECT_EQ(test::ReadFile(box.root / "a.txt"), big);
  EXPECT_EQ(test::ReadFile(box.root / "stored" / "in" / "parts.bin"), big);
  std::uint64_t dosTime = 0;
  ASSERT_TRUE(LocalFileTimeToFileTime(kDosExampleLocal, &dosTime));
  for (const char* file : {"a.txt", "empty.txt", "empty-deflated.txt"}) {
    EXPECT_EQ(WriteTime(box.root / file), dosTime) << file;
    EXPECT_EQ(fs::file_size(box.root / file), file[0] == 'a' ? big.size() : 0u);
  }

  // A name the caller makes absolute is taken as it stands.
  const std::u16string absolute = test::CoreText(elsewhere / "deep" / "x.txt");
  EXPECT_EQ(ZipExtractItem(box.zip, 0, absolute.c_str()), ZIP_OK);
  EXPECT_EQ(test::ReadFile(elsewhere / "deep" / "x.txt"), "read me");
}

TEST(ZipExtract, TargetsThatCannotBeCreatedOrReplaced) {
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip({{.name = "logs/", .data = ""},
                                 {.name = "new.txt", .data = "new"},
                                 {.name = "C:", .externalAttributes = 0x41ED0000}})));
  EXPECT_EQ(ZipExtractItem(box.zip, 0, u"logs/"), ZIP_ERR_FILE);
  EXPECT_TRUE(fs::is_directory(box.root / "logs"));
  EXPECT_EQ(ZipExtractItem(box.zip, 1, u""), ZIP_ERR_FILE);
  EXPECT_EQ(ZipExtractItem(box.zip, 2, u""), ZIP_OK);

  test::WriteFile(box.root / "old.txt", "old contents");
  EXPECT_EQ(ZipExtractItem(box.zip, 1, u"old.txt"), ZIP_OK);
  EXPECT_EQ(test::ReadFile(box.root / "old.txt"), "new");
  test::WriteFile(box.root / "locked.txt", "kept");
  fs::permissions(box.root / "locked.txt",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_EQ(ZipExtractItem(box.zip, 1, u"locked.txt"), ZIP_ERR_FILE);
  EXPECT_EQ(test::ReadFile(box.root / "locked.txt"), "kept");
}

TEST(ZipExtract, ReadOnlyItemsAreWrittenInFullAndStayReadOnly) {
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip({{.name = "ro.dat",
                                  .data = std::string(50000, 'r'),
                                  .externalAttributes = 0x81240000,
                                  .localExtra = test::ExtendedTimestamp(1, {1234567890})}})));
  EXPECT_EQ(box.ExtractAll()[u"ro.dat"], ZIP_OK);
  const std::u16string path = test::CoreText(box.root / "ro.dat");
  EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(test::ReadFile(box.root / "ro.dat"), std::string(50000, 'r'));
  EXPECT_EQ(WriteTime(box.root / "ro.dat"), FromUnixSeconds(1234567890));
  // The next update cannot replace it.
  EXPECT_EQ(ZipExtractItem(box.zip, 0, u"ro.dat"), ZIP_ERR_FILE);
}

TEST(ZipExtract, EncryptedItemsAreReadWithTheEmptyPassword) {
  const std::string text(3000, 'e');
  Sandbox box;
  ASSERT_TRUE(box.Open(
      BuildZip({{.name = "crc-check.txt", .data = text, .password = ""},
                {.name = "time-check.bin", .data = text, .method = 0, .flags = 8, .password = ""},
                {.name = "other.txt", .data = text, .password = "secret", .wrongCheckByte = true},
                {.name = "wrong-check.txt",
                 .data = text,
                 .flags = 8,
                 .password = "",
                 .wrongCheckByte = true}})));
  test::WriteFile(box.root / "wrong-check.txt", "installed before");
  const auto results = box.ExtractAll();
  EXPECT_EQ(results.at(u"crc-check.txt"), ZIP_OK);
  EXPECT_EQ(results.at(u"time-check.bin"), ZIP_OK);
  EXPECT_EQ(results.at(u"other.txt"), ZIP_ERR_PASSWORD);
  EXPECT_EQ(results.at(u"wrong-check.txt"), ZIP_ERR_PASSWORD);
  EXPECT_EQ(test::ReadFile(box.root / "crc-check.txt"), text);
  EXPECT_EQ(test::ReadFile(box.root / "time-check.bin"), text);
  // Nothing is created for an item that cannot be decrypted, and nothing is emptied.
  EXPECT_FALSE(fs::exists(box.root / "other.txt"));
  EXPECT_EQ(test::ReadFile(box.root / "wrong-check.txt"), "installed before");
}

TEST(ZipExtract, DataThatCannotBeReadToItsEndIsReported) {
  const std::string text = "0123456789abcdef" + std::string(20000, 'x') + "end";
  const std::string deflated = test::Deflate(text);
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip(
      {{.name = "crc.txt", .data = text, .crc = 0x12345678},
       {.name = "truncated.txt", .data = text, .stored = deflated.substr(0, deflated.size() / 2)},
       {.name = "corrupt.txt", .data = text, .stored = "\xFF\xFF\xFF\xFF" + deflated},
       {.name = "short-stream.txt", .data = text, .uncompressedSize = 30000},
       {.name = "short-stored.txt", .data = "abc", .method = 0, .uncompressedSize = 10},
       {.name = "long-stream.txt", .data = text, .uncompressedSize = 16}})));
  // Each lands on an installed file, which stays as it was, byte for byte; nothing is left of
  // the item's data beside it.
  for (const char* name : {"crc.txt", "truncated.txt", "corrupt.txt", "short-stream.txt",
                           "short-stored.txt", "long-stream.txt"}) {
    test::WriteFile(box.root / name, std::string("installed ") + name);
  }
  const auto before = box.Tree();
  const auto results = box.ExtractAll();
  for (const auto& [name, result] : results) {
    EXPECT_EQ(result, ZIP_ERR_DATA) << Utf16ToUtf8(name);
    EXPECT_EQ(test::ReadFile(box.root / fs::path(name)), "installed " + Utf16ToUtf8(name));
  }
  EXPECT_EQ(box.Tree(), before);
}

// Bytes that no compressor shrinks, the same at every run.
std::string Noise(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 2009;
  for (char& c : bytes) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
  return bytes;
}

// Items whose data spans several of the blocks it is read and written in, behind data in front
// of the archive: every byte arrives, in order, decrypted where it is encrypted.
TEST(ZipExtract, ItemsLargerThanTheirBlocksArriveWhole) {
  const std::string noise = Noise(900000);
  std::string text;
  while (text.size() < (3 << 20)) text.append("a line of text that deflates well, ").append(1, 'x');
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip(
      {{.name = "noise-deflated.bin", .data = noise},
       {.name = "noise-stored.bin", .data = noise, .method = 0},
       {.name = "text.txt", .data = text},
       {.name = "encrypted-deflated.bin", .data = noise, .password = ""},
       {.name = "encrypted-stored.bin", .data = noise, .method = 0, .flags = 8, .password = ""}},
      std::string(100000, 'P'))));
  for (const auto& [name, result] : box.ExtractAll()) {
    EXPECT_EQ(result, ZIP_OK) << Utf16ToUtf8(name);
  }
  for (const char* name : {"noise-deflated.bin", "noise-stored.bin", "encrypted-deflated.bin",
                           "encrypted-stored.bin"}) {
    EXPECT_TRUE(test::ReadFile(box.root / name) == noise) << name;
  }
  EXPECT_TRUE(test::ReadFile(box.root / "text.txt") == text);
}

// Data is read where its own record says, wherever the reading of records stands.
TEST(ZipExtract, ItemsAreExtractedInAnyOrderAfterTheRecordsOfOthers) {
  const std::string noise = Noise(600000);
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip({{.name = "a", .data = noise, .method = 0},
                                 {.name = "b", .data = noise},
                                 {.name = "c", .data = "c"}})));
  ZipItem item{};
  ASSERT_EQ(ZipGetItem(box.zip, 2, &item), ZIP_OK);
  EXPECT_EQ(ZipExtractItem(box.zip, 1, u"b"), ZIP_OK);
  ASSERT_EQ(ZipGetItem(box.zip, 1, &item), ZIP_OK);
  EXPECT_EQ(ZipExtractItem(box.zip, 0, u"a"), ZIP_OK);
  EXPECT_EQ(ZipExtractItem(box.zip, 2, u"c"), ZIP_OK);
  EXPECT_EQ(ZipExtractItem(box.zip, 0, u"a2"), ZIP_OK);
  for (const char* name : {"a", "b", "a2"}) {
    EXPECT_TRUE(test::ReadFile(box.root / name) == noise) << name;
  }
  EXPECT_EQ(test::ReadFile(box.root / "c"), "c");
}

// A record that announces more stored bytes than the archive holds: the data is damaged, read
// in full or not, and the installed file stays.
TEST(ZipExtract, StoredBytesPastTheEndOfTheArchiveAreDamagedData) {
  const auto claim = [](std::size_t offset) {
    return [offset](std::string& header) { header.replace(offset, 4, "\xF0\xFF\xFF\x0F"); };
  };
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip({{.name = "stored.bin",
                                  .data = Noise(300000),
                                  .method = 0,
                                  .patchLocalHeader = claim(18),
                                  .patchCentralRecord = claim(20)},
                                 {.name = "deflated.bin",
                                  .data = "short",
                                  .patchLocalHeader = claim(18),
                                  .patchCentralRecord = claim(20)}})));
  test::WriteFile(box.root / "stored.bin", "installed");
  const auto before = box.Tree();
  const auto results = box.ExtractAll();
  EXPECT_EQ(results.at(u"stored.bin"), ZIP_ERR_DATA);
  EXPECT_EQ(results.at(u"deflated.bin"), ZIP_ERR_DATA);
  EXPECT_EQ(test::ReadFile(box.root / "stored.bin"), "installed");
  EXPECT_EQ(box.Tree(), before);
}

TEST(ZipExtract, HostileNamesNeverLeaveTheRoot) {
  std::vector<ZipEntry> entries;
  for (const std::string name :
       {"../up.txt", "..\\up2.txt", "a/../../up3.txt", "..", "../", "a/..", "/../abs.txt",
        "C:..\\drive.txt", "x/..\\..\\..", "sub/.. /up5.txt", "... /up6.txt", "NUL", "sub/com1.txt",
        "sub/ok.txt"}) {
    entries.push_back({.name = name, .data = "payload"});
  }
  entries.push_back({.name = "../dir/", .externalAttributes = 0x41ED0000});
  Sandbox box;
  ASSERT_TRUE(box.Open(BuildZip(entries)));
  const auto results = box.ExtractAll();
  for (const auto& [name, result] : results) {
    EXPECT_EQ(result, name == u"sub/ok.txt" ? ZIP_OK : ZIP_ERR_FILE) << Utf16ToUtf8(name);
  }
  EXPECT_EQ(box.Tree(), (std::set<std::string>{"a.zip", "root", "root/sub", "root/sub/ok.txt"}));
}

// Items held until the archive is known to be authentic: placed together, or gone without a
// trace, folders included.
TEST(ZipExtract, HeldItemsArePlacedTogetherOrLeaveNoTrace) {
  const std::string archive = BuildZip({{"readme.txt", "first"},
                                        {"data/maps/a.map", "a"},
                                        {"readme.txt", "second"},
                                        {"data/maps/b.map", "b"}});
  for (const bool authentic : {false, true}) {
    SCOPED_TRACE(authentic ? "placed" : "discarded");
    Sandbox box;
    test::WriteFile(box.root / "readme.txt", "installed");
    ASSERT_TRUE(box.Open(archive));
    const auto before = box.Tree();
    EXPECT_EQ(ZipHoldItems(box.zip, true), ZIP_OK);
    for (const auto& [name, result] : box.ExtractAll())
      EXPECT_EQ(result, ZIP_OK) << Utf16ToUtf8(name);
    EXPECT_EQ(test::ReadFile(box.root / "readme.txt"), "installed");
    EXPECT_FALSE(fs::exists(box.root / "data" / "maps" / "a.map"));
    if (authentic) {
      EXPECT_EQ(ZipPlaceHeldItems(box.zip), ZIP_OK);
      EXPECT_EQ(test::ReadFile(box.root / "readme.txt"), "second");
      EXPECT_EQ(test::ReadFile(box.root / "data" / "maps" / "b.map"), "b");
    } else {
      EXPECT_EQ(ZipDiscardHeldItems(box.zip), ZIP_OK);
      EXPECT_EQ(box.Tree(), before);
    }
  }
  EXPECT_EQ(ZipHoldItems(nullptr, true), ZIP_ERR_ARGS);
  EXPECT_EQ(ZipPlaceHeldItems(nullptr), ZIP_ERR_ARGS);
}

// A path must fit 259 code units with the temporary suffix. A name that cannot fit anywhere is
// refused for what it is; one that does not fit under this root is the system's limit.
TEST(ZipExtract, PathsTooLongForTheSystemAreNotWritten) {
  Sandbox box;
  ASSERT_TRUE(box.Open(
      BuildZip({{.name = "f", .data = "x"}, {.name = "d/", .externalAttributes = 0x41ED0000}})));
  const std::size_t suffix = std::u16string_view(kZipTemporarySuffix).size();
  const std::size_t room = 259 - suffix - test::CoreText(box.root).size() - 1;
  const std::u16string fits = std::u16string(room - 2, u'n') + u"/f";
  const std::u16string tooLongHere = u"n/" + std::u16string(room - 1, u'f');
  const std::u16string tooLongAnywhere = u"n/" + std::u16string(259 - suffix - 1, u'f');
  EXPECT_EQ(ZipExtractItem(box.zip, 0, tooLongHere.c_str()), ZIP_ERR_SYSTEM);
  EXPECT_EQ(ZipExtractItem(box.zip, 1, tooLongHere.c_str()), ZIP_ERR_SYSTEM);
  EXPECT_EQ(ZipExtractItem(box.zip, 0, tooLongAnywhere.c_str()), ZIP_ERR_FILE);
  EXPECT_TRUE(fs::is_empty(box.root));
  // The longest path that fits is still written where the system allows it.
  const ZipResult result = ZipExtractItem(box.zip, 0, fits.c_str());
  EXPECT_TRUE(result == ZIP_OK || result == ZIP_ERR_SYSTEM);
}

// Archives made by Info-ZIP zip, Python's zipfile and minizip (tests/fixtures/zip_writers.py),
// with what Info-ZIP unzip extracted from each.
TEST(ZipRealWriters, ExtractionMatchesInfoZipUnzip) {
  const fs::path fixtures = TARVO_ZIP_FIXTURES;
  std::ifstream list(fixtures / "archives.txt");
  ASSERT_TRUE(list) << "made by the zip_fixtures test: run the tests through ctest";
  std::string archive;
  int archives = 0;
  while (std::getline(list, archive)) {
    SCOPED_TRACE(archive);
    ++archives;
    Sandbox box;
    ASSERT_TRUE(box.Open(test::ReadFile(fixtures / "archives" / archive)));
    box.ExtractAll();
    const fs::path reference = fixtures / "unzip" / archive;
    std::set<std::string> expected, got;
    for (const auto& e : fs::recursive_directory_iterator(reference)) {
      expected.insert(fs::relative(e.path(), reference).generic_string());
    }
    for (const auto& e : fs::recursive_directory_iterator(box.root)) {
      got.insert(fs::relative(e.path(), box.root).generic_string());
    }
    EXPECT_EQ(got, expected);
    for (const std::string& path : expected) {
      if (fs::is_directory(reference / path) || !fs::exists(box.root / path)) continue;
      EXPECT_EQ(test::ReadFile(box.root / path), test::ReadFile(reference / path)) << path;
      EXPECT_EQ(fs::last_write_time(box.root / path), fs::last_write_time(reference / path))
          << path;
    }
  }
  EXPECT_GE(archives, 3);
}

// The check of a download: what went by in pieces of any size, then the file read for the rest.
// Whole archives pass with every item followed as it arrived; damage is caught, and data whose
// local header says otherwise is caught before the end.
TEST(ZipStreamCheck, TakesWholeArchivesAndCatchesDamagedData) {
  const std::string text(70000, 't');
  const std::string noise = test::PatternBytes(5000);
  const std::string deflated = test::Deflate(text);
  std::string spliced = noise;
  spliced[2500] ^= 1;
  const struct {
    const char* what;
    std::vector<ZipEntry> entries;
    std::string prefix;
    bool whole;     // ZipCheckArchive
    bool damaged;   // seen as it went by
    bool followed;  // the first item was followed
  } cases[] = {
      {"stored and deflated",
       {{.name = "a", .data = text}, {.name = "b", .data = noise, .method = 0}},
       "",
       true,
       false,
       true},
      {"zip64 sizes", {{.name = "a", .data = text, .zip64 = true}}, "", true, false, true},
      {"empty items",
       {{.name = "d/", .method = 0}, {.name = "e", .data = ""}},
       "",
       true,
       false,
       true},
      {"bytes in front", {{.name = "a", .data = text}}, "MZ", true, false, false},
      {"method 12 and another password",
       {{.name = "m", .method = 12, .stored = "xyz"},
        {.name = "p", .data = text, .password = "secret"}},
       "",
       true,
       false,
       false},
      {"data replaced, CRC kept",
       {{.name = "b", .data = noise, .method = 0, .stored = spliced}},
       "",
       false,
       true,
       true},
      {"CRC of other data in both headers",
       {{.name = "a", .data = text, .crc = 12345}},
       "",
       false,
       true,
       true},
      {"deflated data cut short",
       {{.name = "a", .data = text, .stored = deflated.substr(0, deflated.size() / 2)}},
       "",
       false,
       true,
       false},
      {"central CRC differs from the local one",
       {{.name = "a", .data = text, .patchCentralRecord = [](std::string& r) { r[16] ^= 1; }}},
       "",
       false,
       false,
       true},
  };
  for (const auto& c : cases) {
    const std::string bytes = BuildZip(c.entries, c.prefix);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{4093}, bytes.size()}) {
      SCOPED_TRACE(::testing::Message() << c.what << ", pieces of " << piece);
      Sandbox box;
      ASSERT_TRUE(box.Open(bytes));
      ZipStreamCheck check;
      for (std::size_t at = 0; at < bytes.size(); at += piece)
        check.Append(std::string_view(bytes).substr(at, piece));
      EXPECT_EQ(check.Damaged(), c.damaged);
      EXPECT_EQ(check.Find(c.prefix.size()) != nullptr, c.followed);
      EXPECT_EQ(ZipCheckArchive(test::CoreText(box.archive).c_str(), &check), c.whole);
      EXPECT_EQ(ZipCheckArchive(test::CoreText(box.archive).c_str()), c.whole);
    }
  }
  // Real writers, data descriptors and zip64 included: every item followed where its end can
  // be known without the central directory.
  const fs::path fixtures = TARVO_ZIP_FIXTURES;
  std::ifstream list(fixtures / "archives.txt");
  ASSERT_TRUE(list) << "made by the zip_fixtures test: run the tests through ctest";
  for (std::string archive; std::getline(list, archive);) {
    SCOPED_TRACE(archive);
    const std::string bytes = test::ReadFile(fixtures / "archives" / archive);
    ZipStreamCheck check;
    for (std::size_t at = 0; at < bytes.size(); at += 777)
      check.Append(std::string_view(bytes).substr(at, 777));
    EXPECT_FALSE(check.Damaged());
    EXPECT_NE(check.Find(0), nullptr);
    EXPECT_TRUE(ZipCheckArchive(test::CoreText(fixtures / "archives" / archive).c_str(), &check));
  }
}

}  // namespace
}  // namespace tarvo
