#include "patch/base_file.h"

#include "unzip/system_failure.h"

namespace tarvo {

std::span<std::uint8_t> BufferOf(std::vector<std::uint8_t>& buffer, std::size_t size) {
  if (buffer.size() < size) buffer.resize(size);
  return {buffer.data(), size};
}

bool BaseFile::Open(const char16_t* path, DWORD& error) {
  if (!m_file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) {
    error = GetLastError();
    return !IsSystemFailure(error);
  }
  try {
    m_size = m_file.GetLength();
  } catch (const CFileException& failure) {
    error = static_cast<DWORD>(failure.m_lOsError);
    return false;
  }
  return true;
}

Made BaseFile::Read(std::uint64_t offset, std::span<std::uint8_t> out, DWORD& error) {
  if (!present() || out.size() > m_size || offset > m_size - out.size()) {
    return Made::kUnavailable;
  }
  try {
    m_file.Seek(static_cast<std::int64_t>(offset), CFile::begin);
    for (std::size_t done = 0; done < out.size();) {
      const UINT got = m_file.Read(out.data() + done, static_cast<UINT>(out.size() - done));
      if (got == 0) return Made::kUnavailable;  // cut short since it was measured
      done += got;
    }
  } catch (const CFileException& failure) {
    error = failure.m_lOsError != 0 ? static_cast<DWORD>(failure.m_lOsError) : ERROR_READ_FAULT;
    return Made::kFailed;
  }
  return Made::kMade;
}

}  // namespace tarvo
