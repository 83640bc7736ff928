#include "patch/fetched_segments.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "common/utf.h"
#include "net/kept_bytes.h"
#include "patch/segment_frame.h"
#include "platform/files.h"

namespace tarvo {

namespace {

constexpr std::u16string_view kFrameSuffix = u".zst";

// Reads the whole file at `path` into `bytes` when it holds at most `limit` bytes.
bool ReadSmallFile(const std::u16string& path, std::size_t limit,
                   std::vector<std::uint8_t>& bytes) {
  CFile file;
  if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyWrite)) return false;
  try {
    const std::uint64_t size = file.GetLength();
    if (size > limit) return false;
    bytes.resize(static_cast<std::size_t>(size));
    for (std::size_t done = 0; done < bytes.size();) {
      const UINT got = file.Read(bytes.data() + done, static_cast<UINT>(bytes.size() - done));
      if (got == 0) return false;
      done += got;
    }
    return true;
  } catch (const CFileException&) {
    return false;
  }
}

// Whether a fetched file is the frame of `segment`: checked before it is stored, so that a
// store that serves wrong bytes is remembered as such (kept_bytes.h) rather than fetched again
// at every start, and never read when it is announced larger than any frame. One check at a
// time, as each holds a frame and its segment in memory.
BodyCheck SegmentCheck(NeededSegment segment, std::shared_ptr<std::mutex> oneAtATime) {
  return {kMaxFrameSize, [segment, oneAtATime](const std::u16string& path) {
            try {
              const std::lock_guard lock(*oneAtATime);
              std::vector<std::uint8_t> frame;
              std::vector<std::uint8_t> out(segment.length);
              return ReadSmallFile(path, kMaxFrameSize, frame) &&
                     SegmentDecoder().Decode(frame, {}, out) && HashMatches(out, segment.hash);
            } catch (...) {
              return false;
            }
          }};
}

}  // namespace

FetchedSegments::FetchedSegments(const std::u16string& programDirectory)
    : m_pending(programDirectory + u"UpdateZip\\"), m_folder(m_pending + u"Segments\\") {}

std::u16string FetchedSegments::Path(const SegmentHash& hash) const {
  return m_folder + Utf8ToUtf16(HashToHex(hash)) + std::u16string(kFrameSuffix);
}

bool FetchedSegments::Find(const SegmentHash& hash, std::vector<std::uint8_t>& frame) {
  if (!ReadSmallFile(Path(hash), kMaxFrameSize, frame)) return false;
  m_found.insert(hash);
  return true;
}

void FetchedSegments::Discard(const SegmentHash& hash) {
  DeleteFileW(Path(hash).c_str());
  m_found.erase(hash);
}

void FetchedSegments::BeginArchive() {
  m_missing.clear();
  m_found.clear();
}

void FetchedSegments::Need(const std::string& storeUrl, const std::vector<NeededSegment>& missing) {
  for (const NeededSegment& segment : missing) {
    const bool known = std::any_of(m_missing.begin(), m_missing.end(), [&](const Missing& m) {
      return m.segment.hash == segment.hash;
    });
    if (!known) m_missing.push_back({storeUrl, segment});
  }
}

void FetchedSegments::Tidy(
    const std::function<std::vector<std::u16string>(const std::u16string&)>& findFiles) {
  const bool archivesPending = !findFiles(m_pending + u"*.zip").empty();
  if (archivesPending && !awaiting()) return;  // what they need is not known this time
  std::set<std::u16string> wanted;
  if (archivesPending) {
    for (const Missing& missing : m_missing) wanted.insert(Path(missing.segment.hash));
    for (const SegmentHash& hash : m_found) wanted.insert(Path(hash));
  }
  for (const std::u16string& name : findFiles(m_folder + u"*")) {
    const std::u16string path = m_folder + name;
    // A frame, or the kept bytes and record of one being fetched.
    const std::size_t frameEnd = path.rfind(kFrameSuffix);
    if (frameEnd == std::u16string::npos) {
      DeleteFileW(path.c_str());
      continue;
    }
    const std::u16string frame = path.substr(0, frameEnd + kFrameSuffix.size());
    if (wanted.count(frame) != 0) continue;
    if (frame == path) {
      DeleteFileW(path.c_str());
    } else {
      DeleteKeptBytes(frame);
    }
  }
  if (!archivesPending) RemoveDirectoryW(m_folder.c_str());
}

std::size_t FetchedSegments::Fetch(DownloadQueue& downloads) const {
  if (m_missing.empty()) return 0;
  CreateDirectoryW(m_pending.c_str());
  CreateDirectoryW(m_folder.c_str());
  const auto oneAtATime = std::make_shared<std::mutex>();
  std::size_t started = 0;
  for (const Missing& missing : m_missing) {
    const std::string name = HashToHex(missing.segment.hash) + ".zst";
    const std::u16string destination = m_folder + Utf8ToUtf16(name);
    // Another running launcher is fetching it.
    if (KeptBytesHeld(destination)) continue;
    if (downloads.Add(Utf8ToUtf16(missing.storeUrl + name), destination,
                      SegmentCheck(missing.segment, oneAtATime))) {
      ++started;
    }
  }
  return started;
}

}  // namespace tarvo
