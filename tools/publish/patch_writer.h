#pragma once
// Writing the patch that makes a file of the new tree from the same file of the previous tree
// (patch/patch_format.h), and the whole frames of its segments that the segment store lacks.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "publish/segment_store.h"

namespace tarvo::publish {

struct WrittenPatch {
  std::uint64_t size = 0;  // of the patch file
  std::size_t copies = 0;  // segments of each kind
  std::size_t patches = 0;
  std::size_t wholes = 0;
  std::uint64_t stored = 0;  // bytes of frames added to the store
};

// Writes to `patchPath` a patch that makes `next` from `previous`, for launchers that fetch the
// segments their file cannot give from the store at `storeUrl`, and stages in `store` the whole
// frame of each segment of `next` it lacks. Every segment is the smallest of a copy from
// `previous`, a frame made against the range of `previous` it most likely came from, and a
// self-contained frame; no frame asks a launcher for a larger window than it decodes with.
// `progress` hears of the bytes of `next` done. Throws std::runtime_error naming what failed.
WrittenPatch WritePatch(const std::filesystem::path& previous, const std::filesystem::path& next,
                        const std::string& storeUrl, SegmentStore& store,
                        const std::filesystem::path& patchPath,
                        const std::function<void(std::uint64_t)>& progress);

// Applies the patch at `patchPath` to `previous` with the launcher's own code and compares what
// it makes with `next`, byte for byte. Throws std::runtime_error saying what differs.
void VerifyPatch(const std::filesystem::path& patchPath, const std::filesystem::path& previous,
                 const std::filesystem::path& next,
                 const std::function<void(std::uint64_t)>& progress);

}  // namespace tarvo::publish
