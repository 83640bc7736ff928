// The download worker and the Internet layer under it, against real servers on 127.0.0.1:
// nginx for ordinary answers, tools/update_server.py for the faults.

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "app/launcher_messages.h"
#include "common/utf.h"
#include "net/download.h"
#include "net/download_pacer.h"
#include "net/transfer_activity.h"
#include "net/fetch_archive.h"
#include "net/kept_bytes.h"
#include "platform/framework.h"
#include "platform/internet.h"
#include "platform/temp_files.h"
#include "res/resource.h"
#include "support/test_servers.h"
#include "support/test_support.h"
#include "support/zip_builder.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

constexpr UINT kAllArrived = WM_USER + 1;
constexpr UINT kGaveUp = WM_USER + 2;

// The launcher in miniature: an application whose main window is a dialog made from the
// launcher's template, counting WM_DOWNLOAD_FINISHED. `start` runs during the dialog's
// initialisation, where the launcher starts its downloads. The dialog ends once `expected`
// messages have arrived, after every message queued before the last of them, or after 90 s.
class CompletionCounter : public CDialog {
 public:
  CompletionCounter(int expected, std::function<void()> start)
      : CDialog(IDD_TARVO_DIALOG), expected_(expected), start_(std::move(start)) {}

  // Called as each message arrives, with the number that arrived so far.
  std::function<void(int)> on_message;

  // Runs the dialog as the application's main window; returns each message's wParam (1 for a
  // stored archive), in the order they arrived.
  std::vector<WPARAM> Run() {
    CWinApp app;
    app.m_pMainWnd = this;
    DoModal();
    app.m_pMainWnd = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ended_ = true;
    }
    changed_.notify_all();
    if (watchdog_.joinable()) watchdog_.join();
    return stored_;
  }

  bool gave_up() const { return gave_up_; }

  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    const HWND self = GetSafeHwnd();
    watchdog_ = std::thread([this, self] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!changed_.wait_for(lock, std::chrono::seconds(90), [this] { return ended_; })) {
        PostMessageW(self, kGaveUp, 0, 0);
      }
    });
    start_();
    if (expected_ == 0) PostMessageW(self, kAllArrived, 0, 0);
    return TRUE;
  }

 protected:
  const MessageMap* GetMessageMap() const override { return &kMap; }

 private:
  static LRESULT OnFinished(CWnd& target, WPARAM wParam, LPARAM lParam) {
    auto& self = static_cast<CompletionCounter&>(target);
    EXPECT_EQ(lParam, 0);
    self.stored_.push_back(wParam);
    ++self.count_;
    if (self.on_message) self.on_message(self.count_);
    if (self.count_ == self.expected_) PostMessageW(self.GetSafeHwnd(), kAllArrived, 0, 0);
    return 0;
  }
  static LRESULT OnAllArrived(CWnd& target, WPARAM, LPARAM) {
    static_cast<CompletionCounter&>(target).EndDialog(IDOK);
    return 0;
  }
  static LRESULT OnGaveUp(CWnd& target, WPARAM, LPARAM) {
    auto& self = static_cast<CompletionCounter&>(target);
    self.gave_up_ = true;
    self.EndDialog(IDCANCEL);
    return 0;
  }
  static constexpr MessageMapEntry kEntries[] = {
      {WM_DOWNLOAD_FINISHED, 0, 0, &OnFinished},
      {kAllArrived, 0, 0, &OnAllArrived},
      {kGaveUp, 0, 0, &OnGaveUp},
  };
  static constexpr MessageMap kMap = {nullptr, kEntries, std::size(kEntries)};

  int expected_;
  std::function<void()> start_;
  int count_ = 0;
  std::vector<WPARAM> stored_;
  bool gave_up_ = false;
  std::thread watchdog_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
};

std::u16string Text(const std::string& ascii) { return Utf8ToUtf16(ascii); }

// Runs the worker's thread routine on the launcher's own thread, so that every message it
// posts is queued before the dialog looks; returns the messages' wParams.
std::vector<WPARAM> RunWorker(const std::string& url, const fs::path& destination,
                              const TransferLimits& limits = kDownloadLimits) {
  CompletionCounter counter(1, [&] {
    DownloadThreadProc(std::make_unique<DownloadRequest>(
                           DownloadRequest{Text(url), test::CoreText(destination), limits})
                           .release());
  });
  return counter.Run();
}

const std::vector<WPARAM> kStored{1};
const std::vector<WPARAM> kNotStored{0};

// A file: URL of a local file ("file:///Z:/..." under Wine).
std::string FileUrl(const fs::path& path) {
  const std::string generic = path.generic_string();
  return (generic.front() == '/' ? "file://" : "file:///") + generic;
}

// A path that the platform layer returned, as the test's file system functions take it.
fs::path SystemPath(std::u16string path) {
  std::replace(path.begin(), path.end(), u'\\', u'/');
  return fs::path(path);
}

// The part files in `folder`: a transfer leaves none behind, whatever became of it.
std::vector<std::string> PartFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) names.push_back(name);
  }
  return names;
}

class NetTest : public test::NetServersTest {
 protected:
  test::TempDir dir_;
};

TEST_F(NetTest, StoresExactlyTheArchiveThatNginxServesReplacingAnOlderOne) {
  const std::string archive = test::PatternArchive(300 * 1024 + 17);
  test::PublishedFile file(servers_.docroot, archive);
  const fs::path destination = dir_.path() / "0000100000003.zip";
  test::WriteFile(destination, "an older archive of the same name");

  EXPECT_EQ(RunWorker(servers_.NginxUrl(file.name()), destination), kStored);
  EXPECT_TRUE(test::ReadFile(destination) == archive) << "the stored bytes differ";
  EXPECT_EQ(PartFiles(dir_.path()), std::vector<std::string>{});
}

TEST_F(NetTest, StoresOnlyTheAnnouncedLengthOfALongerBody) {
  const std::string archive = test::PatternArchive(1200);
  test::PublishedFile file(servers_.docroot, archive);
  const fs::path destination = dir_.path() / "a.zip";

  EXPECT_EQ(RunWorker(servers_.FaultsUrl(file.name(), "extra=300"), destination), kStored);
  EXPECT_TRUE(test::ReadFile(destination) == archive);
}

TEST_F(NetTest, FollowsARedirectionToTheArchive) {
  const std::string archive = test::PatternArchive(5000);
  test::PublishedFile file(servers_.docroot, archive);
  const fs::path destination = dir_.path() / "a.zip";
  const std::string target = servers_.NginxUrl(file.name());

  EXPECT_EQ(RunWorker(servers_.FaultsUrl("moved.zip", "status=302&length=0&location=" + target),
                      destination),
            kStored);
  EXPECT_TRUE(test::ReadFile(destination) == archive);
}

// A download that is no archive stores what its own check accepts, and reads no body announced
// longer than it allows.
TEST_F(NetTest, ABodyThatIsNoArchiveIsStoredWhenItsCheckAcceptsIt) {
  const std::string body = "not a zip archive: a segment of a patch";
  test::PublishedFile file(servers_.docroot, body, ".zst");
  const fs::path destination = dir_.path() / "segment.zst";
  int checks = 0;
  DownloadRequest request{Utf8ToUtf16(servers_.NginxUrl(file.name())), test::CoreText(destination)};
  request.check = {body.size(), [&](const std::u16string& path) {
                     ++checks;
                     return test::ReadFile(SystemPath(path)) == body;
                   }};
  EXPECT_TRUE(FetchArchive(request));
  EXPECT_TRUE(test::ReadFile(destination) == body);
  fs::remove(destination);
  request.check.maxLength = body.size() - 1;
  EXPECT_FALSE(FetchArchive(request));
  EXPECT_EQ(checks, 1) << "a longer body is not read";
  EXPECT_FALSE(fs::exists(destination));
}

// Every way a transfer can fail: one message, no archive, no part file left, and an archive
// stored earlier under the same name stays as it was.
TEST_F(NetTest, AFailedDownloadStoresNothingAndLeavesAnOlderArchiveAlone) {
  const std::string body = test::PatternArchive(1000);
  test::PublishedFile file(servers_.docroot, body);
  // What a cafe's or hotel's network answers to every request.
  test::PublishedFile login(servers_.docroot,
                            "<html><body><form action=\"/login\">Sign in</form></body></html>",
                            ".html");
  // An end record whose central directory would start inside the item's data.
  std::string shifted = body;
  shifted[shifted.size() - 22 + 12] ^= 0x10;
  test::PublishedFile misplaced(servers_.docroot, shifted);
  const auto faults = [&](const std::string& query) {
    return servers_.FaultsUrl(file.name(), query);
  };
  const struct {
    const char* what;
    std::string url;
  } cases[] = {
      {"status 404", faults("status=404")},
      {"status 407", faults("status=407")},
      {"status 500", faults("status=500")},
      {"status 201", faults("status=201")},
      {"no Content-Length", faults("length=none")},
      {"Content-Length 0", faults("length=0")},
      {"negative Content-Length", faults("length=-1000")},
      {"Content-Length not a number", faults("length=abc")},
      {"Content-Length beyond 32 bits", faults("length=4294968296")},
      {"body ends after 600 of 1000 bytes", faults("short=600")},
      {"connection reset after 600 of 1000 bytes", faults("drop=600")},
      {"Content-Length 2000, body of 1000", faults("length=2000")},
      {"Content-Length 1000, chunked body of 600", faults("chunked=1&short=600")},
      {"connection refused", "http://127.0.0.1:1/a.zip"},
      {"not HTTP", FileUrl(servers_.docroot / file.name())},
      {"malformed URL", "http://[127.0.0.1/a.zip"},
      {"a login page instead of the archive", servers_.NginxUrl(login.name())},
      {"a central directory elsewhere than the end record says",
       servers_.NginxUrl(misplaced.name())},
  };
  for (const auto& failure : cases) {
    SCOPED_TRACE(failure.what);
    const fs::path fresh = dir_.path() / "fresh.zip";
    EXPECT_EQ(RunWorker(failure.url, fresh), kNotStored);
    EXPECT_FALSE(fs::exists(fresh));

    const fs::path older = dir_.path() / "older.zip";
    test::WriteFile(older, "stored earlier");
    EXPECT_EQ(RunWorker(failure.url, older), kNotStored);
    EXPECT_EQ(test::ReadFile(older), "stored earlier");
    EXPECT_EQ(PartFiles(dir_.path()), std::vector<std::string>{});
  }
}

TEST_F(NetTest, ADestinationFolderThatDoesNotExistStoresNothingAndStillPosts) {
  test::PublishedFile file(servers_.docroot, test::PatternArchive(1000));
  const fs::path destination = dir_.path() / "UpdateZip" / "a.zip";
  EXPECT_EQ(RunWorker(servers_.NginxUrl(file.name()), destination), kNotStored);
  EXPECT_FALSE(fs::exists(dir_.path() / "UpdateZip"));
}

TEST_F(NetTest, TwoWorkersStartedTogetherEachPostTheirOwnMessageOnceTheirArchiveIsComplete) {
  const std::string first = test::PatternArchive(200 * 1024);
  const std::string second = test::PatternArchive(100 * 1024 + 1);
  test::PublishedFile first_file(servers_.docroot, first);
  test::PublishedFile second_file(servers_.docroot, second);
  const fs::path first_destination = dir_.path() / "0000100000003.zip";
  const fs::path second_destination = dir_.path() / "0000100000004.zip";
  const auto complete = [&] {
    return int{test::ReadFile(first_destination) == first} +
           int{test::ReadFile(second_destination) == second};
  };

  CompletionCounter counter(2, [&] {
    StartDownload(Text(servers_.NginxUrl(first_file.name())), test::CoreText(first_destination));
    StartDownload(Text(servers_.FaultsUrl(second_file.name())), test::CoreText(second_destination));
  });
  // A worker posts only after its archive is in place.
  counter.on_message = [&](int arrived) { EXPECT_GE(complete(), arrived); };
  EXPECT_EQ(counter.Run(), (std::vector<WPARAM>{1, 1}));
  EXPECT_FALSE(counter.gave_up());
  EXPECT_EQ(complete(), 2);
}

TEST_F(NetTest, AnEmptyUrlStartsNoWorkerAndNoMessageFollows) {
  const std::string archive = test::PatternArchive(1000);
  test::PublishedFile file(servers_.docroot, archive);
  const fs::path ignored = dir_.path() / "ignored.zip";
  const fs::path wanted = dir_.path() / "wanted.zip";

  // A worker for the empty URL would fail at once and post before the real one.
  CompletionCounter counter(1, [&] {
    StartDownload(u"", test::CoreText(ignored));
    StartDownload(Text(servers_.NginxUrl(file.name())), test::CoreText(wanted));
  });
  EXPECT_EQ(counter.Run(), kStored);
  EXPECT_TRUE(test::ReadFile(wanted) == archive);
  EXPECT_FALSE(fs::exists(ignored));
  EXPECT_EQ(PartFiles(dir_.path()), std::vector<std::string>{});
}

// A server that sends a byte at a time: the watcher gives the transfer up once it stays below
// its rate for a window, and reports its end at once, however long the worker's read blocks.
// (The launcher's rate is 60 KiB a minute; here 60 KiB a second.)
TEST_F(NetTest, ATrickleIsGivenUpAndItsEndReportedWhateverTheReadDoes) {
  // The Internet client is set up here rather than on the worker, which may still be unwinding
  // when the test ends: what the setup keeps per thread would then count as leaked.
  CInternetSession setup;
  test::PublishedFile file(servers_.docroot, test::PatternArchive(5000));
  const fs::path destination = dir_.path() / "0000100000003.zip";
  const TransferLimits limits{std::chrono::milliseconds(0), std::chrono::seconds(1), 60 * 1024};
  const auto began = std::chrono::steady_clock::now();
  CompletionCounter counter(1, [&] {
    StartDownload(
        {Text(servers_.FaultsUrl(file.name(), "trickle=300")), test::CoreText(destination), limits},
        &CreateThread);
  });
  EXPECT_EQ(counter.Run(), kNotStored);
  EXPECT_FALSE(counter.gave_up());
  EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(30));
  EXPECT_FALSE(fs::exists(destination));
}

TEST_F(NetTest, AWorkerThatCannotStartPostsItsMessageAtOnce) {
  test::PublishedFile file(servers_.docroot, test::PatternArchive(1000));
  const fs::path destination = dir_.path() / "a.zip";
  CompletionCounter counter(1, [&] {
    StartDownload({Text(servers_.NginxUrl(file.name())), test::CoreText(destination)},
                  [](LPTHREAD_START_ROUTINE, void*) -> BOOL { return FALSE; });
  });
  EXPECT_EQ(counter.Run(), kNotStored);
  EXPECT_FALSE(counter.gave_up());
  EXPECT_FALSE(fs::exists(destination));
}

TEST_F(NetTest, TheRequestIsAGetNamingTheExecutable) {
  CInternetSession session;
  const auto request = session.OpenURL(Text(servers_.FaultsUrl("echo.zip", "echo=1")).c_str());
  std::string head;
  char piece[512];
  while (const UINT got = request->Read(piece, sizeof(piece))) head.append(piece, got);
  EXPECT_EQ(head.rfind("GET /echo.zip?echo=1 HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nUser-Agent: tarvo_unit_tests\r\n"), std::string::npos) << head;
}

// Four transfers reading as fast as the pacer lets them, on a clock of the test's own: together
// they take the time the rate gives, and no 2 s window carries more than 1.25 times the rate,
// also after all of them paused for a while.
TEST(DownloadPacer, KeepsTransfersTogetherUnderTheRateAndSmooth) {
  using Clock = DownloadPacer::Clock;
  using std::chrono::milliseconds;
  const Clock::time_point start{};
  for (const std::uint64_t kib : {1, 16, 2048, 65536}) {
    for (const bool pause : {false, true}) {
      const std::uint64_t rate = kib * 1024;
      DownloadPacer pacer(rate);
      std::vector<Clock::time_point> ready(4, start);
      std::vector<std::pair<Clock::time_point, std::uint64_t>> reads;
      std::uint64_t received = 0;
      bool paused = !pause;
      while (received < rate * 40) {
        const auto next = std::min_element(ready.begin(), ready.end());
        if (!paused && *next - start >= std::chrono::seconds(20)) {
          paused = true;
          for (Clock::time_point& t : ready) t += std::chrono::seconds(5);
          continue;
        }
        const std::uint32_t piece = pacer.Piece(8192);
        ASSERT_LE(piece, std::max<std::uint64_t>(rate / 8, DownloadPacer::kMinPiece)) << kib;
        const Clock::time_point read = std::max(*next, pacer.Reserve(piece, *next));
        reads.emplace_back(read, piece);
        received += piece;
        *next = read + milliseconds(1) / 10;
      }
      if (!pause) {
        const double seconds = std::chrono::duration<double>(reads.back().first - start).count() +
                               static_cast<double>(reads.back().second) / static_cast<double>(rate);
        EXPECT_NEAR(seconds, 40.0, 0.5) << kib << " KiB/s";
      }
      std::uint64_t inWindow = 0, most = 0;
      for (std::size_t first = 0, last = 0; first < reads.size();
           inWindow -= reads[first++].second) {
        for (; last < reads.size() && reads[last].first - reads[first].first < milliseconds(2000);
             ++last) {
          inWindow += reads[last].second;
        }
        most = std::max(most, inWindow);
      }
      EXPECT_LE(most, rate * 2 * 5 / 4) << kib << " KiB/s" << (pause ? ", paused" : "");
    }
  }
  DownloadPacer unlimited;
  EXPECT_EQ(unlimited.Piece(8192), 8192u);
  EXPECT_EQ(unlimited.Reserve(1 << 30, start), start);
  // What a read was granted and the line did not bring goes back: a trickle is never held.
  DownloadPacer slow(1024);
  const std::uint32_t piece = slow.Piece(8192);
  EXPECT_EQ(slow.Reserve(piece, start), start);
  slow.Return(piece - 1);
  EXPECT_LE(slow.Reserve(piece, start + milliseconds(2)), start + milliseconds(2));
}

// Once transfers run and none has received anything for the limit, the launcher hears of it,
// once, from the watch's own thread.
TEST(TransferActivity, TellsOnceWhenTheRunningTransfersReceiveNothing) {
  std::promise<void> told;
  std::atomic<int> calls{0};
  {
    TransferActivity activity(std::chrono::milliseconds(100), [&] {
      if (calls++ == 0) told.set_value();
    });
    activity.Started();
    activity.Received();
    told.get_future().wait();
    activity.Ended();
  }
  EXPECT_EQ(calls, 1);
}

// Time a transfer is held by the pacer is not the server's: a transfer held for five windows is
// not given up, one that then receives nothing is. A deadline counts all time, and giving up
// wakes a transfer from its hold.
TEST(TransferGuard, TimeHeldIsNotCountedAgainstTheServer) {
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  const auto watch = [](const std::shared_ptr<TransferGuard>& guard) {
    return std::async(std::launch::async, [guard] { return guard->Watch(); });
  };
  const auto slow = TransferGuard::Make({milliseconds(0), milliseconds(200), 1}, nullptr, 1);
  auto slowVerdict = watch(slow);
  EXPECT_TRUE(slow->Hold(Clock::now() + milliseconds(1000)));
  EXPECT_EQ(slowVerdict.get(), TransferGuard::Verdict::kGivenUp);
  EXPECT_FALSE(slow->Finish());

  const auto late = TransferGuard::Make({milliseconds(200), milliseconds(0), 0}, nullptr, 1);
  auto lateVerdict = watch(late);
  EXPECT_FALSE(late->Hold(Clock::now() + std::chrono::hours(1)));
  EXPECT_EQ(lateVerdict.get(), TransferGuard::Verdict::kGivenUp);
}

TEST(UsableContentLength, TakesPositiveDecimalLengthsBelowTheSigned64BitLimit) {
  EXPECT_EQ(UsableContentLength(u"1000"), 1000u);
  EXPECT_EQ(UsableContentLength(u" \t+42"), 42u);
  EXPECT_EQ(UsableContentLength(u"12abc"), 12u);
  EXPECT_EQ(UsableContentLength(u"2147483648"), 2147483648u);
  EXPECT_EQ(UsableContentLength(u"5368709120"), 5368709120u);    // 5 GiB
  EXPECT_EQ(UsableContentLength(u"68719476736"), 68719476736u);  // 64 GiB
  EXPECT_EQ(UsableContentLength(u"9223372036854775806"), 9223372036854775806u);
  for (const char16_t* refused :
       {u"", u"abc", u"0", u"-0", u"-5", u"- 5", u"-5368709120", u"9223372036854775807",
        u"18446744073709551617", u"99999999999999999999999"}) {
    EXPECT_FALSE(UsableContentLength(refused)) << Utf16ToUtf8(refused);
  }
}

TEST(KeptBytes, ValidatorsAreStrongETagsElseDatesThatCanBeSentBack) {
  const std::u16string date = u"Wed, 09 Dec 2026 10:00:00 GMT";
  EXPECT_EQ(ChooseValidator(u"\"5f-1a\"", date), (Validator{true, "\"5f-1a\""}));
  EXPECT_EQ(ChooseValidator(u"W/\"5f\"", date), (Validator{false, Utf16ToUtf8(date)}));
  EXPECT_EQ(ChooseValidator(u"", date), (Validator{false, Utf16ToUtf8(date)}));
  EXPECT_EQ(ChooseValidator(u"\"a\r\nX: y\"", u""), std::nullopt);
  EXPECT_EQ(ChooseValidator(u"\"\u00e9\"", u""), std::nullopt);
  EXPECT_EQ(ChooseValidator(u"W/\"5f\"", u""), std::nullopt);
  EXPECT_EQ(ChooseValidator(std::u16string(201, u'a'), u""), std::nullopt);

  EXPECT_EQ(ResumeHeaders(5368709120u, Validator{true, "\"v\""}),
            u"Range: bytes=5368709120-\r\nIf-Range: \"v\"\r\n");
  EXPECT_EQ(ChangedHeaders(Validator{true, "\"v\""}), u"If-None-Match: \"v\"\r\n");
  EXPECT_EQ(ChangedHeaders(Validator{false, "d"}), u"If-Modified-Since: d\r\n");

  // Only the exact rest of the kept length counts.
  EXPECT_TRUE(ContentRangeIs(u"bytes 100-999/1000", 100, 1000));
  EXPECT_TRUE(ContentRangeIs(u"bytes 4294967296-5368709119/5368709120", 4294967296u, 5368709120u));
  for (const char16_t* other :
       {u"bytes 100-998/1000", u"bytes 0-999/1000", u"bytes 100-999/*", u"bytes 100-1000/1001",
        u"bytes  100-999/1000", u"BYTES 100-999/1000", u"bytes 0100-999/1000", u""}) {
    EXPECT_FALSE(ContentRangeIs(other, 100, 1000)) << Utf16ToUtf8(other);
  }
  EXPECT_FALSE(ContentRangeIs(u"bytes 1000-999/1000", 1000, 1000));
}

TEST(KeptBytes, RecordsReadBackOnlyAsWritten) {
  for (const KeptRecord& record : {KeptRecord{{true, "\"5f-1a\""}, 5368709120u, false},
                                   KeptRecord{{false, "Wed, 09 Dec 2026 10:00:00 GMT"}, 1, true}}) {
    const std::string text = FormatKeptRecord(record);
    EXPECT_EQ(ParseKeptRecord(text), record) << text;
    // Cut short while it was written, or spoilt.
    for (std::size_t size = 0; size < text.size(); ++size) {
      EXPECT_EQ(ParseKeptRecord(text.substr(0, size)), std::nullopt) << size;
    }
  }
  for (const char* spoilt :
       {"TARVO-KEPT-1\nlength=0\netag=\"a\"\nend\n", "TARVO-KEPT-1\nlength=-1\netag=\"a\"\nend\n",
        "TARVO-KEPT-1\nlength=01\netag=\"a\"\nend\n", "TARVO-KEPT-1\nlength=1\nend\n",
        "TARVO-KEPT-1\nlength=1\netag=W/\"a\"\nend\n", "TARVO-KEPT-1\netag=\"a\"\nend\n",
        "TARVO-KEPT-1\nlength=9223372036854775808\netag=\"a\"\nend\n",
        "TARVO-KEPT-1\nlength=1\nlength=2\netag=\"a\"\nend\n",
        "TARVO-KEPT-1\nlength=1\netag=\"a\"\nrefused=no\nend\n",
        "TARVO-KEPT-2\nlength=1\netag=\"a\"\nend\n"}) {
    EXPECT_EQ(ParseKeptRecord(spoilt), std::nullopt) << spoilt;
  }
}

TEST(MakeTempFileName, CreatesANewEmptyFileInTheTemporaryFolder) {
  char16_t folder[MAX_PATH] = {};
  const DWORD length = GetTempPathW(MAX_PATH, folder);
  ASSERT_GT(length, 0u);
  ASSERT_EQ(folder[length - 1], u'\\');

  const std::u16string first = MakeTempFileName();
  const std::u16string second = MakeTempFileName();
  for (const auto& name : {first, second}) {
    ASSERT_EQ(name.rfind(folder, 0), 0u) << Utf16ToUtf8(name);
    const std::u16string file = name.substr(length);
    EXPECT_EQ(file.rfind(u"vl", 0), 0u) << Utf16ToUtf8(file);
    EXPECT_EQ(file.find(u'\\'), std::u16string::npos);
    EXPECT_TRUE(fs::exists(SystemPath(name)) && fs::file_size(SystemPath(name)) == 0);
  }
  EXPECT_NE(first, second);
  fs::remove(SystemPath(first));
  fs::remove(SystemPath(second));
}

// The Internet layer on its own.

TEST_F(NetTest, ReadsReturnNoMoreThanAskedAndTheWholeBody) {
  const std::string body = test::PatternBytes(200 * 1024 + 5);
  test::PublishedFile file(servers_.docroot, body);
  CInternetSession session(u"probe");
  const auto request = session.OpenURL(Text(servers_.NginxUrl(file.name())).c_str(), 1,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_TRANSFER_BINARY);
  std::u16string status, length;
  EXPECT_TRUE(request->QueryInfo(HTTP_QUERY_STATUS_CODE, status));
  EXPECT_EQ(status, u"200");
  EXPECT_TRUE(request->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, length));
  EXPECT_EQ(length, u"204805");

  std::string received;
  std::vector<char> buffer(70000);
  const UINT sizes[] = {1, 7, 1024, 8192, 65536, 3};
  for (std::size_t i = 0;; ++i) {
    const UINT asked = sizes[i % std::size(sizes)];
    const UINT got = request->Read(buffer.data(), asked);
    ASSERT_LE(got, asked);
    if (got == 0) break;
    received.append(buffer.data(), got);
  }
  EXPECT_TRUE(received == body);
  EXPECT_EQ(request->Read(buffer.data(), 10), 0u);
  EXPECT_EQ(request->GetLength(), 0u);
}

TEST_F(NetTest, GetLengthTellsWhatCanBeReadAndZeroAtTheEnd) {
  const std::string body = test::PatternBytes(3000);
  test::PublishedFile file(servers_.docroot, body);
  CInternetSession session;
  const auto request = session.OpenURL(Text(servers_.FaultsUrl(file.name())).c_str());
  std::string received;
  while (const DWORD available = request->GetLength()) {
    std::vector<char> block(available);
    const UINT got = request->Read(block.data(), available);
    ASSERT_GT(got, 0u);
    received.append(block.data(), got);
  }
  EXPECT_TRUE(received == body);
}

TEST_F(NetTest, QueryInfoGivesStatusTextsAndNothingForAnAbsentLength) {
  CInternetSession session;
  const auto missing = session.OpenURL(Text(servers_.NginxUrl("no-such-file.zip")).c_str());
  std::u16string status = u"x";
  EXPECT_TRUE(missing->QueryInfo(HTTP_QUERY_STATUS_CODE, status));
  EXPECT_EQ(status, u"404");

  const auto unsized = session.OpenURL(Text(servers_.FaultsUrl("x.zip", "length=none")).c_str());
  std::u16string length = u"x";
  EXPECT_FALSE(unsized->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, length));
  EXPECT_EQ(length, u"");
}

TEST_F(NetTest, AClosedRequestReadsNoMore) {
  test::PublishedFile file(servers_.docroot, test::PatternBytes(1000));
  CInternetSession session;
  const auto request = session.OpenURL(Text(servers_.NginxUrl(file.name())).c_str());
  session.Close();  // a request outlives its session
  char byte = 0;
  EXPECT_EQ(request->Read(&byte, 1), 1u);
  request->Close();
  request->Close();
  EXPECT_THROW(request->Read(&byte, 1), CInternetException);
  std::u16string status;
  EXPECT_FALSE(request->QueryInfo(HTTP_QUERY_STATUS_CODE, status));
}

}  // namespace
}  // namespace tarvo
