// Reading an item's data in pieces, for code that makes something of it other than its file.

#include "platform/output_file.h"
#include "unzip/zip_reader.h"

namespace tarvo {

namespace {

class EntryReader final : public ZipItemReader {
 public:
  explicit EntryReader(ZipItemStream& entry) : m_entry(entry) {}

  ZipResult Read(void* buffer, std::uint32_t size, std::uint32_t* read) override {
    *read = 0;
    auto* const bytes = static_cast<std::uint8_t*>(buffer);
    while (*read < size && !m_end) {
      const int n = m_entry.Read(bytes + *read, size - *read, &m_end);
      if (n == ZipItemStream::kPasswordFailure) return ZIP_ERR_PASSWORD;
      if (n < 0 || (n == 0 && !m_end)) return ZIP_ERR_DATA;
      *read += static_cast<std::uint32_t>(n);
    }
    return ZIP_OK;
  }

  // ZIP_OK when the data was read to its last byte and matches its CRC-32; closes the item.
  ZipResult Finish() {
    std::uint8_t extra = 0;
    std::uint32_t read = 0;
    const bool whole = !m_end ? Read(&extra, 1, &read) == ZIP_OK && read == 0 : true;
    return m_entry.Close() == ZipItemStream::Verdict::kComplete && whole ? ZIP_OK : ZIP_ERR_DATA;
  }

 private:
  ZipItemStream& m_entry;
  bool m_end = false;
};

ZipResult OpenFailure(int opened) {
  return opened == ZipItemStream::kPasswordFailure ? ZIP_ERR_PASSWORD : ZIP_ERR_DATA;
}

}  // namespace

ZipResult WriteItemData(ZipReader& reader, const ZipItem& item, ZipItemWriter& writer,
                        const std::u16string& target, COutputFile& output) {
  EntryReader data(*reader.entry);
  ZipResult result = writer.Write(data, target, output);
  const ZipResult read = data.Finish();
  if (result == ZIP_OK) result = read;
  if (result == ZIP_OK) {
    output.SetFileTime(item.creationTime, item.accessTime, item.modificationTime);
  }
  return result;
}

ZipResult ZipReadItemWith(ZipHandle handle, std::int32_t index,
                          const std::function<ZipResult(ZipItemReader&)>& use) noexcept {
  if (handle == nullptr) return ZIP_ERR_ARGS;
  ZipReader& reader = *handle;
  try {
    reader.CloseEntry();
    if (index < 0 || index >= reader.directory.count) return ZIP_ERR_ARGS;
    ZipItem item{};
    if (const ZipResult result = ReadZipItem(reader, index, &item); result != ZIP_OK) {
      return result;
    }
    if (!reader.entry) reader.entry = std::make_unique<ZipItemStream>();
    if (const int opened = reader.entry->Open(reader.file, reader.cachedData); opened != 0) {
      reader.entry->Close();
      return OpenFailure(opened);
    }
    EntryReader data(*reader.entry);
    const ZipResult result = use(data);
    reader.entry->Close();
    return result;
  } catch (...) {
    // Memory for the stream could not be had.
    reader.CloseEntry();
    return ZIP_ERR_SYSTEM;
  }
}

}  // namespace tarvo
