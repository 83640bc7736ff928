// The update check: planning downloads from the version list, and widening the page's bytes.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "common/utf.h"
#include "support/planning_cases.h"
#include "support/reference_planner.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "net/download_queue.h"
#include "net/kept_bytes.h"
#include "update/ansi_page_text.h"
#include "update/launcher_planner.h"
#include "update/plan_downloads.h"
#include "update/run_update_check.h"
#include "update/user_agent.h"
#include "tarvo_version.h"

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

TEST(ArchiveNameForEntry, IsTheEntrysThirteenDigitsWhenItHasThem) {
  EXPECT_EQ(ArchiveNameForEntry(u"0000100000003http://h/patch3.zip?sig=a/b"), u"0000100000003.zip");
  EXPECT_EQ(ArchiveNameForEntry(u"0000100000003"), u"0000100000003.zip");
  for (std::u16string_view entry : {u"000010000000", u"-000100000003x", u"+000100000003x",
                                    u" 000100000003x", u"00001-0000003x", u"0000100000３x"}) {
    EXPECT_EQ(ArchiveNameForEntry(entry), u"") << Utf16ToUtf8(entry);
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
            (std::vector<PlannedDownload>{Download(u"x", u"0000100000003.zip")}));

  // Only 13 decimal digits qualify: no sign, no white space (which would shift every field),
  // no letters, however the fields would read as numbers.
  for (std::u16string_view entry :
       {u"-000100000005http://h/a.zip", u"+000100000005http://h/a.zip",
        u" 0000100000003http://h/a.zip", u"0000100000 03http://h/a.zip",
        u"abcde12x45678http://h/a.zip", u"00001-0000003http://h/a.zip"}) {
    for (const auto& [first, second] : {std::pair{-1, -9}, {1, -9}, {0, -9}}) {
      EXPECT_EQ(PlanPage(ListPage({entry}), first, second).started, 0) << Utf16ToUtf8(entry);
    }
  }
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

TEST(PlanDownloads, NamesTheArchiveAfterTheEntryWhateverTheUrlCallsIt) {
  const std::u16string urls[] = {u"http://h/u/patch3.zip",
                                 u"http://h/u/0000299999999.zip",
                                 u"http://cdn/a.zip?Expires=1&Signature=x/y",
                                 u"http://h/u/",
                                 u"http://h/COM1.zip",
                                 u"http://h/a\\..\\..\\Velmora.exe",
                                 u"updates\\0000100000003.zip",
                                 u".."};
  for (const std::u16string& url : urls) {
    EXPECT_EQ(PlanPage(ListPage({u"0000100000003" + url}), 1, 2).downloads,
              (std::vector<PlannedDownload>{Download(url, u"0000100000003.zip")}))
        << Utf16ToUtf8(url);
  }
}

TEST(PlanDownloads, SkipsAUrlLongerThanAnyThatCanBeFetched) {
  const std::u16string longest = u"http://h/" + std::u16string(kMaxArchiveUrlLength - 9, u'a');
  EXPECT_EQ(
      PlanPage(ListPage({u"0000100000003" + longest + u"b", u"0000100000004" + longest}), 1, 2)
          .downloads,
      (std::vector<PlannedDownload>{Download(longest, u"0000100000004.zip")}));
}

TEST(PlanDownloads, FollowsTheRemovalProcedureOnMalformedLists) {
  const std::u16string a = u"0000100000009http://h/a.zip";
  const std::u16string b = u"0000100000009http://h/b.zip";

  // Removing a pair of tags joins "<Ver" and "sion>" into an opening tag.
  const PlannedDownload fromA = Download(u"http://h/a.zip", u"0000100000009.zip");
  EXPECT_EQ(PlanPage(ListPage(u"<Ver<Version></Version>sion>" + a + u"</Version>"), 1, 2).downloads,
            (std::vector<PlannedDownload>{fromA}));
  EXPECT_EQ(PlanPage(ListPage(u"<Version<Version></Version>>" + a + u"</Version>"), 1, 2).downloads,
            (std::vector<PlannedDownload>{fromA}));
  // Again and again, from the inside out.
  EXPECT_EQ(
      PlanPage(ListPage(u"<Ver<Ver<Version></Version>sion>sion>" + a + u"</Version></Version>"), 1,
               2)
          .downloads,
      (std::vector<PlannedDownload>{fromA}));

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
  EXPECT_EQ(
      nested.downloads,
      (std::vector<PlannedDownload>{
          Download(u"http://h/a.zip<Version>0000100000008http://h/b.zip", u"0000100000009.zip"),
          Download(u"http://h/b.zip", u"0000100000008.zip")}));

  // A piece of a closing tag stays in the entry.
  EXPECT_EQ(PlanPage(ListPage(u"<Version>" + a + u"</Ver</Version>sion>"), 1, 2).downloads,
            (std::vector<PlannedDownload>{Download(u"http://h/a.zip</Ver", u"0000100000009.zip")}));
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

TEST(AnsiPageText, TakesEachReadUpToItsFirstZeroByte) {
  AnsiPageText text;
  // A full read holds no terminating zero: every byte counts.
  text.Append(std::string(1024, 'a'));
  text.Append(std::string_view("abc\0def", 7));
  text.Append("ghi");
  text.Append("");
  text.Append(std::string_view("\0xyz", 4));
  EXPECT_EQ(text.Take(), std::u16string(1024, u'a') + u"abcghi");
}

// Run again under Chinese Windows (code page 936) by the Win32 tests.
TEST(AnsiPageText, JoinsACharacterSplitBetweenReadsInAMultiByteCodePage) {
  const std::u16string text = u"<a>\u4e2d\u6587\u66f4\u65b0<b>";
  const std::optional<std::string> bytes = test::AnsiBytes(text);
  if (!test::HasMultiByteCodePage(bytes && bytes->size() > text.size())) return;
  for (std::size_t cut = 0; cut <= bytes->size(); ++cut) {
    AnsiPageText page;
    page.Append(std::string_view(*bytes).substr(0, cut));
    page.Append(std::string_view(*bytes).substr(cut));
    EXPECT_EQ(page.Take(), text) << cut;
  }
}

TEST(AnsiPageText, GivesTheSamePageForAnyReadSizes) {
  std::string page = "<vlVersionList>";
  for (int i = 0; i < 200; ++i)
    page += "<Version>0000100000003http://h/0000100000003.zip</Version>";
  page += "</vlVersionList>";
  AnsiPageText whole;
  whole.Append(page);
  const std::u16string expected = whole.Take();
  ASSERT_EQ(expected.size(), page.size());
  for (std::size_t size : {1u, 7u, 1000u, 1023u, 1024u}) {
    AnsiPageText pieces;
    for (std::size_t at = 0; at < page.size(); at += size) {
      pieces.Append(std::string_view(page).substr(at, size));
    }
    EXPECT_EQ(pieces.Take(), expected) << size;
  }
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

using UpdateCheckTest = test::NetServersTest;

TEST_F(UpdateCheckTest, PlansTheListItFetchesAndNothingWhenThereIsNone) {
  std::string page = "<html>\xE4\xB8\xAD";
  // A three-byte character straddles the first 1024-byte read, right before the list.
  page.append(1022 - page.size(), ' ');
  page +=
      "\xE4\xB8\xAD<vlVersionList><Version>0000100000003http://h/a.zip</Version>"
      "</vlVersionList>";
  test::PublishedFile list(servers_.docroot, page, ".html");
  RecordingPlanner planner(1, 2);
  EXPECT_EQ(RunUpdateCheck(Utf8ToUtf16(servers_.NginxUrl(list.name())), planner, kDir), 1);
  EXPECT_EQ(planner.downloads,
            (std::vector<PlannedDownload>{Download(u"http://h/a.zip", u"0000100000003.zip")}));

  // Port 9 (discard) has no listener here: the connection is refused at once.
  RecordingPlanner none(1, 2);
  EXPECT_EQ(RunUpdateCheck(u"http://127.0.0.1:9/zip.html", none, kDir), 0);
  EXPECT_EQ(RunUpdateCheck(u"not a url", none, kDir), 0);
  EXPECT_EQ(none.versionReads, 0);
}

// However the server holds the check, it gives up at its deadline: a server that never
// answers, one that sends the list a byte at a time, a host that drops connection attempts.
TEST_F(UpdateCheckTest, GivesUpAtItsDeadlineWhateverTheServerDoes) {
  test::PublishedFile list(servers_.docroot,
                           "<vlVersionList><Version>0000100000003http://h/a.zip</Version>"
                           "</vlVersionList>",
                           ".html");
  const std::string urls[] = {
      servers_.FaultsUrl(list.name(), "stall=headers"),
      servers_.FaultsUrl(list.name(), "trickle=500"),
      "http://127.0.0.1:" + std::to_string(servers_.blackhole_port) + "/zip.html",
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    RecordingPlanner planner(1, 2);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(RunUpdateCheck(Utf8ToUtf16(url), planner, kDir, std::chrono::milliseconds(1500)), 0);
    // Far less than any of these servers would take.
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(20));
    EXPECT_TRUE(planner.downloads.empty());
  }
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// Records the downloads it is asked to start.
struct StartedDownloads {
  std::vector<std::u16string> destinations;
  DownloadQueue::Start Start() {
    return [this](const std::u16string&, const std::u16string& destination, const BodyCheck&) {
      destinations.push_back(destination);
    };
  }
};

TEST(DownloadQueue, RunsAFewAtOnceAndEndsOnceOneIsStoredOrAllEnded) {
  StartedDownloads started;
  DownloadQueue queue(started.Start(), 2);
  for (const char16_t* name : {u"a.zip", u"b.zip", u"c.zip", u"d.zip"}) {
    EXPECT_TRUE(queue.Add(u"http://h/x", name));
  }
  EXPECT_FALSE(queue.Add(u"http://h/y", u"A.ZIP")) << "one destination is fetched once";
  EXPECT_FALSE(queue.Add(u"", u"e.zip"));
  EXPECT_EQ(queue.planned(), 4u);
  EXPECT_EQ(started.destinations, (std::vector<std::u16string>{u"a.zip", u"b.zip"}));
  // One that stored nothing lets the next start.
  EXPECT_FALSE(queue.Ended(false));
  EXPECT_EQ(started.destinations.size(), 3u);
  // One that stored its archive ends the launcher; nothing more starts.
  EXPECT_TRUE(queue.Ended(true));
  EXPECT_EQ(started.destinations.size(), 3u);

  StartedDownloads failing;
  DownloadQueue dead(failing.Start(), 2);
  dead.Add(u"http://h/x", u"a.zip");
  dead.Add(u"http://h/x", u"b.zip");
  dead.Add(u"http://h/x", u"c.zip");
  EXPECT_FALSE(dead.Ended(false));
  EXPECT_FALSE(dead.Ended(false));
  EXPECT_TRUE(dead.Ended(false)) << "every one ended without storing";
}

TEST(LauncherUserAgent, NamesTheLaunchersVersionAndTheRecordedVersions) {
  test::TempDir dir;
  const std::u16string config = test::CoreText(dir.path() / "Config.ini");
  const std::u16string tarvo = u"Tarvo/" + Utf8ToUtf16(TARVO_VERSION_TEXT);
  EXPECT_EQ(LauncherUserAgent(config), tarvo);
  test::WriteFile(dir.path() / "Config.ini", "[VERSION]\r\nFirstVersion=1\r\nSecondVersion=3\r\n");
  EXPECT_EQ(LauncherUserAgent(config), tarvo + u" (1/3)");
}

// An archive stored by an earlier start and still waiting to be installed is not fetched again,
// nor one whose transfer another running launcher holds; all of them count as planned.
TEST(LauncherPlanner, DeclinesAnArchiveThatIsStillPendingOrHeldButKeepsItPlanned) {
  test::TempDir dir;
  const std::u16string directory = test::CoreText(dir.path()) + u"\\";
  StartedDownloads started;
  DownloadQueue queue(started.Start(), 4);
  LauncherPlanner planner(queue, directory);
  EXPECT_TRUE(planner.StartDownload(u"http://h/3", directory + u"UpdateZip\\0000100000003.zip"));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "UpdateZip")) << "made for it";
  test::WriteFile(dir.path() / "UpdateZip" / "0000100000004.zip", "kept for the next start");
  EXPECT_FALSE(planner.StartDownload(u"http://h/4", directory + u"UpdateZip\\0000100000004.zip"));
  const std::u16string held = directory + u"UpdateZip\\0000100000005.zip";
  {
    CFile transfer(KeptBytesPath(held).c_str(),
                   CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive);
    EXPECT_FALSE(planner.StartDownload(u"http://h/5", held));
  }
  EXPECT_EQ(started.destinations.size(), 1u);
  EXPECT_TRUE(planner.StartDownload(u"http://h/5", held)) << "once nobody holds it";
  planner.ListPlanned();
  EXPECT_EQ(ReadPlannedEntries(directory + u"UpdateZip\\"),
            (PlannedEntries{{1, 3}, {1, 4}, {1, 5}}));
}

}  // namespace
}  // namespace tarvo
