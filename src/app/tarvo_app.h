#pragma once
// The application object: runs the launcher dialog once and ends.

#include <optional>
#include <string_view>

#include "platform/framework.h"
#include "unzip/archive_signature.h"

namespace tarvo {

// The registry key under which the application's profile settings would live; the launcher
// stores nothing there.
inline constexpr char16_t kRegistryKey[] = u"应用程序向导生成的本地应用程序";

class CTarvoApp : public CWinApp {
 public:
  // No name: the application is named after the executable, without extension. `publicKey` is
  // the key that updates must be signed with (base64 of 32 bytes, archive_signature.h), or
  // empty when updates are not signed.
  explicit CTarvoApp(std::string_view publicKey = {});
  ~CTarvoApp() override;

  // The key updates must be signed with; nothing when they are not signed.
  const std::optional<PublicKey>& publicKey() const { return m_publicKey; }

  // Runs the launcher dialog modally as the main window, then returns FALSE so that no
  // message loop follows and the process ends.
  BOOL InitInstance() override;

 protected:
  const MessageMap* GetMessageMap() const override;

 private:
  std::optional<PublicKey> m_publicKey;
};

}  // namespace tarvo
