# Shared by the scripts: repository paths and the Debian packages we need.
VELQA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export VELQA_ROOT

# Every package the build, the tests, the benchmarks and the fuzzers use.
VELQA_PACKAGES=(
  cmake ninja-build g++ clang libclang-rt-14-dev libfuzzer-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev libmsgpack-cxx-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix
  wine wine64 xvfb x11-utils imagemagick python3
  fonts-wqy-microhei nsis
)

# Installs whichever of the packages are missing; a no-op when all are there.
velqa_install_packages() {
  local missing=() p
  for p in "${VELQA_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq >/dev/null &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}
