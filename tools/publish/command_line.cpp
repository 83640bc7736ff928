#include "publish/command_line.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "patch/patch_format.h"
#include "publish/archive_url.h"
#include "publish/version_page.h"

namespace tarvo::publish {

const std::string_view kUsageText =
    R"(Usage: tarvo-publish [options] --site DIR --url BASE_URL --first N --second M PREVIOUS NEW
  or:  tarvo-publish --check SITE_DIR [--archives DIR] [--public-key KEY [--since VERSIONS]]
                     [--store DIR]
  or:  tarvo-publish --check http://HOST/
  or:  tarvo-publish keygen SECRET_KEY_FILE
  or:  tarvo-publish pubkey SECRET_KEY_FILE
  or:  tarvo-publish sign --sign-key SECRET_KEY_FILE ARCHIVE...
  or:  tarvo-publish inspect LAUNCHER...
  or:  tarvo-publish --help | --version

Publishes one update of a Velmora installation for Tarvo. It writes the archive of every
file that NEW adds or changes against PREVIOUS, with the list of files and folders that
NEW no longer has (players' launchers remove them), named after the update's versions:
NNNNNMMMMMMMM.zip, FirstVersion N in 5 digits and SecondVersion M in 8. It adds the entry
"<Version>" NNNNNMMMMMMMM BASE_URL/NNNNNMMMMMMMM.zip "</Version>" (written without spaces)
to the version list in SITE/zip.html, in version order. A missing zip.html is created; in
an existing one every other byte is kept.

  PREVIOUS          the installation the update starts from: for a cumulative update
                    (recommended) the oldest one players may still have, such as the tree
                    you shipped; for a step, the last update's (an empty folder: everything)
  NEW               the installation as this update leaves it
  --site DIR        the update server's root folder, the one that serves /zip.html
  --url BASE_URL    where players download archives from, such as
                    http://updates.example.com/updates
  --first N         FirstVersion of the update, 0 to 99999
  --second M        SecondVersion of the update, 0 to 99999999
  --archives DIR    the folder the archive is written to
                    (default: SITE followed by the path of BASE_URL)
  --force           replace an archive and an entry of the same versions
  --dry-run         show what would be published, and write nothing
  --sign-key FILE   sign the archive with the secret key in FILE, for launchers built
                    with its public key (TARVO_PUBLIC_KEY)
  --patch-threshold MIB
                    changed files of at least MIB MiB (default 16) go as patches that
                    rebuild them from the players' files, where a patch is smaller
  --no-patches      every changed file goes whole
  --store DIR       the segment store: the frames that launchers fetch where a player's
                    file differs from PREVIOUS (default: DIR segments in the archive folder)
  --store-url URL   where launchers fetch them (default: BASE_URL/segments/)

Players' launchers download every entry that has their FirstVersion and a greater
SecondVersion, and install what they downloaded at their next start, in the list's
order: an update waits for an older listed one that has not arrived yet. Therefore:
  - when PREVIOUS holds Sys/Config.ini, N must equal its [VERSION] FirstVersion and M must
    be greater than its SecondVersion (read as the launcher reads them; missing means 0);
  - files and folders that NEW lacks are removed from installations, but Tarvo.exe and
    Sys/Config.ini, which players keep (listed as warnings);
  - the UpdateZip folder (pending downloads) of either tree is left out;
  - every file is archived writable, with its modification time.

Each patch is applied to PREVIOUS and compared with NEW before anything is written. The
segments of NEW that the store lacks are added to it (a frame is written once, never
rewritten); keep the store for as long as players may install an archive that needs it.
Launchers older than patches cannot install an archive with patches: ship a launcher
that knows them first, or publish with --no-patches.

Refused, with nothing written: numbers out of range, a malformed base URL, missing folders,
a zip.html without a well-formed version list, an archive or an entry of the same versions
(unless --force), names that Windows cannot hold, a file that becomes a folder or the other
way round; an update that is unsigned, or signed with another key, when PREVIOUS's
Tarvo.exe installs only updates signed for its public key; a Tarvo.exe in the update built
for an update host on players' own machines (localhost, 127.x) when PREVIOUS's was not.
Archives of any size are written, in zip64 where an item or the archive needs it.

Warned about, and published all the same: a changed Sys/Config.ini or Tarvo.exe; a Tarvo.exe
built for another update host or public key than PREVIOUS's; an unsigned update after signed
ones; a step after cumulative updates or the other way round (what each archive was made
from is kept in SITE/tarvo-bases.txt); files it writes, or folders on their way, that
others (the web server's workers) may not read.

  --check SITE_DIR  reads SITE_DIR/zip.html and reports every entry whose archive is
                    missing (looked up by the URL's path under SITE_DIR, or by name in
                    --archives DIR) or is no zip archive that the launcher reads whole,
                    and entries the launcher would misread or skip;
                    with --public-key KEY (base64, as keygen prints it) also every archive
                    that is not signed with that key for its entry's versions, from
                    --since VERSIONS (FIRST/SECOND or 13 digits) on when given;
                    it also shows what each archive removes from installations, warns
                    of files that a web server running as another user cannot read, and
                    reports every segment a patch may need that its store lacks or holds
                    wrong (the store found where the patch's store URL leads in
                    SITE_DIR, or in --store DIR)
  --check URL       the same for what the update server at URL (http://HOST/, or the
                    address of its zip.html) serves: the version list and every archive it
                    lists, each answered with 200 and a Content-Length, uncompressed, with a
                    strong validator, ranges served with If-Range, and caching headers as
                    the operator guide gives them; archives' bodies are not downloaded

  keygen FILE       makes a new key pair: the secret key goes to FILE (made new, readable by
                    you alone; never overwritten), the public key is printed last
  pubkey FILE       prints the public key of the secret key in FILE
  sign              signs archives that another tool wrote, each named after the versions
                    it is published for (its name begins with their 13 digits)
  inspect LAUNCHER  prints the version, update host, public key and download rate that a
                    Tarvo.exe (or the POSIX tarvo) was built with

Exit status: 0 done (--check: no problem); 1 refused, failed, or problems found;
2 bad command line.
)";

namespace {

// The number that `text` spells in decimal digits alone, when it lies from `min` to `max`.
std::optional<std::int64_t> DecimalInRange(std::string_view text, std::int64_t min,
                                           std::int64_t max) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > max) return std::nullopt;
  }
  if (value < min) return std::nullopt;
  return value;
}

std::int32_t ParseVersionNumber(std::string_view option, std::string_view text, std::int32_t max,
                                std::size_t width) {
  const std::string range = std::string(option) + " takes a number from 0 to " +
                            std::to_string(max) + " (" + std::to_string(width) +
                            " digits in the archive name), not \"" + std::string(text) + "\"";
  const std::optional<std::int64_t> value = DecimalInRange(text, 0, max);
  if (!value) throw UsageError(range);
  return static_cast<std::int32_t>(*value);
}

// "FIRST/SECOND" or the 13 digits of an entry.
VersionKey ParseSince(std::string_view text) {
  const std::string usage =
      "--since takes versions as FIRST/SECOND or 13 digits, not \"" + std::string(text) + "\"";
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) {
    if (text.size() != kVersionDigits) throw UsageError(usage);
    return {ParseVersionNumber("--since", text.substr(0, kFirstVersionWidth), kMaxFirstVersion,
                               kFirstVersionWidth),
            ParseVersionNumber("--since", text.substr(kFirstVersionWidth), kMaxSecondVersion,
                               kSecondVersionWidth)};
  }
  return {
      ParseVersionNumber("--since", text.substr(0, slash), kMaxFirstVersion, kFirstVersionWidth),
      ParseVersionNumber("--since", text.substr(slash + 1), kMaxSecondVersion,
                         kSecondVersionWidth)};
}

// Walks the arguments, splitting "--option=value" into the option and its value.
class ArgumentReader {
 public:
  explicit ArgumentReader(const std::vector<std::string>& arguments) : arguments_(arguments) {}

  bool Next() {
    if (index_ >= arguments_.size()) return false;
    current_ = arguments_[index_++];
    inlineValue_.reset();
    if (current_.starts_with("--")) {
      const std::size_t equals = current_.find('=');
      if (equals != std::string::npos) {
        inlineValue_ = current_.substr(equals + 1);
        current_.erase(equals);
      }
    }
    return true;
  }
  const std::string& Current() const { return current_; }
  bool HasInlineValue() const { return inlineValue_.has_value(); }
  std::string Value() {
    if (inlineValue_) return *inlineValue_;
    if (index_ >= arguments_.size()) throw UsageError(current_ + " needs a value");
    return arguments_[index_++];
  }

 private:
  const std::vector<std::string>& arguments_;
  std::size_t index_ = 0;
  std::string current_;
  std::optional<std::string> inlineValue_;
};

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& arguments) {
  Command command;
  std::optional<std::string> first, second, site, url, check, archives, signKey, publicKey, since;
  std::optional<std::string> threshold, store, storeUrl;
  std::vector<std::string> trees;
  bool force = false, dryRun = false, help = false, version = false, noPatches = false;

  const std::pair<std::string_view, std::optional<std::string>*> withValue[] = {
      {"--first", &first},       {"--second", &second},
      {"--site", &site},         {"--url", &url},
      {"--archives", &archives}, {"--check", &check},
      {"--sign-key", &signKey},  {"--public-key", &publicKey},
      {"--since", &since},       {"--patch-threshold", &threshold},
      {"--store", &store},       {"--store-url", &storeUrl}};

  ArgumentReader reader(arguments);
  while (reader.Next()) {
    const std::string& option = reader.Current();
    if (option == "--help" || option == "-h") {
      help = true;
    } else if (option == "--version") {
      version = true;
    } else if (option == "--force" || option == "--dry-run" || option == "--no-patches") {
      if (reader.HasInlineValue()) throw UsageError(option + " takes no value");
      (option == "--force" ? force : option == "--dry-run" ? dryRun : noPatches) = true;
    } else if (const auto valued =
                   std::find_if(std::begin(withValue), std::end(withValue),
                                [&](const auto& entry) { return entry.first == option; });
               valued != std::end(withValue)) {
      *valued->second = reader.Value();
    } else if (option.starts_with("-") && option != "-") {
      throw UsageError("unknown option " + option);
    } else {
      trees.push_back(option);
    }
  }

  if (help) return command;
  if (version) {
    command.kind = Command::Kind::kVersion;
    return command;
  }
  const bool publishing =
      first || second || site || url || force || dryRun || threshold || storeUrl || noPatches;
  const std::string subcommand = trees.empty() ? "" : trees[0];
  if (subcommand == "keygen" || subcommand == "pubkey" || subcommand == "inspect") {
    if (publishing || check || archives || publicKey || signKey || store) {
      throw UsageError(subcommand + (subcommand == "inspect" ? " takes only launcher executables"
                                                             : " takes only the secret key file"));
    }
    trees.erase(trees.begin());
    if (subcommand == "inspect") {
      if (trees.empty()) throw UsageError("inspect needs the launcher executables to inspect");
      command.kind = Command::Kind::kInspect;
      command.launchers.assign(trees.begin(), trees.end());
      return command;
    }
    if (trees.size() != 1) throw UsageError(subcommand + " takes one secret key file");
    command.kind = subcommand == "keygen" ? Command::Kind::kKeygen : Command::Kind::kPubkey;
    command.keys.keyFile = trees[0];
    return command;
  }
  if (subcommand == "sign") {
    if (publishing || check || archives || publicKey || store) {
      throw UsageError("sign takes only --sign-key and archives");
    }
    trees.erase(trees.begin());
    if (!signKey) throw UsageError("sign needs --sign-key");
    if (trees.empty()) throw UsageError("sign needs the archives to sign");
    command.kind = Command::Kind::kSign;
    command.keys.keyFile = *signKey;
    command.keys.archives.assign(trees.begin(), trees.end());
    return command;
  }
  if (check) {
    if (publishing || signKey || !trees.empty()) {
      throw UsageError(
          "--check takes only a site folder, --archives, --public-key, --since and --store");
    }
    if (since && !publicKey) throw UsageError("--since goes with --public-key");
    command.kind = Command::Kind::kCheck;
    command.check.site = *check;
    command.check.server = check->starts_with("http://") || check->starts_with("https://");
    if (command.check.server && (archives || publicKey || store)) {
      throw UsageError(
          "--check of a server's address takes nothing else: check archives, "
          "signatures and removal lists on the site folder");
    }
    if (archives) command.check.archives = *archives;
    command.check.publicKey = publicKey;
    if (since) command.check.signedSince = ParseSince(*since);
    if (store) command.check.store = *store;
    return command;
  }
  if (publicKey || since) throw UsageError("--public-key and --since go with --check");

  if (!site) throw UsageError("--site is missing");
  if (!url) throw UsageError("--url is missing");
  if (!first) throw UsageError("--first is missing");
  if (!second) throw UsageError("--second is missing");
  if (trees.size() != 2) throw UsageError("give two folders: PREVIOUS and NEW");
  if (auto problem = BaseUrlProblem(*url)) throw UsageError(*problem + ": " + *url);

  command.kind = Command::Kind::kPublish;
  PublishOptions& publish = command.publish;
  publish.first = ParseVersionNumber("--first", *first, kMaxFirstVersion, kFirstVersionWidth);
  publish.second = ParseVersionNumber("--second", *second, kMaxSecondVersion, kSecondVersionWidth);
  publish.previous = trees[0];
  publish.next = trees[1];
  publish.site = *site;
  if (archives) publish.archives = *archives;
  publish.baseUrl = *url;
  publish.force = force;
  publish.dryRun = dryRun;
  if (signKey) publish.signKey = *signKey;
  if (noPatches && threshold)
    throw UsageError("--no-patches and --patch-threshold exclude each other");
  if (noPatches) publish.patchThreshold.reset();
  if (threshold) {
    const std::optional<std::int64_t> mib = DecimalInRange(*threshold, 1, 1 << 20);
    if (!mib) {
      throw UsageError("--patch-threshold takes a number of MiB from 1 to 1048576, not \"" +
                       *threshold + "\"");
    }
    publish.patchThreshold = static_cast<std::uint64_t>(*mib) << 20;
  }
  if (store) publish.store = *store;
  if (storeUrl) {
    publish.storeUrl = storeUrl->ends_with("/") ? *storeUrl : *storeUrl + "/";
    if (!IsStoreUrl(*publish.storeUrl)) {
      throw UsageError("--store-url takes a plain http:// or https:// address: " + *storeUrl);
    }
  }
  return command;
}

}  // namespace tarvo::publish
