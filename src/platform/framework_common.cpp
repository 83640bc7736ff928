// The parts of the framework that are the same on every system: message maps, the dialog's
// commands, the application object's registration and name.

#include <algorithm>

#include "platform/files.h"
#include "platform/framework.h"

namespace tarvo {

namespace {

CWinApp* g_app = nullptr;

LRESULT OnDialogOk(CWnd& target, WPARAM, LPARAM) {
  static_cast<CDialog&>(target).OnOK();
  return 0;
}

LRESULT OnDialogCancel(CWnd& target, WPARAM, LPARAM) {
  static_cast<CDialog&>(target).OnCancel();
  return 0;
}

constexpr MessageMapEntry kDialogEntries[] = {
    {WM_COMMAND, BN_CLICKED, IDOK, &OnDialogOk},
    {WM_COMMAND, BN_CLICKED, IDCANCEL, &OnDialogCancel},
};

// The executable's file name without folder and extension.
std::u16string ExecutableTitle() {
  char16_t path[1024] = {};
  GetModuleFileNameW(nullptr, path, 1024);
  std::u16string name(path);
  const auto slash = name.find_last_of(u"\\/");
  if (slash != std::u16string::npos) name.erase(0, slash + 1);
  const auto dot = name.rfind(u'.');
  if (dot != std::u16string::npos) name.erase(dot);
  return name;
}

}  // namespace

bool DispatchThroughMessageMap(const MessageMap* map, CWnd& target, UINT message, WPARAM wParam,
                               LPARAM lParam, LRESULT* result) {
  for (; map != nullptr; map = map->base) {
    for (std::size_t i = 0; i < map->count; ++i) {
      const MessageMapEntry& entry = map->entries[i];
      if (entry.message != message) continue;
      if (message == WM_COMMAND && (entry.code != HIWORD(wParam) || entry.id != LOWORD(wParam))) {
        continue;
      }
      *result = entry.handler(target, wParam, lParam);
      return true;
    }
  }
  return false;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DispatchThroughMessageMap(GetMessageMap(), *this, message, wParam, lParam, &result)) {
    return result;
  }
  return Default(message, wParam, lParam);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() { EndDialog(IDOK); }

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

const MessageMap CDialog::messageMap = {nullptr, kDialogEntries, std::size(kDialogEntries)};

const MessageMap* CDialog::GetMessageMap() const { return &messageMap; }

CWinApp::CWinApp(const char16_t* pszAppName)
    : m_pszAppName(pszAppName != nullptr ? std::u16string(pszAppName) : ExecutableTitle()) {
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

void CWinApp::SetRegistryKey(const char16_t* pszRegistryKey) { m_pszRegistryKey = pszRegistryKey; }

CWinApp* AfxGetApp() { return g_app; }

std::u16string AfxGetAppName() {
  return g_app != nullptr ? g_app->m_pszAppName : ExecutableTitle();
}

int AfxRunApplication() {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return 1;
  app->InitInstance();
  return 0;
}

}  // namespace tarvo
