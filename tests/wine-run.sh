#!/usr/bin/env bash
# Runs one Windows test program under Wine, with the loader, prefix and display that ./dev set up.
set -u
export WINEDEBUG=${WINEDEBUG:--all} LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml="
: "${WINELOADER:?WINELOADER must be set (run the tests through ./dev test)}"
: "${WINEPREFIX:?WINEPREFIX must be set (run the tests through ./dev test)}"
: "${DISPLAY:?DISPLAY must be set (run the tests through ./dev test)}"
cd "$(dirname "$1")" && exec "$WINELOADER" "$@"
