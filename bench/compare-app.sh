#!/usr/bin/env bash
# The controller as a user meets it, against a bare Qt Widgets window of a few controls (the
# AT-SPI tests' stand-in) under the same conditions: Xvfb, a session bus and the accessibility
# bus of its own (tests/app_atspi/run.sh), accessibility on. For each: the time from the start
# of the process to its window shown (median and spread of RUNS starts, default 5), and the CPU
# time it uses over IDLE_SECONDS (default 60) of doing nothing: the goal is none beyond the
# one-second status check.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${QRB_BUILD_DIR:-$top/build/release}
controller=$build/tftp-controller/tftp-controller/tftp-controller
standin=$build/tests/app_atspi/app_atspi_standin
for program in "$controller" "$standin"; do
  [ -x "$program" ] || { echo "$program is not built" >&2; exit 1; }
done
QRB_APP_SECONDS=900 exec bash "$top/tests/app_atspi/run.sh" measure "$controller" tftp-controller \
  "$standin" app-atspi-standin
