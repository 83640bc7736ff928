#include "publish/segment_store.h"

#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "patch/patch_format.h"
#include "patch/segment_frame.h"

namespace tarvo::publish {

namespace fs = std::filesystem;

namespace {

// Reads a frame of at most kMaxFrameSize bytes; false when there is none that size.
bool ReadFrame(const fs::path& path, std::vector<std::uint8_t>& frame) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error || size > kMaxFrameSize) return false;
  std::ifstream in(path, std::ios::binary);
  frame.resize(static_cast<std::size_t>(size));
  return in.read(reinterpret_cast<char*>(frame.data()), static_cast<std::streamsize>(size)) &&
         static_cast<std::uintmax_t>(in.gcount()) == size;
}

}  // namespace

std::string StoreFrameName(const SegmentHash& hash) { return HashToHex(hash) + ".zst"; }

SegmentStore::SegmentStore(fs::path folder)
    : m_folder(std::move(folder)),
      m_existed(fs::exists(m_folder)),
      m_staging(m_folder / (".staging-" + std::to_string(getpid()))) {}

SegmentStore::~SegmentStore() {
  std::error_code ignored;
  fs::remove_all(m_staging, ignored);
  if (!m_existed && fs::is_empty(m_folder, ignored)) fs::remove(m_folder, ignored);
}

bool SegmentStore::Has(const SegmentHash& hash) const {
  std::error_code ignored;
  return m_staged.count(hash) != 0 || fs::is_regular_file(m_folder / StoreFrameName(hash), ignored);
}

void SegmentStore::Stage(const SegmentHash& hash, std::span<const std::uint8_t> frame) {
  if (Has(hash)) return;
  fs::create_directories(m_staging);
  const fs::path path = m_staging / StoreFrameName(hash);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(frame.data()),
            static_cast<std::streamsize>(frame.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
  m_staged.insert(hash);
  m_order.emplace_back(hash, frame.size());
  m_stagedBytes += frame.size();
}

void SegmentStore::Unstage(std::size_t mark) {
  while (m_order.size() > mark) {
    const auto [hash, size] = m_order.back();
    m_order.pop_back();
    std::error_code ignored;
    fs::remove(m_staging / StoreFrameName(hash), ignored);
    m_staged.erase(hash);
    m_stagedBytes -= size;
  }
}

void SegmentStore::Commit() {
  for (const SegmentHash& hash : m_staged) {
    const fs::path target = m_folder / StoreFrameName(hash);
    std::error_code ignored;
    if (fs::exists(fs::symlink_status(target, ignored))) continue;
    fs::rename(m_staging / StoreFrameName(hash), target);
  }
  m_staged.clear();
  m_order.clear();
  std::error_code ignored;
  fs::remove_all(m_staging, ignored);
}

std::vector<std::string> MissingFromStore(const fs::path& folder,
                                          const std::vector<StoreNeed>& needed,
                                          std::set<SegmentHash>& checked) {
  std::vector<std::string> missing;
  std::set<SegmentHash> reported;
  SegmentDecoder decoder;
  std::vector<std::uint8_t> frame;
  std::vector<std::uint8_t> segment;
  for (const StoreNeed& need : needed) {
    if (checked.count(need.hash) != 0 || reported.count(need.hash) != 0) continue;
    segment.resize(need.length);
    if (ReadFrame(folder / StoreFrameName(need.hash), frame) &&
        decoder.Decode(frame, {}, segment) && HashMatches(segment, need.hash)) {
      checked.insert(need.hash);
    } else {
      reported.insert(need.hash);
      missing.push_back(StoreFrameName(need.hash));
    }
  }
  return missing;
}

}  // namespace tarvo::publish
