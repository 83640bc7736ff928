// The download worker alone, for bench/download.sh: fetches URL into DESTINATION the way a
// launcher's worker does and exits 0 when the archive was stored, 1 when not.
//   download_bench URL DESTINATION

#include "common/utf.h"
#include "net/fetch_archive.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  return tarvo::FetchArchive({tarvo::Utf8ToUtf16(argv[1]), tarvo::Utf8ToUtf16(argv[2])}) ? 0 : 1;
}
