// The file layer as the core relies on it, on both builds.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "platform/files.h"
#include "support/test_support.h"

namespace tarvo {
namespace {

std::u16string In(const test::TempDir& dir, const char16_t* name) {
  return test::CoreText(dir.path()) + u"\\" + name;
}

TEST(CFileFind, MatchesWildcardsIgnoringCaseAndReportsEachMatchOnce) {
  test::TempDir dir;
  for (const char* name : {"b.zip", "A.ZIP", "c.Zip", "a1.zip", "other.txt", "zip", "d.zip.part"}) {
    test::WriteFile(dir.path() / name, "x");
  }
  std::filesystem::create_directory(dir.path() / "x.zip");

  CFileFind find;
  ASSERT_TRUE(find.FindFile(In(dir, u"*.zip").c_str()));
  std::set<std::u16string> files, directories;
  bool more = true;
  while (more) {
    more = find.FindNextFile();
    (find.IsDirectory() ? directories : files).insert(find.GetFileName());
    EXPECT_EQ(find.GetFilePath(), In(dir, find.GetFileName().c_str()));
    EXPECT_FALSE(find.IsDots());
  }
  EXPECT_EQ(files, (std::set<std::u16string>{u"A.ZIP", u"a1.zip", u"b.zip", u"c.Zip"}));
  EXPECT_EQ(directories, (std::set<std::u16string>{u"x.zip"}));
}

TEST(CFolderLock, KeepsOtherHoldersOutUntilItGoes) {
  test::TempDir dir;
  const std::u16string folder = test::CoreText(dir.path());
  auto first = std::make_unique<CFolderLock>();
  ASSERT_TRUE(first->Lock(folder.c_str(), 0));
  CFolderLock second;
  EXPECT_FALSE(second.Lock(folder.c_str(), 200));
  // What else the folder holds stays free.
  test::WriteFile(dir.path() / "0000100000003.zip", "x");
  first.reset();
  EXPECT_TRUE(second.Lock(folder.c_str(), 0));
  EXPECT_FALSE(CFolderLock().Lock(In(dir, u"missing").c_str(), 0));
}

TEST(CFileFind, FindsAPlainPathOnlyWhenItExists) {
  test::TempDir dir;
  CFileFind find;
  EXPECT_FALSE(find.FindFile(In(dir, u"Config.ini").c_str()));
  test::WriteFile(dir.path() / "Config.ini", "");
  ASSERT_TRUE(find.FindFile(In(dir, u"Config.ini").c_str()));
  EXPECT_FALSE(find.FindNextFile());
  EXPECT_EQ(find.GetFileName(), u"Config.ini");
}

TEST(CFileFind, AMissingFolderFindsNothing) {
  test::TempDir dir;
  CFileFind find;
  EXPECT_FALSE(find.FindFile(In(dir, u"UpdateZip\\*.zip").c_str()));
  EXPECT_FALSE(find.FindNextFile());
  EXPECT_TRUE(find.GetFileName().empty());
}

TEST(Files, CreateMoveAndDelete) {
  test::TempDir dir;
  const std::u16string sub = In(dir, u"sub");
  EXPECT_EQ(GetFileAttributesW(sub.c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(CreateDirectoryW(sub.c_str()));
  EXPECT_FALSE(CreateDirectoryW(sub.c_str()));
  EXPECT_NE(GetFileAttributesW(sub.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(DeleteFileW(sub.c_str())) << "a directory is not a file";

  const std::u16string a = sub + u"\\a.bin", b = sub + u"\\b.bin";
  {
    CFile file(a.c_str(), CFile::modeCreate | CFile::modeWrite);
    file.Write("hello", 5);
  }
  test::WriteFile(dir.path() / "sub" / "b.bin", "old");
  EXPECT_FALSE(MoveFileExW(a.c_str(), b.c_str(), 0));
  ASSERT_TRUE(MoveFileExW(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(PathFileExistsW(a.c_str()));
  CFile file(b.c_str(), CFile::modeRead);
  char bytes[8] = {};
  EXPECT_EQ(file.Read(bytes, sizeof bytes), 5u);
  EXPECT_EQ(std::string(bytes, 5), "hello");
  EXPECT_EQ(file.GetLength(), 5u);
  file.Close();
  EXPECT_TRUE(DeleteFileW(b.c_str()));
  EXPECT_FALSE(DeleteFileW(b.c_str()));
}

// Offsets and lengths past 4 GiB, on the 32-bit build too; the file is sparse where the system
// allows it.
TEST(Files, WritesAndReadsBackPastFourGiB) {
  test::TempDir dir;
  const std::u16string path = In(dir, u"big.bin");
  constexpr std::uint64_t kAt = (std::uint64_t{5} << 30) + 3;
  {
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    file.SetLength(kAt);
    EXPECT_EQ(file.Seek(0, CFile::end), kAt);
    file.Write("tail", 4);
  }
  CFile file(path.c_str(), CFile::modeRead);
  EXPECT_EQ(file.GetLength(), kAt + 4);
  EXPECT_EQ(file.Seek(static_cast<std::int64_t>(kAt), CFile::begin), kAt);
  char bytes[8] = {};
  EXPECT_EQ(file.Read(bytes, sizeof bytes), 4u);
  EXPECT_EQ(std::string(bytes, 4), "tail");
}

// What keeps a second launcher away from a transfer's file, and free space.
TEST(Files, AnExclusiveFileIsHeldUntilItGoes) {
  test::TempDir dir;
  const std::u16string path = In(dir, u"held.bin");
  const UINT exclusive =
      CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::shareExclusive;
  auto holder = std::make_unique<CFile>(path.c_str(), exclusive);
  holder->Write("kept", 4);
  CFile second;
  EXPECT_FALSE(second.Open(path.c_str(), exclusive));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  holder.reset();
  test::WriteFile(dir.path() / "held.bin", "kept");
  // Opened as it is, then deleted while held.
  ASSERT_TRUE(second.Open(path.c_str(), exclusive));
  EXPECT_EQ(second.GetLength(), 4u);
  EXPECT_TRUE(second.Delete());
  EXPECT_FALSE(PathFileExistsW(path.c_str()));

  std::uint64_t available = 0;
  EXPECT_TRUE(GetDiskFreeSpaceExW(test::CoreText(dir.path()).c_str(), &available));
  EXPECT_GT(available, 0u);
  EXPECT_FALSE(GetDiskFreeSpaceExW(In(dir, u"missing").c_str(), &available));
}

TEST(Files, OpeningAMissingFileThrowsTheFileKind) {
  test::TempDir dir;
  EXPECT_THROW(CFile(In(dir, u"missing").c_str(), CFile::modeRead), CFileException);
  CFile file;
  EXPECT_FALSE(
      file.Open(In(dir, u"no\\such\\folder").c_str(), CFile::modeCreate | CFile::modeWrite));
}

}  // namespace
}  // namespace tarvo
