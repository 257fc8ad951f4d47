# Shared by the scripts: paths, setup on first use, a private X server and a kept wineserver.
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${LUMETRA_BUILD:-$top/build}"
# libcurl in the program honours these; the stand-ins listen on 127.0.0.1 and no proxy reaches them.
unset http_proxy https_proxy all_proxy HTTP_PROXY HTTPS_PROXY ALL_PROXY
export WINEPREFIX="$build/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

lumetra_build() {
  "$top/scripts/setup"
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake"
  fi
  cmake --build "$build" -j "$(nproc)"
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
