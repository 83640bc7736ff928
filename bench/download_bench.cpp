// The download worker alone, for bench/download.sh: fetches URL into DESTINATION the way a
// launcher's worker does and exits 0 when the archive was stored, 1 when not. With PUBLIC_KEY
// (base64), the archive is stored only when it is signed with that key for the 13 digits that
// DESTINATION's name begins with.
//   download_bench URL DESTINATION [PUBLIC_KEY]

#include "common/utf.h"
#include "net/fetch_archive.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  tarvo::DownloadRequest request{tarvo::Utf8ToUtf16(argv[1]), tarvo::Utf8ToUtf16(argv[2])};
  if (argc == 4) {
    request.publicKey = tarvo::DecodePublicKey(argv[3]);
    if (!request.publicKey) return 2;
  }
  return tarvo::FetchArchive(request) ? 0 : 1;
}
