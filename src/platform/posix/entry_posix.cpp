// The program's entry on POSIX.

#include <cstdlib>

#include "platform/framework.h"

int main() {
  const int status = tarvo::AfxRunApplication();
  // Download workers that are still running end with the process, without running static
  // destructors under their feet.
  std::_Exit(status);
}
