#include "net/download.h"
#include "platform/temp_files.h"

namespace tarvo {

std::u16string MakeTempFileName() {
  char16_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  char16_t name[MAX_PATH] = {};
  GetTempFileNameW(folder, u"vl", 0, name);
  return name;
}

}  // namespace tarvo
