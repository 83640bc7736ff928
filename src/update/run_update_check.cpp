#include "update/run_update_check.h"

#include <array>
#include <memory>

#include "platform/internet.h"
#include "update/append_ansi_text.h"
#include "update/plan_downloads.h"
#include "update/version_list_url.h"

namespace tarvo {

int RunUpdateCheck() { return RunUpdateCheck(std::u16string(kVersionListUrl)); }

int RunUpdateCheck(const std::u16string& versionListUrl) {
  int result = 0;
  try {
    CInternetSession session(nullptr, 0);
    std::u16string page;
    {
      std::unique_ptr<CHttpFile> file =
          session.OpenURL(versionListUrl.c_str(), 1, INTERNET_FLAG_TRANSFER_ASCII);
      std::array<char, 1024> buffer{};
      std::size_t total = 0;
      for (;;) {
        const UINT read = file->Read(buffer.data(), static_cast<UINT>(buffer.size()));
        if (read == 0) break;
        total += read;
        if (total > kMaxVersionListBytes) return 0;
        AppendAnsiText(page, std::string_view(buffer.data(), read));
        buffer.fill(0);
      }
      file->Close();
    }
    session.Close();
    result = PlanDownloads(page);
  } catch (...) {
    // Whatever failed, nothing is reported; the client starts all the same. Downloads that a
    // failing plan had already started go on by themselves.
    result = 0;
  }
  return result;
}

}  // namespace tarvo
