// tarvo-publish: publishes updates for the launcher (see --help).

#include <iostream>
#include <string>
#include <vector>

#include "publish/tool.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return tarvo::publish::RunTool(arguments, std::cout, std::cerr);
}
