// The version page as tarvo-publish edits it: any page is read without reading past it, and an
// entry added to a well-formed list is inserted whole (every other byte kept), read back as an
// entry, and leaves the list well-formed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "publish/version_page.h"

namespace {

// True when `result` is `page` with one run of bytes inserted somewhere.
bool IsOneInsertion(std::string_view page, std::string_view result) {
  if (result.size() <= page.size()) return false;
  const std::size_t prefix = static_cast<std::size_t>(
      std::mismatch(page.begin(), page.end(), result.begin()).first - page.begin());
  const std::size_t suffix = static_cast<std::size_t>(
      std::mismatch(page.rbegin(), page.rend(), result.rbegin()).first - page.rbegin());
  return prefix + suffix >= page.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvo::publish;
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const VersionList list = ParseVersionList(page);
  for (const VersionEntry& entry : list.entries) {
    if (entry.begin < list.bodyBegin || entry.end > list.bodyEnd) std::abort();
  }
  if (list.state != ListState::kFound || !list.faults.empty()) return 0;

  const std::string entryText = "0000100000003http://h/u/0000100000003.zip";
  const std::string added = AddVersionEntry(page, list, entryText);
  if (!IsOneInsertion(page, added)) std::abort();
  const VersionList after = ParseVersionList(added);
  if (!after.faults.empty() || after.entries.size() != list.entries.size() + 1) std::abort();
  const auto found = std::find_if(after.entries.begin(), after.entries.end(),
                                  [&](const VersionEntry& e) { return e.text == entryText; });
  if (found == after.entries.end()) std::abort();

  const std::string replaced = ReplaceVersionEntries(added, after, found->key, "00001000000039");
  if (ParseVersionList(replaced).entries.size() != after.entries.size()) std::abort();
  return 0;
}
