// The framework on Win32: a real modal dialog from the resource template.

#include "platform/framework.h"
#include "platform/win32/win32_sys.h"

namespace tarvo {

struct DialogPlatform {
  // The system calls this; nothing thrown below may pass through it.
  static ::INT_PTR CALLBACK DialogProc(::HWND hWnd, ::UINT message, ::WPARAM wParam,
                                       ::LPARAM lParam) {
    try {
      return HandleMessage(hWnd, message, wParam, lParam);
    } catch (...) {
      return FALSE;
    }
  }

  static ::INT_PTR HandleMessage(::HWND hWnd, ::UINT message, ::WPARAM wParam, ::LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      auto* dialog = reinterpret_cast<CDialog*>(lParam);
      SetWindowLongPtrW(hWnd, GWLP_USERDATA, lParam);
      dialog->m_hWnd = CoreHwnd(hWnd);
      CWinApp* app = AfxGetApp();
      if (app != nullptr && app->m_pMainWnd == dialog) app->m_hMainWnd.store(CoreHwnd(hWnd));
      return dialog->OnInitDialog();
    }
    auto* dialog = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (dialog == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
      CWinApp* app = AfxGetApp();
      if (app != nullptr && app->m_hMainWnd.load() == CoreHwnd(hWnd)) {
        app->m_hMainWnd.store(nullptr);
      }
      dialog->m_hWnd = nullptr;
      SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
      return FALSE;
    }
    LRESULT result = 0;
    if (!DispatchThroughMessageMap(dialog->GetMessageMap(), *dialog, message, wParam, lParam,
                                   &result)) {
      return FALSE;
    }
    // Messages whose answer a dialog procedure returns directly; the rest go through
    // DWLP_MSGRESULT.
    if (message == WM_QUERYDRAGICON) return static_cast<::INT_PTR>(result);
    SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
  }

  static INT_PTR RunModal(CDialog& dialog) {
    dialog.m_bEnded = false;
    const ::HWND parent =
        dialog.m_pParentWnd != nullptr ? SystemHwnd(dialog.m_pParentWnd->GetSafeHwnd()) : nullptr;
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(dialog.m_nIDTemplate),
                           parent, &DialogProc, reinterpret_cast<LPARAM>(&dialog));
  }
};

INT_PTR CDialog::DoModal() { return DialogPlatform::RunModal(*this); }

void CDialog::EndDialog(int nResult) {
  m_nModalResult = nResult;
  m_bEnded = true;
  if (m_hWnd != nullptr) ::EndDialog(SystemHwnd(m_hWnd), nResult);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_hWnd == nullptr) return 0;
  return ::SendMessageW(SystemHwnd(m_hWnd), message, wParam, lParam);
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
  if (m_hWnd == nullptr) return FALSE;
  const ::HWND hWnd = SystemHwnd(m_hWnd);
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hWnd, GWL_EXSTYLE));
  const DWORD changed = (style & ~remove) | add;
  if (changed == style) return FALSE;
  SetWindowLongPtrW(hWnd, GWL_EXSTYLE, static_cast<LONG_PTR>(changed));
  if (flags != 0) {
    SetWindowPos(hWnd, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | flags);
  }
  return TRUE;
}

void CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) {
  if (m_hWnd == nullptr) return;
  ::MoveWindow(SystemHwnd(m_hWnd), x, y, width, height, repaint);
}

BOOL CWnd::IsIconic() const {
  return m_hWnd != nullptr && ::IsIconic(SystemHwnd(m_hWnd)) ? TRUE : FALSE;
}

void CWnd::GetClientRect(CRect* rect) const {
  *rect = {};
  RECT r{};
  if (m_hWnd == nullptr || !::GetClientRect(SystemHwnd(m_hWnd), &r)) return;
  *rect = {r.left, r.top, r.right, r.bottom};
}

DWORD CWnd::GetExStyle() const {
  if (m_hWnd == nullptr) return 0;
  return static_cast<DWORD>(GetWindowLongPtrW(SystemHwnd(m_hWnd), GWL_EXSTYLE));
}

CRect CWnd::GetWindowRect() const {
  RECT r{};
  if (m_hWnd == nullptr || !::GetWindowRect(SystemHwnd(m_hWnd), &r)) return {};
  return {r.left, r.top, r.right, r.bottom};
}

LRESULT CWnd::Default(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_hWnd == nullptr) return 0;
  return ::DefWindowProcW(SystemHwnd(m_hWnd), message, wParam, lParam);
}

BOOL PostMessageW(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageW(SystemHwnd(hWnd), message, wParam, lParam);
}

HICON LoadIconW(int id) {
  return reinterpret_cast<HICON>(::LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id)));
}

int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

struct CPaintDC::PaintState {
  PAINTSTRUCT paint{};
};

CPaintDC::CPaintDC(CWnd* wnd) : m_wnd(wnd), m_state(std::make_unique<PaintState>()) {
  if (m_wnd != nullptr && m_wnd->m_hWnd != nullptr) {
    m_hdc = reinterpret_cast<WPARAM>(BeginPaint(SystemHwnd(m_wnd->m_hWnd), &m_state->paint));
  }
}

CPaintDC::~CPaintDC() {
  if (m_hdc != 0) EndPaint(SystemHwnd(m_wnd->m_hWnd), &m_state->paint);
}

void CPaintDC::DrawIcon(int x, int y, HICON icon) {
  if (m_hdc != 0) ::DrawIcon(reinterpret_cast<HDC>(m_hdc), x, y, reinterpret_cast<::HICON>(icon));
}

}  // namespace tarvo
