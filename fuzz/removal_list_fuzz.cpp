// Removal lists of any bytes: no crash, no sanitizer report, and every name taken stays inside
// the installation and away from what an update never removes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/removal_list.h"
#include "unzip/zip_item_name.h"

namespace {

bool Allowed(const std::u16string& name) {
  const std::u16string_view top = std::u16string_view(name).substr(0, name.find(u'\\'));
  return !name.empty() && !tarvo::IsAbsoluteZipPath(name) &&
         tarvo::CleanZipItemName(name) == name && tarvo::IsExtractablePath(name) &&
         !tarvo::SameWindowsPath(top, u"UpdateZip") &&
         !tarvo::SameWindowsPath(name, u"Sys\\Config.ini");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = std::string(tarvo::kRemovalListHeader) + "\n" +
                           std::string(reinterpret_cast<const char*>(data), size);
  const std::optional<tarvo::RemovalList> list = tarvo::ParseRemovalList(text);
  if (!list) std::abort();
  for (const auto* names : {&list->files, &list->folders}) {
    for (const std::u16string& name : *names) {
      if (!Allowed(name)) std::abort();
    }
  }
  return 0;
}
