#pragma once
// The application object: runs the launcher dialog once and ends.

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/framework.h"
#include "platform/disk_flush.h"
#include "unzip/archive_signature.h"

namespace tarvo {

// The registry key under which the application's profile settings would live; the launcher
// stores nothing there.
inline constexpr char16_t kRegistryKey[] = u"应用程序向导生成的本地应用程序";

class CTarvoApp : public CWinApp {
 public:
  // No name: the application is named after the executable, without extension. `publicKey` is
  // the key that updates must be signed with (base64 of 32 bytes, archive_signature.h), or
  // empty when updates are not signed; `downloadRate` the build's download rate limit in KiB/s
  // (0: none), which an installation's Sys\Config.ini may override (download_rate.h).
  // `diskFlush` puts installed files on the disk; a launcher built to measure what that costs
  // is given NoDiskFlush().
  explicit CTarvoApp(std::string_view publicKey = {}, std::uint32_t downloadRate = 0,
                     const CDiskFlush& diskFlush = PlatformDiskFlush());
  ~CTarvoApp() override;

  // The key updates must be signed with; nothing when they are not signed.
  const std::optional<PublicKey>& publicKey() const { return m_publicKey; }
  // The build's download rate limit in KiB/s; 0: none.
  std::uint32_t downloadRate() const { return m_downloadRate; }
  const CDiskFlush& diskFlush() const { return m_diskFlush; }

  // Runs the launcher dialog modally as the main window, then returns FALSE so that no
  // message loop follows and the process ends.
  BOOL InitInstance() override;

 protected:
  const MessageMap* GetMessageMap() const override;

 private:
  std::optional<PublicKey> m_publicKey;
  std::uint32_t m_downloadRate;
  const CDiskFlush& m_diskFlush;
};

}  // namespace tarvo
