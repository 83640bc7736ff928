#include "app/tarvo_dlg.h"

#include "app/program_paths.h"
#include "install/pending_archives.h"
#include "platform/process.h"
#include "res/resource.h"
#include "update/run_update_check.h"

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
};

const MessageMap CTarvoDlg::kMessageMap = {&CDialog::messageMap, CTarvoDlg::kEntries,
                                           std::size(CTarvoDlg::kEntries)};

CTarvoDlg::CTarvoDlg() : CDialog(IDD_TARVO_DIALOG, nullptr), m_hIcon(LoadIconW(IDR_MAINFRAME)) {}

CTarvoDlg::~CTarvoDlg() = default;

void CTarvoDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

const MessageMap* CTarvoDlg::GetMessageMap() const { return &kMessageMap; }

void CTarvoDlg::HideLauncherWindow() {
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  ModifyStyleEx(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW, 0);
  MoveWindow(0, 0, 0, 0, TRUE);
}

BOOL CTarvoDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  HideLauncherWindow();

  // What the previous start downloaded is installed before anything else looks at the versions.
  InstallPendingArchives();
  DeletePendingArchives();

  // Blocks until the version list has been fetched and planned; downloads run on their own.
  const int started = RunUpdateCheck();

  const std::u16string client = GetProgramDirectory() + u"Velmora.exe";
  ShellExecuteW(nullptr, u"open", client.c_str(), u"/Show", nullptr, SW_SHOWNORMAL);

  // With nothing downloading, the dialog ends as soon as initialisation returns; otherwise the
  // first WM_DOWNLOAD_FINISHED ends it.
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

// Any completion message ends the launcher; its parameters carry nothing.
LRESULT CTarvoDlg::OnDownloadFinished(CWnd& target, WPARAM, LPARAM) {
  static_cast<CTarvoDlg&>(target).OnCancel();
  return 0;
}

}  // namespace tarvo
