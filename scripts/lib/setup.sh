# Shared by scripts/test and scripts/demo: packages and the warm Wine server.

# What each preset needs beyond cmake and ninja, from Debian's packages.
packages_for_preset() {
  local native_tests="g++ libgtest-dev libgmock-dev nlohmann-json3-dev socat util-linux"
  case "$1" in
    # The ICU and Unicode data checks of the case tables, and the browser test.
    linux | linux-asan) echo "$native_tests libicu-dev unicode-data python3 chromium" ;;
    # llvm-19's symbolizer: clang 19's ThreadSanitizer refuses older ones.
    linux-tsan) echo "$native_tests clang-19 libclang-rt-19-dev llvm-19" ;;
    linux-fuzz) echo "g++ nlohmann-json3-dev clang-19 libclang-rt-19-dev" ;;
    # GoogleTest is compiled from its sources for MinGW.
    windows) echo "g++-mingw-w64-x86-64-posix wine64 googletest nlohmann-json3-dev" ;;
    *) echo "unknown preset $1" >&2; return 1 ;;
  esac
}

# Installs what the given presets need and a fresh machine lacks, plus ZORVIA_EXTRA_PACKAGES.
install_packages_for() {
  local wanted=(cmake ninja-build) missing=() preset p
  for preset in "$@"; do
    read -r -a p <<<"$(packages_for_preset "$preset")"
    wanted+=("${p[@]}")
  done
  for p in "${wanted[@]}" ${ZORVIA_EXTRA_PACKAGES:-}; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    read -r -a missing <<<"$(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')"
    echo "=== installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# One prefix for every Windows program of the build (one wineserver, so one pipe
# namespace), initialised once: its first start takes about ten seconds, later ones 50 ms.
start_wine() {
  export WINEPREFIX="${WINEPREFIX:-$PWD/build/wineprefix}"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "=== initialising the Wine prefix"
    /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  fi
  /usr/lib/wine/wineserver -p >/dev/null 2>&1 || true
  # Bring the prefix's services up before programs start in parallel.
  /usr/lib/wine/wine64 wineboot >/dev/null 2>&1 </dev/null || true
  trap stop_wine EXIT
}

stop_wine() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}
