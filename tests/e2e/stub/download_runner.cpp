// Runs one download worker in the foreground and ends with it:
//   download_runner URL DESTINATION [PUBLIC_KEY]
// With PUBLIC_KEY (base64), the archive is stored only when it is signed with that key. Tests
// stop it midway to see what a launcher stopped during a transfer leaves behind.

#include <memory>

#include "common/utf.h"
#include "net/download.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  auto request = std::make_unique<tarvo::DownloadRequest>(
      tarvo::DownloadRequest{tarvo::Utf8ToUtf16(argv[1]), tarvo::Utf8ToUtf16(argv[2])});
  if (argc == 4) {
    request->publicKey = tarvo::DecodePublicKey(argv[3]);
    if (!request->publicKey) return 2;
  }
  return static_cast<int>(tarvo::DownloadThreadProc(request.release()));
}
