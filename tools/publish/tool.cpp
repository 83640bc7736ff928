#include "publish/tool.h"

#include "tarvo_version.h"
#include "publish/command_line.h"
#include "publish/inspect/launcher_build.h"
#include "publish/publish_command.h"
#include "publish/server_check/server_check.h"
#include "publish/signing.h"
#include "publish/site_check.h"

namespace tarvo::publish {

namespace {

// The report of both checks: problems, then warnings, then the verdict on `page`; 1 when
// there are problems.
int Report(const std::string& page, const std::vector<std::string>& problems,
           const std::vector<std::string>& warnings, const std::string& verdict,
           std::ostream& out) {
  for (const std::string& problem : problems) out << problem << "\n";
  for (const std::string& warning : warnings) out << "warning: " << warning << "\n";
  if (!problems.empty()) {
    out << page << ": " << problems.size() << " problem(s)\n";
    return 1;
  }
  out << page << ": " << verdict << "\n";
  return 0;
}

int RunServerCheck(const CheckOptions& options, std::ostream& out) {
  const ServerCheck check = CheckServer(options.site.string());
  return Report(check.pageUrl, check.problems, check.warnings,
                "every entry's archive is served as launchers need it", out);
}

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  if (options.server) return RunServerCheck(options, out);
  std::vector<std::string> problems;
  SiteNotes notes;
  try {
    std::optional<PublicKey> key;
    if (options.publicKey) key = ParsePublicKey(*options.publicKey);
    problems =
        CheckSite(options.site, options.archives, key, &notes, options.signedSince, options.store);
  } catch (const std::exception& failure) {
    err << "tarvo-publish: " << failure.what() << "\n";
    return 1;
  }
  for (const std::string& removal : notes.removals) out << removal << "\n";
  std::string verdict = "every entry has its archive";
  if (options.publicKey) {
    verdict += ", signed for its versions";
    if (options.signedSince) verdict += " from " + VersionsText(*options.signedSince) + " on";
  }
  return Report((options.site / kPageName).string(), problems, notes.unservable, verdict, out);
}

}  // namespace

int RunTool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  Command command;
  try {
    command = ParseCommandLine(arguments);
  } catch (const UsageError& usage) {
    err << "tarvo-publish: " << usage.what() << "\n(tarvo-publish --help tells how to use it)\n";
    return 2;
  }
  switch (command.kind) {
    case Command::Kind::kHelp:
      out << kUsageText;
      return 0;
    case Command::Kind::kVersion:
      out << "tarvo-publish " TARVO_VERSION_TEXT "\n";
      return 0;
    case Command::Kind::kCheck:
      return RunCheck(command.check, out, err);
    case Command::Kind::kPublish:
      return RunPublish(command.publish, out, err);
    case Command::Kind::kKeygen:
      return RunKeygen(command.keys.keyFile, out, err);
    case Command::Kind::kPubkey:
      return RunPubkey(command.keys.keyFile, out, err);
    case Command::Kind::kSign:
      return RunSign(command.keys.keyFile, command.keys.archives, out, err);
    case Command::Kind::kInspect:
      return RunInspect(command.launchers, out, err);
  }
  return 2;
}

}  // namespace tarvo::publish
