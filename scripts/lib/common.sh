# Shared by the scripts: repository paths and the Debian packages each of them
# needs.
VELQA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export VELQA_ROOT

# Package groups. Names are the ones Debian 12 and 13 and Ubuntu 24.04 share;
# "a|b" takes the first that the package archive offers. Nothing names an LLVM
# version: clang and libclang-rt-dev (libFuzzer's runtime comes with it) are
# the distribution's default pair.
# nlohmann-json3-dev: the stand-ins read JSON with it, and every preset, the
# bundle of scripts/run and the packages build the stand-ins.
VELQA_PACKAGES_BUILD=(cmake ninja-build python3 nlohmann-json3-dev)
# Cross-building the Windows program and running it under Wine; the fonts
# give Wine's captions and notices their Chinese glyphs.
VELQA_PACKAGES_WINDOWS=(
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix
  "wine64|wine" wine xvfb x11-utils fonts-wqy-microhei
)
VELQA_PACKAGES_GTEST=(googletest libgtest-dev libgmock-dev)
# The Windows tests also need a 32-bit x86 library (the wrong-architecture
# WinTun case), GoogleTest's sources to cross-build it, and makensis for the
# installer tests; locales has the locale sources and character maps from
# which the code-page tests compile a Chinese and a Western locale.
VELQA_PACKAGES_WINDOWS_TESTS=(gcc-mingw-w64-i686-posix googletest nsis locales)
# scripts/package: the Windows build and makensis.
VELQA_PACKAGES_PACKAGE=(nsis)
VELQA_PACKAGES_NATIVE=(g++)
VELQA_PACKAGES_FUZZ=(clang "libclang-rt-dev|libclang-rt-@CLANG@-dev")
VELQA_PACKAGES_BENCH=(g++ libbenchmark-dev libspdlog-dev libmsgpack-cxx-dev)

# The packages a CMake preset needs, one per line.
velqa_packages_for_preset() {
  local p
  for p in "${VELQA_PACKAGES_BUILD[@]}"; do echo "$p"; done
  case "$1" in
    native | asan | tsan) printf '%s\n' "${VELQA_PACKAGES_NATIVE[@]}" "${VELQA_PACKAGES_GTEST[@]}" ;;
    windows) printf '%s\n' "${VELQA_PACKAGES_WINDOWS[@]}" "${VELQA_PACKAGES_WINDOWS_TESTS[@]}" ;;
    fuzz) printf '%s\n' "${VELQA_PACKAGES_FUZZ[@]}" ;;
    release) printf '%s\n' "${VELQA_PACKAGES_BENCH[@]}" ;;
    windows-release) printf '%s\n' "${VELQA_PACKAGES_WINDOWS[@]}" "${VELQA_PACKAGES_PACKAGE[@]}" ;;
  esac
}

velqa_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
velqa_available() { apt-cache show "$1" 2>/dev/null | grep -q '^Package:'; }

# The major version of the clang the archive would install (or has installed).
velqa_clang_major() {
  if command -v clang >/dev/null 2>&1; then
    clang --version | sed -nE '1s/.*clang version ([0-9]+).*/\1/p'
  else
    apt-cache depends clang 2>/dev/null | sed -nE 's/.*Depends: clang-([0-9]+)$/\1/p' | head -1
  fi
}

velqa_apt_update() {
  echo "packages: reading the package lists (apt-get update)"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -q >"${TMPDIR:-/tmp}/velqa-apt-update.$$" 2>&1 ||
    { cat "${TMPDIR:-/tmp}/velqa-apt-update.$$"; rm -f "${TMPDIR:-/tmp}/velqa-apt-update.$$"; return 1; }
  rm -f "${TMPDIR:-/tmp}/velqa-apt-update.$$"
}

# A package name with @CLANG@ replaced by that major version.
velqa_package_name() {
  case "$1" in
    *@CLANG@*) echo "${1//@CLANG@/$(velqa_clang_major)}" ;;
    *) echo "$1" ;;
  esac
}

# Installs whichever of the named packages ("a|b" alternatives allowed) are
# missing, showing what and apt-get's progress; a no-op when all are there.
velqa_install_packages() {
  local missing=() wanted choice alternatives updated=0 sudo="" p
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  for wanted in "$@"; do
    IFS='|' read -r -a alternatives <<<"$wanted"
    choice=""
    for p in "${alternatives[@]}"; do
      velqa_installed "$(velqa_package_name "$p")" && { choice=installed; break; }
    done
    [ "$choice" = installed ] && continue
    if [ ${#alternatives[@]} -gt 1 ] && [ "$updated" -eq 0 ]; then
      velqa_apt_update || return 1
      updated=1
    fi
    for p in "${alternatives[@]}"; do
      p=$(velqa_package_name "$p")
      if [ ${#alternatives[@]} -eq 1 ] || velqa_available "$p"; then choice=$p; break; fi
    done
    [ -n "$choice" ] || { echo "packages: none of $wanted is in the package archive" >&2; return 1; }
    case " ${missing[*]} " in *" $choice "*) ;; *) missing+=("$choice") ;; esac
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "packages: installing ${missing[*]}"
  if [ "$updated" -eq 0 ]; then velqa_apt_update || return 1; fi
  # -q: one line per download and per unpacked and configured package, no
  # progress bars (the output may go to a file or a CI log).
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q \
    "${missing[@]}" 2>&1 | grep --line-buffered -E '^(Get:|Setting up|E:|W:|Need to get|[0-9]+ upgraded)' |
    sed -u 's/^/  /'
  for p in "${missing[@]}"; do
    velqa_installed "$p" || { echo "packages: $p did not install" >&2; return 1; }
  done
  echo "packages: done"
}
