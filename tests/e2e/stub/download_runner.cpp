// Runs one download worker in the foreground and ends with it:
//   download_runner URL DESTINATION [PUBLIC_KEY] [window=MS] [rate=BYTES_PER_SECOND]
// With PUBLIC_KEY (base64), the archive is stored only when it is signed with that key.
// window=MS gives the transfer up once it receives less than the launcher's minimum in MS
// (instead of a minute); rate=N paces it as a launcher's rate limit does. Tests stop it midway
// to see what a launcher stopped during a transfer leaves behind.

#include <memory>
#include <string>

#include "common/utf.h"
#include "net/download.h"
#include "net/download_pacer.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  auto request = std::make_unique<tarvo::DownloadRequest>(
      tarvo::DownloadRequest{tarvo::Utf8ToUtf16(argv[1]), tarvo::Utf8ToUtf16(argv[2])});
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option.rfind("window=", 0) == 0) {
      request->limits.window = std::chrono::milliseconds(std::stoll(option.substr(7)));
    } else if (option.rfind("rate=", 0) == 0) {
      request->pacer = std::make_shared<tarvo::DownloadPacer>(std::stoull(option.substr(5)));
    } else {
      request->publicKey = tarvo::DecodePublicKey(option);
      if (!request->publicKey) return 2;
    }
  }
  return static_cast<int>(tarvo::DownloadThreadProc(request.release()));
}
