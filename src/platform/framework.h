#pragma once
// Application and dialog framework: the application object, windows with message maps, the
// modal dialog and message posting.
//
// Win32: a real dialog from a resource template, run by DialogBoxParamW.
// POSIX: a thread-safe message queue per window and a modal loop on the calling thread;
// SIGINT and SIGTERM reach the running modal dialog as the command IDCANCEL.

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

#include "platform/types.h"

namespace tarvo {

class CWnd;

// One row of a message map. For WM_COMMAND the row also names the notification code and the
// control id that it takes; other messages ignore both.
struct MessageMapEntry {
  UINT message;
  UINT code;
  UINT id;
  LRESULT (*handler)(CWnd& target, WPARAM wParam, LPARAM lParam);
};

// A message map: its rows, searched in order, then its base map's.
struct MessageMap {
  const MessageMap* base;
  const MessageMapEntry* entries;
  std::size_t count;
};

// Finds the row of `map` (or of its bases) that takes the message, calls its handler and
// stores its result. Returns false when no row takes the message.
bool DispatchThroughMessageMap(const MessageMap* map, CWnd& target, UINT message, WPARAM wParam,
                               LPARAM lParam, LRESULT* result);

struct CRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// A window of the framework. Only what the launcher uses.
class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd() = default;

  HWND GetSafeHwnd() const { return m_hWnd; }

  // Sends a message to this window and returns the window's answer (0 without a window).
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  // Changes the extended style: removes the bits of `remove`, adds those of `add`.
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);
  // Places the window at x, y with the given size.
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
  // True while the window is minimised. Never on POSIX, which shows no windows.
  BOOL IsIconic() const;
  void GetClientRect(CRect* rect) const;
  // The extended style and the window rectangle, as the system reports them (for tests).
  DWORD GetExStyle() const;
  CRect GetWindowRect() const;

  // Runs the message through the window's message map; what no row takes goes to Default.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hWnd = nullptr;

 protected:
  virtual const MessageMap* GetMessageMap() const { return nullptr; }
  // The system's own handling of a message that the map does not take (painting included).
  virtual LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
};

class CDataExchange;

// A modal dialog made from a dialog template.
class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Creates the dialog, runs OnInitDialog, then dispatches messages until EndDialog. Returns
  // the value given to EndDialog, or -1 when the dialog cannot be created.
  virtual INT_PTR DoModal();
  // Called once the window exists, before any queued message is dispatched.
  virtual BOOL OnInitDialog();
  // Ends the dialog with IDOK (no data is exchanged by this framework).
  virtual void OnOK();
  // Ends the dialog with IDCANCEL.
  virtual void OnCancel();
  virtual void DoDataExchange(CDataExchange* pDX);
  // Marks the dialog to end with `nResult` once the current message (or OnInitDialog) returns.
  void EndDialog(int nResult);

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;

  // The dialog's own message map (IDOK and IDCANCEL), the base of derived dialogs' maps.
  static const MessageMap messageMap;

 protected:
  const MessageMap* GetMessageMap() const override;

 private:
  friend struct DialogPlatform;
  bool m_bEnded = false;
  int m_nModalResult = -1;
};

// The application object. Exactly one exists while the program runs; it registers itself on
// construction.
class CWinApp {
 public:
  // Without a name the application takes the executable's file name without extension.
  explicit CWinApp(const char16_t* pszAppName = nullptr);
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp();

  // Returns TRUE to run a message loop afterwards, FALSE to end the application.
  virtual BOOL InitInstance();
  // Names the registry key under which the application's profile settings would live.
  void SetRegistryKey(const char16_t* pszRegistryKey);
  // The framework's own help command handler; there is no help to show.
  void OnHelp() {}

  // The main window's system handle while it exists, else null. Safe from any thread.
  HWND GetMainWndHandle() const { return m_hMainWnd.load(); }

  std::u16string m_pszAppName;
  std::u16string m_pszRegistryKey;
  CWnd* m_pMainWnd = nullptr;

 protected:
  virtual const MessageMap* GetMessageMap() const { return nullptr; }

 private:
  friend struct DialogPlatform;
  std::atomic<HWND> m_hMainWnd{nullptr};
};

// The application object, or null when none exists.
CWinApp* AfxGetApp();

// The application object's name; without one, the executable's file name without folder and
// extension.
std::u16string AfxGetAppName();

// Runs the application object: its InitInstance, and nothing after it (the launcher keeps no
// message loop of its own). Returns the process's exit status.
int AfxRunApplication();

// Queues a message for a window from any thread. False when the window no longer exists.
BOOL PostMessageW(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Loads icon `id` from the application's resources; null when there is none.
HICON LoadIconW(int id);

int GetSystemMetrics(int index);

// A paint context for one WM_PAINT of a window.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  ~CPaintDC();

  // The context as a message parameter (for WM_ICONERASEBKGND).
  WPARAM GetSafeHdc() const { return m_hdc; }
  void DrawIcon(int x, int y, HICON icon);

 private:
  struct PaintState;
  [[maybe_unused]] CWnd* m_wnd;
  WPARAM m_hdc = 0;
  std::unique_ptr<PaintState> m_state;
};

}  // namespace tarvo
