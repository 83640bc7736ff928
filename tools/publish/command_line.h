#pragma once
// The command line of tarvo-publish.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "publish/version_page.h"

namespace tarvo::publish {

// Changed files smaller than this go whole unless told otherwise.
inline constexpr std::uint64_t kDefaultPatchThreshold = std::uint64_t{16} << 20;

struct PublishOptions {
  std::filesystem::path previous;  // the installation as players have it now
  std::filesystem::path next;      // the installation as the update makes it
  std::filesystem::path site;      // the update server's root folder, holding zip.html
  // Where the archive goes; by default the site folder followed by the base URL's path.
  std::optional<std::filesystem::path> archives;
  std::string baseUrl;
  std::int32_t first = 0;
  std::int32_t second = 0;
  bool force = false;   // replace an archive and an entry of the same versions
  bool dryRun = false;  // show what would be published; write nothing
  // The secret key file to sign the archive with; none: not signed.
  std::optional<std::filesystem::path> signKey;
  // Changed files of at least this many bytes go as patches where that pays; none: never.
  std::optional<std::uint64_t> patchThreshold = kDefaultPatchThreshold;
  // The segment store's folder (by default "segments" in the archive folder) and the URL
  // launchers fetch its frames from (by default BASE_URL/segments/).
  std::optional<std::filesystem::path> store;
  std::optional<std::string> storeUrl;
};

struct CheckOptions {
  std::filesystem::path site;
  // `site` is the address of an update server ("http://HOST/"), checked over HTTP.
  bool server = false;
  std::optional<std::filesystem::path> archives;
  // The public key (base64) every archive must be signed with; none: signatures not checked.
  std::optional<std::string> publicKey;
  // Entries of older versions than this are not held to the public key: updates published
  // before signing was turned on.
  std::optional<VersionKey> signedSince;
  // The segment store's folder; none: where each patch's store URL leads in the site.
  std::optional<std::filesystem::path> store;
};

// keygen SECRET_KEY_FILE; pubkey SECRET_KEY_FILE; sign --sign-key SECRET_KEY_FILE ARCHIVE...
struct KeyOptions {
  std::filesystem::path keyFile;
  std::vector<std::filesystem::path> archives;
};

struct Command {
  enum class Kind { kHelp, kVersion, kPublish, kCheck, kKeygen, kPubkey, kSign, kInspect };
  Kind kind = Kind::kHelp;
  PublishOptions publish;
  CheckOptions check;
  KeyOptions keys;
  std::vector<std::filesystem::path> launchers;  // inspect LAUNCHER...
};

// A command line that cannot be run; the text says why.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the arguments (without the program name). Options take their value as the next
// argument or after "=". Throws UsageError.
Command ParseCommandLine(const std::vector<std::string>& arguments);

// What --help prints.
extern const std::string_view kUsageText;

}  // namespace tarvo::publish
