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

  // Reads what the user left of the data, and closes the item: ZIP_OK when the data is whole
  // (its recorded size, and its CRC-32), whatever the user made of it.
  ZipResult Finish() {
    std::uint8_t rest[4096];
    std::uint32_t read = 0;
    ZipResult result = ZIP_OK;
    while (!m_end && result == ZIP_OK) result = Read(rest, sizeof rest, &read);
    if (m_entry.Close() != ZipItemStream::Verdict::kComplete && result == ZIP_OK) {
      result = ZIP_ERR_DATA;
    }
    return result;
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
  // Damaged bytes of the item outweigh whatever the writer made of them.
  const ZipResult read = data.Finish();
  if (result == ZIP_OK || IsZipDamage(read)) result = read;
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
