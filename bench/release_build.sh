# Sourced by benchmarks that run the release build's launcher, from the repository's root:
# release_build TARGET... builds them and sets `build` (the build folder) and `port` (that of
# the launcher's update host, which must be on 127.0.0.1).
release_build() {
  cmake --preset posix-release >/dev/null
  cmake --build --preset posix-release -j2 --target "$@" >/dev/null
  build=build/posix-release
  local host
  host=$(sed -n 's/^TARVO_UPDATE_HOST:STRING=//p' $build/CMakeCache.txt)
  port=${host##*:}
  [ "$port" != "$host" ] || port=80
}
