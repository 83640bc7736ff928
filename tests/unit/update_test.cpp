// The update check: planning downloads from the version list, and widening the page's bytes.

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "common/utf.h"
#include "support/planning_cases.h"
#include "support/reference_planner.h"
#include "update/append_ansi_text.h"
#include "update/plan_downloads.h"
#include "update/run_update_check.h"

namespace tarvo {
namespace {

using test::PlannedDownload;
using test::RecordingPlanner;

const std::u16string kDir = u"C:\\Games\\Velmora\\";
const std::u16string kUpdateDir = kDir + u"UpdateZip\\";

struct Plan {
  int started = 0;
  std::vector<PlannedDownload> downloads;
  int versionReads = 0;
};

// Plans `page` with the launcher's planner, and checks that the reference plans the same.
Plan PlanPage(std::u16string_view page, RecordingPlanner planner) {
  RecordingPlanner reference = planner;
  Plan plan;
  plan.started = PlanDownloads(page, planner, kDir);
  plan.downloads = planner.downloads;
  plan.versionReads = planner.versionReads;
  EXPECT_EQ(test::ReferencePlanDownloads(page, reference, kDir), plan.started);
  EXPECT_EQ(reference.downloads, plan.downloads);
  EXPECT_EQ(reference.versionReads, plan.versionReads);
  return plan;
}

Plan PlanPage(std::u16string_view page, std::int32_t first, std::int32_t second) {
  return PlanPage(page, RecordingPlanner(first, second));
}

// A page with a version list of the given entry texts, one per line.
std::u16string ListPage(std::initializer_list<std::u16string_view> entries) {
  std::u16string page = u"<html><body>\r\n<vlVersionList>\r\n";
  for (auto entry : entries) page += u"<Version>" + std::u16string(entry) + u"</Version>\r\n";
  return page + u"</vlVersionList>\r\n</body></html>";
}

std::u16string ListPage(std::u16string_view body) {
  return u"<vlVersionList>" + std::u16string(body) + u"</vlVersionList>";
}

PlannedDownload Download(std::u16string url, std::u16string name) {
  return {std::move(url), kUpdateDir + std::move(name)};
}

const std::u16string kUrl2 = u"http://updates.example/updates/0000100000002.zip";
const std::u16string kUrl3 = u"http://updates.example/updates/0000100000003.zip";
const std::u16string kUrlNext = u"http://updates.example/updates/0000200000001.zip";

TEST(FileNameFromUrl, IsTheTextAfterTheLastSlashElseTheLastBackslash) {
  EXPECT_EQ(FileNameFromUrl(kUrl3), u"0000100000003.zip");
  EXPECT_EQ(FileNameFromUrl(u"http://h/updates/"), u"");
  EXPECT_EQ(FileNameFromUrl(u"http://h/%41.zip?v=2"), u"%41.zip?v=2");
  EXPECT_EQ(FileNameFromUrl(u"http://h/a\\b.zip"), u"a\\b.zip");
  EXPECT_EQ(FileNameFromUrl(u"updates\\old\\a.zip"), u"a.zip");
  EXPECT_EQ(FileNameFromUrl(u"a\\b/c"), u"c");
  EXPECT_EQ(FileNameFromUrl(u"a.zip"), u"a.zip");
  EXPECT_EQ(FileNameFromUrl(u""), u"");
}

TEST(IsSafeArchiveName, RefusesNamesThatReachOutsideTheFolder) {
  for (std::u16string_view name : {u"a.zip", u"", u"...", u".zip", u"a..zip", u"%2E%2E"}) {
    EXPECT_TRUE(IsSafeArchiveName(name)) << Utf16ToUtf8(name);
  }
  for (std::u16string_view name : {u".", u"..", u"a\\b.zip", u"..\\x", u"C:x.zip", u"a.zip:s"}) {
    EXPECT_FALSE(IsSafeArchiveName(name)) << Utf16ToUtf8(name);
  }
}

TEST(PlanDownloads, WorkedExample) {
  const std::u16string page =
      ListPage({u"0000100000002" + kUrl2, u"0000100000003" + kUrl3, u"0000200000001" + kUrlNext});

  const Plan newer = PlanPage(page, 1, 2);
  EXPECT_EQ(newer.started, 1);
  EXPECT_EQ(newer.downloads, (std::vector<PlannedDownload>{Download(kUrl3, u"0000100000003.zip")}));
  EXPECT_EQ(newer.versionReads, 1);

  const Plan two = PlanPage(page, 1, 1);
  EXPECT_EQ(two.started, 1);
  EXPECT_EQ(two.downloads, (std::vector<PlannedDownload>{Download(kUrl2, u"0000100000002.zip"),
                                                         Download(kUrl3, u"0000100000003.zip")}));

  const Plan upToDate = PlanPage(page, 1, 3);
  EXPECT_EQ(upToDate.started, 0);
  EXPECT_TRUE(upToDate.downloads.empty());
}

TEST(PlanDownloads, NeedsAnEqualFirstVersionAndAStrictlyGreaterSecond) {
  EXPECT_EQ(PlanPage(ListPage({u"0000100000002" + kUrl2, u"0000100000002" + kUrl3}), 1, 2).started,
            0);

  // A missing SecondVersion key reads as 0.
  EXPECT_EQ(PlanPage(ListPage({u"0000100000000" + kUrl2}), 1, 0).started, 0);
  EXPECT_EQ(PlanPage(ListPage({u"0000100000001" + kUrl2}), 1, 0).downloads.size(), 1u);

  // However high the second version, another first version never qualifies.
  EXPECT_EQ(PlanPage(ListPage({u"0000299999999" + kUrl2, u"0000099999999" + kUrl2}), 1, 2).started,
            0);

  // Signed comparison: a negative recorded second version lets 0 through.
  EXPECT_EQ(PlanPage(ListPage({u"0000100000000" + kUrl2}), 1, -1).downloads.size(), 1u);
}

TEST(PlanDownloads, CutsFieldsAtFixedWidthsAndReadsThemAsDecimals) {
  // 8 characters: first version 12345, second 678, no URL.
  EXPECT_EQ(PlanPage(ListPage({u"12345678"}), 12345, 0).started, 0);
  // 13 characters leave the URL empty; one more is a URL.
  EXPECT_EQ(PlanPage(ListPage({u"0000100000003"}), 1, 2).started, 0);
  EXPECT_EQ(PlanPage(ListPage({u"0000100000003x"}), 1, 2).downloads,
            (std::vector<PlannedDownload>{Download(u"x", u"x")}));

  // A sign counts: "-0001" is -1 and "+0001" is 1.
  EXPECT_EQ(PlanPage(ListPage({u"-000100000005http://h/a.zip"}), -1, 0).downloads.size(), 1u);
  EXPECT_EQ(PlanPage(ListPage({u"+000100000005http://h/a.zip"}), 1, 0).downloads.size(), 1u);

  // White space is not trimmed: it shifts every field.
  EXPECT_EQ(PlanPage(ListPage({u" 0000100000003http://h/a.zip"}), 0, 9999999).downloads,
            (std::vector<PlannedDownload>{Download(u"3http://h/a.zip", u"a.zip")}));
  // Fields without digits are 0; digits count up to the first other character.
  EXPECT_EQ(PlanPage(ListPage({u"abcde12x45678http://h/a.zip"}), 0, 11).downloads.size(), 1u);
  EXPECT_EQ(PlanPage(ListPage({u"abcde12x45678http://h/a.zip"}), 0, 12).started, 0);
}

TEST(PlanDownloads, TakesOnlyExactTagsOfTheFirstList) {
  const std::u16string entry = u"0000100000003" + kUrl3;
  // Lower-case entry tags are no entry tags.
  EXPECT_EQ(PlanPage(ListPage(u"<version>" + entry + u"</version>"), 1, 2).started, 0);
  // What stands between entries does not matter.
  EXPECT_EQ(PlanPage(ListPage(u"\r\n<!-- a --><p>x</p><Version>" + entry + u"</Version>zz"), 1, 2)
                .downloads.size(),
            1u);
  // Only the body between the page's first list opening tag and first list closing tag counts.
  const std::u16string second = u"<vlVersionList><Version>0000100000004" + kUrl2 + u"</Version>";
  EXPECT_EQ(
      PlanPage(ListPage(u"<Version>" + entry + u"</Version>") + second + u"</vlVersionList>", 1, 2)
          .downloads,
      (std::vector<PlannedDownload>{Download(kUrl3, u"0000100000003.zip")}));
  // The first closing list tag before the first opening one leaves an empty body.
  EXPECT_EQ(
      PlanPage(u"</vlVersionList>" + ListPage(u"<Version>" + entry + u"</Version>"), 1, 2).started,
      0);
  // An entry that is never closed is no entry.
  EXPECT_EQ(PlanPage(ListPage(u"<Version>" + entry), 1, 2).started, 0);
}

TEST(PlanDownloads, ReadsTheVersionsOnlyForAPageWithAList) {
  const std::u16string entry = u"<Version>0000100000003" + kUrl3 + u"</Version>";
  for (const std::u16string& page :
       {std::u16string(), u"<vlVersionList>" + entry, entry + u"</vlVersionList>",
        std::u16string(u"<html>404 Not Found</html>")}) {
    const Plan plan = PlanPage(page, 1, 2);
    EXPECT_EQ(plan.started, 0);
    EXPECT_EQ(plan.versionReads, 0);
  }
  // Without a configuration the list is not examined.
  const Plan unconfigured = PlanPage(ListPage(u"0000100000003" + kUrl3), RecordingPlanner());
  EXPECT_EQ(unconfigured.started, 0);
  EXPECT_TRUE(unconfigured.downloads.empty());
  EXPECT_EQ(unconfigured.versionReads, 1);
}

TEST(PlanDownloads, NamesTheFileAfterTheUrlsLastSegment) {
  // Without any "/", the name follows the last backslash.
  EXPECT_EQ(PlanPage(ListPage({u"0000100000003updates\\0000100000003.zip"}), 1, 2).downloads,
            (std::vector<PlannedDownload>{
                Download(u"updates\\0000100000003.zip", u"0000100000003.zip")}));
  // A query stays in the name.
  EXPECT_EQ(PlanPage(ListPage({u"0000100000003http://h/a.zip?v=1"}), 1, 2).downloads,
            (std::vector<PlannedDownload>{Download(u"http://h/a.zip?v=1", u"a.zip?v=1")}));
  // A URL ending in "/" names the folder itself; storing there fails later, harmlessly.
  EXPECT_EQ(PlanPage(ListPage({u"0000100000003http://h/updates/"}), 1, 2).downloads,
            (std::vector<PlannedDownload>{Download(u"http://h/updates/", u"")}));
}

TEST(PlanDownloads, StartsNothingForNamesThatWouldLeaveTheUpdateFolder) {
  const std::u16string unsafe[] = {u"http://h/a\\..\\..\\Velmora.exe",
                                   u"http://h/C:\\x.zip",
                                   u"http://h/x.zip:stream",
                                   u"http://h/..",
                                   u"http://h/.",
                                   u"..",
                                   u".",
                                   u"..\\..",
                                   u"c:x.zip",
                                   u"up\\c:x.zip"};
  for (const std::u16string& url : unsafe) {
    const Plan plan = PlanPage(ListPage({u"0000100000003" + url}), 1, 2);
    EXPECT_EQ(plan.started, 0) << Utf16ToUtf8(url);
    EXPECT_TRUE(plan.downloads.empty());
  }
  // A refused entry leaves the others as they are.
  EXPECT_EQ(PlanPage(ListPage({u"0000100000003http://h/..", u"0000100000004" + kUrl3,
                               u"0000100000005http://h/a\\b"}),
                     1, 2)
                .downloads,
            (std::vector<PlannedDownload>{Download(kUrl3, u"0000100000003.zip")}));
}

TEST(PlanDownloads, FollowsTheRemovalProcedureOnMalformedLists) {
  const std::u16string a = u"0000100000009http://h/a.zip";
  const std::u16string b = u"0000100000009http://h/b.zip";

  // Removing a pair of tags joins "<Ver" and "sion>" into an opening tag.
  EXPECT_EQ(PlanPage(ListPage(u"<Ver<Version></Version>sion>" + a + u"</Version>"), 1, 2).downloads,
            (std::vector<PlannedDownload>{Download(u"http://h/a.zip", u"a.zip")}));
  EXPECT_EQ(PlanPage(ListPage(u"<Version<Version></Version>>" + a + u"</Version>"), 1, 2).downloads,
            (std::vector<PlannedDownload>{Download(u"http://h/a.zip", u"a.zip")}));
  // Again and again, from the inside out.
  EXPECT_EQ(
      PlanPage(ListPage(u"<Ver<Ver<Version></Version>sion>sion>" + a + u"</Version></Version>"), 1,
               2)
          .downloads,
      (std::vector<PlannedDownload>{Download(u"http://h/a.zip", u"a.zip")}));

  // A closing tag before the first opening tag pairs with it, and the entry is empty.
  EXPECT_EQ(PlanPage(ListPage(u"</Version>" + a + u"<Version>" + b + u"</Version>"), 1, 2).started,
            0);
  // The same when the closing tag only comes into being by a removal.
  EXPECT_EQ(
      PlanPage(ListPage(u"</Ver<Version></Version>sion>" + a + u"<Version>" + b + u"</Version>"), 1,
               2)
          .started,
      0);

  // Nested entries: the outer one runs up to the first closing tag, then the inner one.
  const Plan nested = PlanPage(
      ListPage(u"<Version>" + a + u"<Version>0000100000008http://h/b.zip</Version></Version>"), 1,
      2);
  EXPECT_EQ(nested.downloads,
            (std::vector<PlannedDownload>{
                Download(u"http://h/a.zip<Version>0000100000008http://h/b.zip", u"b.zip"),
                Download(u"http://h/b.zip", u"b.zip")}));

  // A piece of a closing tag stays in the entry.
  EXPECT_EQ(PlanPage(ListPage(u"<Version>" + a + u"</Ver</Version>sion>"), 1, 2).downloads,
            (std::vector<PlannedDownload>{Download(u"http://h/a.zip</Ver", u"Ver")}));
}

TEST(PlanDownloads, PlansLikeTheReferenceOnGeneratedPages) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> length(0, 120);
  std::uniform_int_distribution<int> byte(0, 255);
  int pagesWithDownloads = 0;
  int pagesWithSeveral = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string bytes(static_cast<std::size_t>(length(random)), '\0');
    for (char& b : bytes) b = static_cast<char>(byte(random));
    const test::PlanningCase c = test::MakePlanningCase(bytes);
    const RecordingPlanner planner =
        c.hasConfig ? RecordingPlanner(c.first, c.second) : RecordingPlanner();
    const Plan plan = PlanPage(c.page, planner);
    if (HasFailure()) {
      ADD_FAILURE() << "first differing page: " << Utf16ToUtf8(c.page);
      return;
    }
    pagesWithDownloads += plan.started;
    pagesWithSeveral += plan.downloads.size() > 1 ? 1 : 0;
  }
  // The pages are hostile enough to start downloads, often several.
  EXPECT_GT(pagesWithDownloads, 1500);
  EXPECT_GT(pagesWithSeveral, 700);
}

TEST(PlanDownloads, PlansLikeTheReferenceOnLongLists) {
  std::u16string body;
  for (int i = 0; i < 3000; ++i) {
    const std::u16string digit(1, static_cast<char16_t>(u'0' + i % 10));
    body += u"<Version>000000000000" + digit + u"http://h/u/" + digit + u".zip</Version>\r\n";
    // Now and then an entry that only comes into being by a removal.
    if (i % 97 == 0) body += u"<Ver<Version></Version>sion>0000000000009http://h/x.zip</Version>";
  }
  EXPECT_FALSE(PlanPage(ListPage(body), 0, 4).downloads.empty());
}

TEST(AppendAnsiText, ConvertsAChunkUpToItsFirstZeroByte) {
  std::u16string text = u"<";
  // A full read holds no terminating zero: every byte counts.
  EXPECT_EQ(&AppendAnsiText(text, std::string(1024, 'a')), &text);
  std::u16string expected(1025, u'a');
  expected[0] = u'<';
  EXPECT_EQ(text, expected);

  text.clear();
  AppendAnsiText(text, std::string_view("abc\0def", 7));
  AppendAnsiText(text, "ghi");
  EXPECT_EQ(text, u"abcghi");

  AppendAnsiText(text, "");
  AppendAnsiText(text, std::string_view("\0xyz", 4));
  EXPECT_EQ(text, u"abcghi");
}

TEST(AppendAnsiText, GivesTheSamePageForAnyReadSizes) {
  std::string page = "<vlVersionList>";
  for (int i = 0; i < 200; ++i)
    page += "<Version>0000100000003http://h/0000100000003.zip</Version>";
  page += "</vlVersionList>";
  std::u16string whole;
  AppendAnsiText(whole, page);
  ASSERT_EQ(whole.size(), page.size());
  for (std::size_t size : {1u, 7u, 1000u, 1023u, 1024u}) {
    std::u16string pieces;
    for (std::size_t at = 0; at < page.size(); at += size) {
      AppendAnsiText(pieces, std::string_view(page).substr(at, size));
    }
    EXPECT_EQ(pieces, whole) << size;
  }
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

TEST(RunUpdateCheck, AServerThatIsNotThereStartsNothing) {
  // Port 9 (discard) has no listener here: the connection is refused at once.
  EXPECT_EQ(RunUpdateCheck(u"http://127.0.0.1:9/zip.html"), 0);
  EXPECT_EQ(RunUpdateCheck(u"not a url"), 0);
}

}  // namespace
}  // namespace tarvo
