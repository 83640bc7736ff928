#include "app/tarvo_app.h"

#include "app/tarvo_dlg.h"

namespace tarvo {

namespace {

LRESULT OnHelpCommand(CWnd&, WPARAM, LPARAM) {
  if (CWinApp* app = AfxGetApp()) app->OnHelp();
  return 0;
}

constexpr MessageMapEntry kAppEntries[] = {
    {WM_COMMAND, BN_CLICKED, ID_HELP, &OnHelpCommand},
};
constexpr MessageMap kAppMessageMap = {nullptr, kAppEntries, std::size(kAppEntries)};

}  // namespace

CTarvoApp::CTarvoApp(std::string_view publicKey, std::uint32_t downloadRate,
                     const CDiskFlush& diskFlush)
    : CWinApp(nullptr), m_downloadRate(downloadRate), m_diskFlush(diskFlush) {
  // A key that does not decode trusts nothing: every update is refused rather than none checked.
  if (!publicKey.empty()) m_publicKey = DecodePublicKey(publicKey).value_or(PublicKey{});
}

CTarvoApp::~CTarvoApp() = default;

const MessageMap* CTarvoApp::GetMessageMap() const { return &kAppMessageMap; }

BOOL CTarvoApp::InitInstance() {
  CWinApp::InitInstance();
  SetRegistryKey(kRegistryKey);
  CTarvoDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}

}  // namespace tarvo
