#pragma once
// A child being spawned holds copies of every descriptor of this process, and with them the
// flock locks they carry, from the moment it is made until it has closed them and runs its
// program. A file closed and then opened again with its lock meanwhile (a download checking its
// archive) would find itself locked by that child. Spawning holds this gate alone; taking a
// lock passes it shared, so no lock is tried while a child holds copies.

#include <shared_mutex>

namespace tarvo {

std::shared_mutex& SpawnGate();

}  // namespace tarvo
