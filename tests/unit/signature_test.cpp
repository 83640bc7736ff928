// Signed archives: what the signature covers, and everything that must not pass for signed.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_keys.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"
#include "unzip/archive_signature.h"
#include "unzip/zip_archive.h"

namespace tarvo {
namespace {

constexpr std::string_view kVersions = "0000100000003";

std::string Archive(test::ZipEnd end = test::ZipEnd::kPlain) {
  return test::BuildZip({{"data/a.txt", std::string(70000, 'a')},
                         {.name = "data/b.bin", .data = test::PatternBytes(90000), .method = 0}},
                        "", "", end);
}

// Streams `archive` through a check in pieces of `piece` bytes.
bool Verifies(const std::string& archive, std::string_view versions = kVersions,
              bool concurrently = false, std::size_t piece = 4096) {
  ArchiveStream stream(
      concurrently ? ArchiveStream::Hashing::kConcurrently : ArchiveStream::Hashing::kHere,
      versions);
  for (std::size_t at = 0; at < archive.size(); at += piece) {
    stream.Append(std::string_view(archive).substr(at, piece));
  }
  const std::optional<ArchiveStream::Ending> ending = stream.Finish();
  return ending && VerifyEnding(*ending, test::TestPublicKey());
}

TEST(Signature, TheTestsKeyIsTheOneBuiltIntoTheirLauncher) {
  const std::optional<PublicKey> built = DecodePublicKey(TARVO_TEST_PUBLIC_KEY);
  ASSERT_TRUE(built);
  EXPECT_EQ(built->bytes, test::TestPublicKey().bytes);
  for (std::string_view text : {"", "not base64", "AAAA", TARVO_TEST_PUBLIC_KEY "AAAA"}) {
    EXPECT_FALSE(DecodePublicKey(text)) << text;
  }
}

// With a zip64 end record too: the signature covers it, and the end record stays last.
TEST(Signature, ASignedArchiveVerifiesAndStaysAnOrdinaryArchive) {
  for (const test::ZipEnd end : {test::ZipEnd::kPlain, test::ZipEnd::kZip64}) {
    SCOPED_TRACE(static_cast<int>(end));
    const std::string archive = test::Signed(Archive(end), kVersions);
    // The zip64 end record's directory size (in front of the locator and the end record).
    std::string changed = archive;
    changed[changed.size() - kSignatureCommentSize - 22 - 20 - 56 + 40] ^= 1;
    EXPECT_FALSE(Verifies(changed));
    EXPECT_TRUE(Verifies(archive));
    EXPECT_TRUE(Verifies(archive, kVersions, true, 1 << 20));
    EXPECT_TRUE(Verifies(archive, kVersions, true, 1));
    // Signing again gives a signature in the place of the old one.
    EXPECT_TRUE(Verifies(test::Signed(archive, kVersions)));

    test::TempDir dir;
    test::WriteFile(dir.path() / "a.zip", archive);
    EXPECT_TRUE(VerifyArchiveFile(test::CoreText(dir.path() / "a.zip").c_str(),
                                  test::TestPublicKey(), kVersions));
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const ZipHandle zip = ZipOpenArchive(test::CoreText(dir.path() / "a.zip").c_str());
    std::filesystem::current_path(saved);
    ASSERT_NE(zip, nullptr);
    EXPECT_EQ(ZipExtractItem(zip, 1, u"b.bin"), ZIP_OK);
    ZipCloseArchive(zip);
    EXPECT_TRUE(test::ReadFile(dir.path() / "b.bin") == test::PatternBytes(90000));
  }
}

TEST(Signature, NothingElsePassesForSigned) {
  const std::string archive = Archive();
  const std::string good = test::Signed(archive, kVersions);
  EXPECT_FALSE(Verifies(archive)) << "unsigned";
  EXPECT_FALSE(Verifies(test::Signed(archive, kVersions, test::OtherSecretKey()))) << "another key";
  EXPECT_FALSE(Verifies(good, "0000100000004")) << "served under newer versions";
  EXPECT_FALSE(Verifies(good, "000010000003")) << "versions that are not 13 digits";
  EXPECT_FALSE(Verifies(good + "x")) << "a byte after the signature";
  EXPECT_FALSE(Verifies("PK" + good)) << "bytes in front";
  EXPECT_FALSE(Verifies(good.substr(0, good.size() - 1))) << "cut short";
  // The signature's last character also carries bits that its bytes do not use.
  static constexpr std::string_view kBase64 =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string unusedBits = good;
  char& last = unusedBits[good.size() - 3];
  last = kBase64[kBase64.find(last) ^ 1];
  EXPECT_FALSE(Verifies(unusedBits)) << "a signature spelled otherwise";
  // One byte changed anywhere: data, central directory, end record, signature.
  for (std::size_t at :
       {std::size_t{0}, std::size_t{100}, archive.size() / 2, archive.size() - 30,
        archive.size() - 22, archive.size() - 3, good.size() - 40, good.size() - 1}) {
    std::string changed = good;
    changed[at] = static_cast<char>(changed[at] ^ 0x01);
    EXPECT_FALSE(Verifies(changed)) << "changed at " << at;
    EXPECT_FALSE(Verifies(changed, kVersions, true)) << "changed at " << at;
  }
}

}  // namespace
}  // namespace tarvo
