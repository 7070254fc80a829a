#!/usr/bin/env bash
# Prints, per test program of a CTest run, its GoogleTest cases and how many of them passed, were
# skipped and failed, from CTest's log of that run (BUILD/Testing/Temporary/LastTest.log).
# With --not-run (the machine cannot run that set), it lists the programs CTest would have run, with
# the CTest arguments given, each as not run: never as passed.
set -eu
if [ "${1:-}" = --not-run ]; then
  build=${2:?usage: count-tests.sh --not-run BUILD_DIR [ctest args]}
  shift 2
  printf '%-40s %s\n' program result
  ctest --test-dir "$build" -N "$@" | sed -n 's/^ *Test *#[0-9]*: *//p' |
    while read -r name; do printf '%-40s %s\n' "$name" 'not run (machine)'; done
  exit 0
fi
log=${1:?usage: count-tests.sh BUILD_DIR}/Testing/Temporary/LastTest.log
[ -f "$log" ] || exit 0
awk '
  function flush() {
    if (name == "") return
    if (ran == "-") failed = "ended early"
    printf "%-40s %5s %6s %7s %6s\n", name, ran, passed, skipped, failed
  }
  BEGIN { printf "%-40s %5s %6s %7s %6s\n", "program", "cases", "passed", "skipped", "failed" }
  /^[0-9]+\/[0-9]+ Test: / { flush(); name = $3; ran = "-"; passed = 0; skipped = 0; failed = 0 }
  /^\[==========\] [0-9]+ tests? from .* ran\./ { ran = $2 }
  /^\[  PASSED  \] [0-9]+ tests?\./ { passed = $4 }
  /^\[  SKIPPED \] [0-9]+ tests?, listed below:/ { skipped = $4 }
  /^\[  FAILED  \] [0-9]+ tests?, listed below:/ { failed = $4 }
  END { flush() }
' "$log"
