#pragma once
// The launcher dialog: never seen, its initialisation runs the whole start-up sequence.

#include <optional>

#include "app/launcher_messages.h"
#include "net/download_queue.h"
#include "platform/framework.h"

namespace tarvo {

// Where a minimised window draws its icon along one axis: centred, rounding as the signed
// integer division (extent - icon + 1) / 2 does.
int CenteredIconOffset(int clientExtent, int iconExtent);

class CTarvoDlg : public CDialog {
 public:
  // Loads the application icon (group 128) and uses dialog template 102 without a parent.
  CTarvoDlg();
  ~CTarvoDlg() override;

  // Hides the dialog and runs the start-up sequence; ends the dialog when no download started.
  // A step that fails, throwing or not, never keeps the next ones or the client from running.
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* pDX) override;

  // The hiding steps of the start-up sequence: icons set, no taskbar button, zero size at 0,0.
  void HideLauncherWindow();

 protected:
  const MessageMap* GetMessageMap() const override;

 private:
  static LRESULT OnPaint(CWnd& target, WPARAM wParam, LPARAM lParam);
  static LRESULT OnQueryDragIcon(CWnd& target, WPARAM wParam, LPARAM lParam);
  static LRESULT OnOkCommand(CWnd& target, WPARAM wParam, LPARAM lParam);
  static LRESULT OnCancelCommand(CWnd& target, WPARAM wParam, LPARAM lParam);
  static LRESULT OnDownloadFinished(CWnd& target, WPARAM wParam, LPARAM lParam);
  static const MessageMapEntry kEntries[];
  static const MessageMap kMessageMap;

  HICON m_hIcon;
  // The key updates must be signed with; nothing when they are not signed.
  std::optional<PublicKey> m_publicKey;
  // Keeps this start's downloads together under the installation's rate limit.
  std::shared_ptr<DownloadPacer> m_pacer;
  // The downloads of this start, made for the update check; the dialog ends once one stored its
  // archive or all ended.
  std::optional<DownloadQueue> m_downloads;
};

}  // namespace tarvo
