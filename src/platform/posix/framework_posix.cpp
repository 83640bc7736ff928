// The framework on POSIX: no windows are shown. A window is a message queue; a modal dialog
// runs OnInitDialog and then dispatches its queue on the calling thread until it ends.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "platform/framework.h"

namespace tarvo {

struct QueuedMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// A window: its queue and the little window state that the launcher sets.
struct HWND__ {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<QueuedMessage> queue;
  DWORD exStyle = WS_EX_APPWINDOW;
  CRect rect;
};

namespace {

// Every live window, so that a post to a window that has ended fails instead of touching
// freed memory; and the innermost running modal dialog, which receives SIGINT and SIGTERM.
struct WindowRegistry {
  std::mutex mutex;
  std::set<HWND> windows;
  HWND modal = nullptr;
};

WindowRegistry& Registry() {
  static WindowRegistry registry;
  return registry;
}

void PostLocked(HWND hWnd, const QueuedMessage& message) {
  {
    std::lock_guard<std::mutex> lock(hWnd->mutex);
    hWnd->queue.push_back(message);
  }
  hWnd->ready.notify_one();
}

// SIGINT and SIGTERM are blocked in the thread that runs dialogs (and so in every thread it
// starts later) and taken by one watcher thread, which turns them into IDCANCEL.
void WatchTerminationSignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
      for (;;) {
        int signal_number = 0;
        if (sigwait(&set, &signal_number) != 0) continue;
        WindowRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        if (registry.modal == nullptr) std::_Exit(128 + signal_number);
        PostLocked(registry.modal, {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0});
      }
    }).detach();
  });
}

}  // namespace

struct DialogPlatform {
  static INT_PTR RunModal(CDialog& dialog) {
    WatchTerminationSignals();
    WindowRegistry& registry = Registry();
    auto window = std::make_unique<HWND__>();
    const HWND hWnd = window.get();
    HWND outer_modal = nullptr;
    {
      std::lock_guard<std::mutex> lock(registry.mutex);
      registry.windows.insert(hWnd);
      outer_modal = registry.modal;
      registry.modal = hWnd;
    }
    dialog.m_hWnd = hWnd;
    dialog.m_bEnded = false;
    dialog.m_nModalResult = -1;
    CWinApp* app = AfxGetApp();
    const bool is_main = app != nullptr && app->m_pMainWnd == &dialog;
    if (is_main) app->m_hMainWnd.store(hWnd);

    // As on Win32, where the system's dialog procedure stands in between, nothing a handler
    // throws leaves the modal loop.
    try {
      dialog.OnInitDialog();
    } catch (...) {
    }
    while (!dialog.m_bEnded) {
      QueuedMessage message;
      {
        std::unique_lock<std::mutex> lock(hWnd->mutex);
        hWnd->ready.wait(lock, [hWnd] { return !hWnd->queue.empty(); });
        message = hWnd->queue.front();
        hWnd->queue.pop_front();
      }
      try {
        dialog.WindowProc(message.message, message.wParam, message.lParam);
      } catch (...) {
      }
    }

    if (is_main) app->m_hMainWnd.store(nullptr);
    {
      std::lock_guard<std::mutex> lock(registry.mutex);
      registry.windows.erase(hWnd);
      registry.modal = outer_modal;
    }
    dialog.m_hWnd = nullptr;
    return dialog.m_nModalResult;
  }
};

INT_PTR CDialog::DoModal() { return DialogPlatform::RunModal(*this); }

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_bEnded = true;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_hWnd == nullptr) return 0;
  return WindowProc(message, wParam, lParam);
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
  if (m_hWnd == nullptr) return FALSE;
  m_hWnd->exStyle = (m_hWnd->exStyle & ~remove) | add;
  return TRUE;
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL) {
  if (m_hWnd == nullptr) return;
  m_hWnd->rect = {x, y, x + width, y + height};
}

BOOL CWnd::IsIconic() const { return FALSE; }

void CWnd::GetClientRect(CRect* rect) const {
  *rect = {};
  if (m_hWnd == nullptr) return;
  rect->right = m_hWnd->rect.Width();
  rect->bottom = m_hWnd->rect.Height();
}

DWORD CWnd::GetExStyle() const { return m_hWnd != nullptr ? m_hWnd->exStyle : 0; }

CRect CWnd::GetWindowRect() const { return m_hWnd != nullptr ? m_hWnd->rect : CRect{}; }

LRESULT CWnd::Default(UINT, WPARAM, LPARAM) { return 0; }

BOOL PostMessageW(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.windows.count(hWnd) == 0) return FALSE;
  PostLocked(hWnd, {message, wParam, lParam});
  return TRUE;
}

HICON LoadIconW(int) { return nullptr; }

int GetSystemMetrics(int index) { return index == SM_CXICON || index == SM_CYICON ? 32 : 0; }

struct CPaintDC::PaintState {};

CPaintDC::CPaintDC(CWnd* wnd) : m_wnd(wnd) {}

CPaintDC::~CPaintDC() = default;

void CPaintDC::DrawIcon(int, int, HICON) {}

}  // namespace tarvo
