#include "patch/patch_item.h"

#include <algorithm>
#include <limits>

#include "common/windows_names.h"
#include "config/config_version.h"
#include "platform/files.h"
#include "platform/output_file.h"
#include "unzip/system_failure.h"

namespace tarvo {

namespace {

class OutputSink final : public PatchSink {
 public:
  explicit OutputSink(COutputFile& output) : m_output(output) {}
  bool Write(const void* data, std::size_t size) override {
    return m_output.Write(data, static_cast<DWORD>(size));
  }

 private:
  COutputFile& m_output;
};

class PatchWriter final : public ZipItemWriter {
 public:
  PatchWriter(SegmentCache& cache, bool looking) : m_cache(cache), m_looking(looking) {}

  ZipResult Write(ZipItemReader& item, const std::u16string& target, COutputFile& output) override {
    PatchItemSource source(item);
    OutputSink sink(output);
    try {
      m_outcome = ApplyPatch(source, target.c_str(), m_cache, m_looking ? nullptr : &sink);
    } catch (const std::bad_alloc&) {
      m_outcome.result = PatchOutcome::Result::kMachineFailed;
      m_outcome.error = ERROR_NOT_ENOUGH_MEMORY;
    }
    using Result = PatchOutcome::Result;
    switch (m_outcome.result) {
      case Result::kApplied:
        // Only looked through, the file is not made: it must not take its target's place.
        return m_looking ? kNothingMade : ZIP_OK;
      case Result::kAlreadyApplied:
      case Result::kAwaitingSegments:
        return kNothingMade;
      case Result::kDamaged:
        // The item's data is whole (else its reading says so), but no file can be made of it:
        // what the archive holds, and trying again gives the same.
        return ZIP_ERR_UNSUPPORTED;
      case Result::kMachineFailed:
        return IsSystemFailure(m_outcome.error) ? ZIP_ERR_SYSTEM : ZIP_ERR_WRITE;
    }
    return ZIP_ERR_DATA;
  }

  // What the patch came to, once Write ran.
  const PatchOutcome& outcome() const { return m_outcome; }
  // What Write returns when it made no file, whatever the reason: a result that places nothing.
  static constexpr ZipResult kNothingMade = ZIP_ERR_DATA;

 private:
  SegmentCache& m_cache;
  bool m_looking;
  PatchOutcome m_outcome;
};

}  // namespace

bool PatchItemSource::Read(void* buffer, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  while (size > 0) {
    const auto piece = static_cast<std::uint32_t>(
        std::min<std::size_t>(size, std::numeric_limits<std::uint32_t>::max()));
    std::uint32_t read = 0;
    if (m_item.Read(bytes, piece, &read) != ZIP_OK || read != piece) return false;
    bytes += piece;
    size -= piece;
  }
  return true;
}

bool IsPatchItem(std::u16string_view itemName) {
  if (itemName.size() <= kPatchItemSuffix.size()) return false;
  const std::u16string_view suffix = itemName.substr(itemName.size() - kPatchItemSuffix.size());
  return std::equal(suffix.begin(), suffix.end(), kPatchItemSuffix.begin(),
                    [](char16_t a, char16_t b) { return FoldAsciiCase(a) == FoldAsciiCase(b); });
}

bool HasPatchItems(ZipHandle archive, std::int32_t count) {
  ZipItem item{};
  for (std::int32_t i = 0; i < count; ++i) {
    if (ZipGetItem(archive, i, &item) == ZIP_OK && IsPatchItem(item.name)) return true;
  }
  return false;
}

ArchivePatches::ArchivePatches(FetchedSegments& fetched) : m_fetched(fetched) {
  m_fetched.BeginArchive();
}

ZipResult ArchivePatches::Install(ZipHandle archive, std::int32_t index, const ZipItem& item) {
  const std::u16string_view name(item.name);
  if (!IsPatchItem(name)) return ZIP_ERR_ARGS;
  const std::u16string target(name.substr(0, name.size() - kPatchItemSuffix.size()));
  // The configuration records versions of its own; an update replaces it whole or not at all.
  if (SamePathIgnoringCase(target, kConfigFileName)) return ZIP_ERR_FILE;
  PatchWriter writer(m_fetched, awaiting());
  const ZipResult result = ZipExtractItemWith(archive, index, target.c_str(), writer);
  const PatchOutcome& outcome = writer.outcome();
  switch (outcome.result) {
    case PatchOutcome::Result::kAwaitingSegments:
      m_fetched.Need(outcome.storeUrl, outcome.missing);
      return ZIP_OK;
    case PatchOutcome::Result::kAlreadyApplied:
      return ZIP_OK;
    case PatchOutcome::Result::kApplied:
      return awaiting() ? ZIP_OK : result;
    default:
      return result;
  }
}

}  // namespace tarvo
