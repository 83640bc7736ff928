#include "platform/posix/spawn_gate.h"

namespace tarvo {

std::shared_mutex& SpawnGate() {
  static std::shared_mutex gate;
  return gate;
}

}  // namespace tarvo
