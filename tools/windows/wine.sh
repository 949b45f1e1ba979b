#!/usr/bin/env bash
# Running the Windows build's programs under Wine, with one prefix per build folder.
#
#   wine.sh prefix BUILD_DIR                 make BUILD_DIR/wine once (wineboot)
#   wine.sh run BUILD_DIR LOADER EXE ARG...  run one program (ctest's emulator)
#   wine.sh ctest BUILD_DIR [CTEST ARG...]   the prefix, a persistent wineserver, ctest
#
# LANG=ja_JP.UTF-8 gives the ANSI code page 932 of the shops' machines; WINEDEBUG=-all
# keeps Wine's own diagnostics out of the tests' output.
set -euo pipefail

command=${1:?usage: wine.sh prefix|run|ctest BUILD_DIR ...}
BUILD_DIR=$(cd "${2:?usage: wine.sh $command BUILD_DIR ...}" && pwd)
shift 2

export WINEPREFIX=$BUILD_DIR/wine
export WINEDEBUG=-all
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
# A 64-bit prefix: it runs 64-bit programs, and 32-bit ones where Wine's 32-bit loader
# can run (it cannot on machines without 32-bit Linux programs).
WINE64=/usr/lib/wine/wine64

make_prefix() {
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  echo "== making the Wine prefix $WINEPREFIX"
  local start=$SECONDS
  # Without a display nothing is shown; the 32-bit half fails quietly where it cannot run.
  WINELOADER=$WINE64 DISPLAY= "$WINE64" wineboot -i >/dev/null 2>&1 || true
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine.sh: wineboot made no prefix in $WINEPREFIX" >&2; exit 1; }
  echo "== Wine prefix made in $((SECONDS - start)) s"
}

case $command in
  prefix)
    make_prefix
    ;;
  run)
    loader=${1:?usage: wine.sh run BUILD_DIR LOADER EXE ARG...}
    shift
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine.sh: no Wine prefix yet; run: $0 prefix $BUILD_DIR" >&2; exit 1; }
    # Debian's "wine" starts the 32-bit loader; the 64-bit one needs WINELOADER.
    [ "$loader" = "$WINE64" ] && export WINELOADER=$WINE64
    exec "$loader" "$@"
    ;;
  ctest)
    make_prefix
    # One persistent server for the whole run: without it each program waits about two
    # seconds for Wine's background processes to let go of its output.
    wineserver -p 2>/dev/null || true  # one may run already for this prefix
    trap 'wineserver -k 2>/dev/null || true' EXIT
    # Wine's background programs (services, device drivers) start with the first program and
    # stay as long as the server: started here, they hold /dev/null instead of a test's
    # output pipe, which ctest would otherwise wait on until its time-out.
    WINELOADER=$WINE64 "$WINE64" cmd /c exit </dev/null >/dev/null 2>&1 || true
    ctest --test-dir "$BUILD_DIR" "$@"
    ;;
  *)
    echo "wine.sh: unknown command $command" >&2
    exit 2
    ;;
esac
