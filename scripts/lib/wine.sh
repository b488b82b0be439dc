# Which Windows core this machine can run under Wine, and how: the 32-bit
# product core where the kernel runs 32-bit programs and Wine's 32-bit loader
# is installed, else the 64-bit test build of the same core under wine64.
# Sourced, not run.
#
#   wine_choose BUILD_DIR   sets WINE_LOADER, WINE_CORE (the core file),
#                           WINE_CORE_NAME (in words)
#   wine_prefix DIR         uses DIR as the Wine prefix, made when missing
wine_choose() {
  local lib
  lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  if "$lib/../can-run-32bit" > /dev/null && [ -x /usr/lib/wine/wine ]; then
    WINE_LOADER=/usr/lib/wine/wine
    WINE_CORE=$1/varnow-sfx.exe
    WINE_CORE_NAME="Windows core (32-bit)"
  else
    WINE_LOADER=/usr/lib/wine/wine64
    export WINELOADER=$WINE_LOADER
    WINE_CORE=$1/varnow-sfx64.exe
    WINE_CORE_NAME="Windows core (64-bit test build)"
  fi
}

wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  if [ ! -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 wineboot -i \
      < /dev/null > "$WINEPREFIX.log" 2>&1
  fi
}
