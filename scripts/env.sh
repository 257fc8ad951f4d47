# Shared by the scripts: paths, setup on first use, a private X server and a kept wineserver.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${LUMETRA_BUILD:-$top/build}"
# libcurl in the program honours these; the stand-ins listen on 127.0.0.1 and no proxy reaches them.
unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The Wine that runs this build's programs (scripts/arch): 32-bit, or where the machine runs no
# 32-bit code, 64-bit Wine with a 64-bit build of the same sources.
lumetra_wine() {
  LUMETRA_ARCH=$("$top/scripts/arch")
  export LUMETRA_ARCH
  if [ "$LUMETRA_ARCH" = x86_64 ]; then
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    # Debian's wine and wine-stable commands take the 32-bit loader whenever it is installed.
    local shims="$top/.deps/wine64-bin"
    if [ ! -x "$shims/wine-stable" ]; then
      mkdir -p "$shims"
      printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' > "$shims/wine"
      chmod +x "$shims/wine" && cp "$shims/wine" "$shims/wine-stable"
    fi
    case ":$PATH:" in *":$shims:"*) ;; *) export PATH="$shims:$PATH" ;; esac
  else
    export WINEARCH=win32
  fi
}

lumetra_build() {
  "$top/scripts/setup"
  lumetra_wine
  local toolchain="$top/cmake/mingw-$LUMETRA_ARCH.cmake"
  # A build folder made for the other architecture starts again.
  if [ -f "$build/CMakeCache.txt" ] && ! grep -q "^CMAKE_TOOLCHAIN_FILE:.*=$toolchain\$" "$build/CMakeCache.txt"; then
    rm -rf "$build"
  fi
  if [ ! -f "$build/build.ninja" ]; then
    local deps=()
    [ "$LUMETRA_ARCH" = x86_64 ] && deps=(-DLUMETRA_DEPS="$top/.deps/x86_64")
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${deps[@]}"
  fi
  cmake --build "$build" -j "$(nproc)"
  # The program the users run is 32-bit: it is built whichever Wine runs the tests.
  if [ "$LUMETRA_ARCH" != i686 ]; then
    if [ ! -f "$build/i686/build.ninja" ]; then
      cmake -S "$top" -B "$build/i686" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
    fi
    cmake --build "$build/i686" -j "$(nproc)" --target Lumetra
  fi
}

# Starts Xvfb on a free display number and exports DISPLAY; stopped by lumetra_cleanup.
lumetra_xvfb() {
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && return; sleep 0.1; done
}

lumetra_wineserver() {
  lumetra_wine
  "$top/scripts/wine-run" --init "$build"
  wineserver -p >/dev/null 2>&1
  # Start Wine's own background processes now, with no pipes of ours: else the first test would
  # start them holding its output pipe open, and ctest would wait for them.
  wine wineboot >/dev/null 2>&1 </dev/null || true
}

lumetra_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
}
