#pragma once
// tarvo-publish as a whole: the command line in, the exit status out.

#include <ostream>
#include <string>
#include <vector>

namespace tarvo::publish {

// Runs the command that `arguments` (without the program name) give. Reports go to `out`;
// warnings, errors and progress to `err`. Returns the exit status: 0 done, 1 refused or failed
// (for --check: problems found), 2 bad command line. Never throws but for lack of memory.
int RunTool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace tarvo::publish
