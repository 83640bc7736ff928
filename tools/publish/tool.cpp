#include "publish/tool.h"

#include "tarvo_version.h"
#include "publish/command_line.h"
#include "publish/publish_command.h"
#include "publish/signing.h"
#include "publish/site_check.h"

namespace tarvo::publish {

namespace {

int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<std::string> problems;
  std::vector<std::string> removals;
  try {
    std::optional<PublicKey> key;
    if (options.publicKey) key = ParsePublicKey(*options.publicKey);
    problems = CheckSite(options.site, options.archives, key, &removals, options.store);
  } catch (const std::exception& failure) {
    err << "tarvo-publish: " << failure.what() << "\n";
    return 1;
  }
  for (const std::string& removal : removals) out << removal << "\n";
  for (const std::string& problem : problems) out << problem << "\n";
  const std::string page = (options.site / kPageName).string();
  if (!problems.empty()) {
    out << page << ": " << problems.size() << " problem(s)\n";
    return 1;
  }
  out << page << ": every entry has its archive"
      << (options.publicKey ? ", signed for its versions\n" : "\n");
  return 0;
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
    case Command::Kind::kSign:
      return RunSign(command.keys.keyFile, command.keys.archives, out, err);
  }
  return 2;
}

}  // namespace tarvo::publish
