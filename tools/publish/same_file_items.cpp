#include "publish/same_file_items.h"

#include <map>

#include "common/utf.h"
#include "common/windows_names.h"
#include "unzip/zip_archive.h"

namespace tarvo::publish {

std::vector<std::string> SameFileItems(const std::filesystem::path& archive) {
  std::vector<std::string> texts;
  const ZipHandle zip = ZipOpenArchive(Utf8ToUtf16(archive.string()).c_str());
  if (zip == nullptr) return texts;
  ZipItem item{};
  ZipGetItem(zip, -1, &item);
  const std::int32_t count = item.index;
  std::map<std::u16string, std::int32_t> seen;  // folded name -> first item
  for (std::int32_t i = 0; i < count; ++i) {
    if (ZipGetItem(zip, i, &item) != ZIP_OK) continue;
    std::u16string key(item.name);
    for (char16_t& c : key) c = c == u'\\' ? u'/' : FoldAsciiCase(c);
    while (!key.empty() && key.back() == u'/') key.pop_back();
    const auto [first, added] = seen.emplace(key, i);
    if (!added) {
      texts.push_back("items " + std::to_string(first->second + 1) + " and " +
                      std::to_string(i + 1) + " both name " + Utf16ToUtf8(item.name) +
                      " in players' installations; only the last stays");
    }
  }
  ZipCloseArchive(zip);
  return texts;
}

}  // namespace tarvo::publish
