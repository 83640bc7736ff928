#pragma once
// Publishing one update: the archive on the site and its entry in the version list.

#include <ostream>

#include "publish/command_line.h"

namespace tarvo::publish {

// Checks everything first, then writes the archive and the page (each beside its place and
// moved there at the end), so that a refusal or a failure leaves the disk as it was. Reports to
// `out`; warnings, refusals and progress go to `err`. Returns the exit status: 0 published (or
// shown, for a dry run), 1 refused or failed.
int RunPublish(const PublishOptions& options, std::ostream& out, std::ostream& err);

}  // namespace tarvo::publish
