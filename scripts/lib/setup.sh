# Shared by scripts/test and scripts/demo: packages and the warm Wine server.

ZORVIA_PACKAGES=(
  cmake ninja-build g++ googletest libgtest-dev libgmock-dev nlohmann-json3-dev
  g++-mingw-w64-x86-64-posix wine64
  clang-19 libclang-rt-19-dev llvm-19 libicu-dev unicode-data socat util-linux
  chromium
)

install_missing_packages() {
  local missing=()
  for p in "${ZORVIA_PACKAGES[@]}" ${ZORVIA_EXTRA_PACKAGES:-}; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
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
