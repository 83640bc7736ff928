#include "app/tarvo_dlg.h"

#include "app/program_paths.h"
#include "app/tarvo_app.h"
#include "config/download_rate.h"
#include "install/pending_archives.h"
#include "patch/fetched_segments.h"
#include "platform/process.h"
#include "res/resource.h"
#include "update/launcher_planner.h"
#include "update/run_update_check.h"
#include "update/user_agent.h"
#include "update/version_list_url.h"

namespace tarvo {

int CenteredIconOffset(int clientExtent, int iconExtent) {
  return (clientExtent - iconExtent + 1) / 2;
}

const MessageMapEntry CTarvoDlg::kEntries[] = {
    {WM_PAINT, 0, 0, &CTarvoDlg::OnPaint},
    {WM_QUERYDRAGICON, 0, 0, &CTarvoDlg::OnQueryDragIcon},
    {WM_COMMAND, BN_CLICKED, IDOK, &CTarvoDlg::OnOkCommand},
    {WM_COMMAND, BN_CLICKED, IDCANCEL, &CTarvoDlg::OnCancelCommand},
    {WM_DOWNLOAD_FINISHED, 0, 0, &CTarvoDlg::OnDownloadFinished},
    {WM_DOWNLOADS_STALLED, 0, 0, &CTarvoDlg::OnCancelCommand},
};

const MessageMap CTarvoDlg::kMessageMap = {&CDialog::messageMap, CTarvoDlg::kEntries,
                                           std::size(CTarvoDlg::kEntries)};

namespace {

// The key the launcher's updates must be signed with, when its application object names one.
std::optional<PublicKey> LauncherPublicKey() {
  const auto* app = dynamic_cast<const CTarvoApp*>(AfxGetApp());
  return app != nullptr ? app->publicKey() : std::nullopt;
}

// The download rate limit the launcher was built with, in KiB/s.
std::uint32_t LauncherDownloadRate() {
  const auto* app = dynamic_cast<const CTarvoApp*>(AfxGetApp());
  return app != nullptr ? app->downloadRate() : 0;
}

// How the launcher puts installed files on the disk.
const CDiskFlush& LauncherDiskFlush() {
  const auto* app = dynamic_cast<const CTarvoApp*>(AfxGetApp());
  return app != nullptr ? app->diskFlush() : PlatformDiskFlush();
}

}  // namespace

CTarvoDlg::CTarvoDlg()
    : CDialog(IDD_TARVO_DIALOG, nullptr),
      m_hIcon(LoadIconW(IDR_MAINFRAME)),
      m_publicKey(LauncherPublicKey()),
      m_pacer(std::make_shared<DownloadPacer>()) {}

CTarvoDlg::~CTarvoDlg() = default;

void CTarvoDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

const MessageMap* CTarvoDlg::GetMessageMap() const { return &kMessageMap; }

void CTarvoDlg::HideLauncherWindow() {
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  ModifyStyleEx(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW, 0);
  MoveWindow(0, 0, 0, 0, TRUE);
}

namespace {

// Runs one step of the start-up sequence; whatever it throws stays here.
template <class Step>
void RunStep(Step step) {
  try {
    step();
  } catch (...) {
    // The next step runs all the same, and the client starts.
  }
}

}  // namespace

BOOL CTarvoDlg::OnInitDialog() {
  RunStep([this] {
    CDialog::OnInitDialog();
    HideLauncherWindow();
  });

  // Without its own whole path the launcher would take another folder for the installation.
  const std::u16string directory = GetProgramDirectory();
  if (directory.empty()) {
    OnCancel();
    return TRUE;
  }

  // What the previous start downloaded is installed before anything else looks at the versions,
  // by one launcher at a time. The segments that its patches lack are fetched in this start.
  std::optional<FetchedSegments> segments;
  RunStep([&] {
    segments.emplace(directory);
    CFolderLock lock;
    if (!LockPendingArchives(directory, lock)) return;
    std::vector<std::u16string> finished;
    RunStep([&] {
      InstallPendingArchives(directory, finished, m_publicKey, &FindFiles, LauncherDiskFlush(),
                             &*segments);
    });
    RunStep([&] { DeletePendingArchives(directory, finished); });
    RunStep([&] { segments->Tidy(&FindFiles); });
  });

  // Read after the installation, which may have replaced Sys\Config.ini.
  RunStep([&] {
    const std::uint32_t rate =
        ReadDownloadRate(directory + u"Sys\\Config.ini", LauncherDownloadRate());
    m_pacer->SetRate(std::uint64_t{rate} * 1024);
  });

  // The downloads are named after the versions the installation pass left recorded.
  std::u16string agent;
  RunStep([&] {
    agent = LauncherUserAgent(directory + u"Sys\\Config.ini");
    m_downloads.emplace(m_publicKey, m_pacer, agent);
  });

  // Segments go first: an archive waiting for them holds back every later one.
  int started = 0;
  RunStep([&] {
    if (segments && m_downloads && segments->Fetch(*m_downloads) > 0) started = 1;
  });

  // Blocks until the version list has been fetched and planned, or its deadline has passed;
  // downloads run on their own.
  RunStep([&] {
    if (!m_downloads) return;
    LauncherPlanner planner(*m_downloads, directory);
    if (RunUpdateCheck(std::u16string(kVersionListUrl), planner, directory, kVersionListDeadline,
                       agent) != 0) {
      started = 1;
    }
  });

  RunStep([&] {
    const std::u16string client = directory + u"Velmora.exe";
    ShellExecuteW(nullptr, u"open", client.c_str(), u"/Show", nullptr, SW_SHOWNORMAL);
  });

  // With nothing downloading, the dialog ends as soon as initialisation returns; otherwise it
  // ends when a download has stored its archive or every download has ended.
  if (started == 0) OnCancel();
  return TRUE;
}

LRESULT CTarvoDlg::OnPaint(CWnd& target, WPARAM wParam, LPARAM lParam) {
  auto& dialog = static_cast<CTarvoDlg&>(target);
  if (!dialog.IsIconic()) return dialog.Default(WM_PAINT, wParam, lParam);
  CPaintDC dc(&dialog);
  dialog.SendMessage(WM_ICONERASEBKGND, dc.GetSafeHdc(), 0);
  const int cx = GetSystemMetrics(SM_CXICON);
  const int cy = GetSystemMetrics(SM_CYICON);
  CRect rect;
  dialog.GetClientRect(&rect);
  dc.DrawIcon(CenteredIconOffset(rect.Width(), cx), CenteredIconOffset(rect.Height(), cy),
              dialog.m_hIcon);
  return 0;
}

LRESULT CTarvoDlg::OnQueryDragIcon(CWnd& target, WPARAM, LPARAM) {
  return reinterpret_cast<LRESULT>(static_cast<CTarvoDlg&>(target).m_hIcon);
}

LRESULT CTarvoDlg::OnOkCommand(CWnd& target, WPARAM, LPARAM) {
  static_cast<CTarvoDlg&>(target).OnOK();
  return 0;
}

LRESULT CTarvoDlg::OnCancelCommand(CWnd& target, WPARAM, LPARAM) {
  static_cast<CTarvoDlg&>(target).OnCancel();
  return 0;
}

// wParam says whether the download stored its archive. A download that stored nothing lets a
// waiting one start, and ends the launcher only when it was the last.
LRESULT CTarvoDlg::OnDownloadFinished(CWnd& target, WPARAM wParam, LPARAM) {
  auto& dialog = static_cast<CTarvoDlg&>(target);
  bool done = true;
  RunStep([&] { done = !dialog.m_downloads || dialog.m_downloads->Ended(wParam != 0); });
  if (done) dialog.OnCancel();
  return 0;
}

}  // namespace tarvo
