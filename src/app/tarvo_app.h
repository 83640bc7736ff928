#pragma once
// The application object: runs the launcher dialog once and ends.

#include "platform/framework.h"

namespace tarvo {

// The registry key under which the application's profile settings would live; the launcher
// stores nothing there.
inline constexpr char16_t kRegistryKey[] = u"应用程序向导生成的本地应用程序";

class CTarvoApp : public CWinApp {
 public:
  // No name: the application is named after the executable, without extension.
  CTarvoApp();
  ~CTarvoApp() override;

  // Runs the launcher dialog modally as the main window, then returns FALSE so that no
  // message loop follows and the process ends.
  BOOL InitInstance() override;

 protected:
  const MessageMap* GetMessageMap() const override;
};

}  // namespace tarvo
