#!/usr/bin/env bash
# Runs one Windows test program under Wine, in the prefix and display that ./dev set up. An i686
# program needs WINELOADER and WINESERVER of the WoW64 tree (CTest sets them for the i686 tests).
set -u
export WINELOADER=${WINELOADER:-/usr/lib/wine/wine64} WINEDEBUG=${WINEDEBUG:--all} LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
: "${WINEPREFIX:?WINEPREFIX must be set (run the tests through ./dev test)}"
: "${DISPLAY:?DISPLAY must be set (run the tests through ./dev test)}"
cd "$(dirname "$1")" && exec "$WINELOADER" "$@"
