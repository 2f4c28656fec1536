#!/bin/sh
# Runs one Windows program under wine, headless, in the given prefix (created
# on first use), and waits until that prefix's wine server has ended, so that
# a test run leaves no process behind.
#   wine_run.sh WINE WINESERVER PREFIX PROGRAM [ARGUMENT...]
set -u
wine=$1
wineserver=$2
export WINEPREFIX="$3"
shift 3
export WINEDEBUG=-all
# No Mono or Gecko installers at prefix creation; no display of any kind.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# A server that ends as soon as its last process has.
"$wineserver" -p0
"$wine" "$@"
status=$?
if ! timeout 60 "$wineserver" -w; then
    echo "wine_run.sh: processes still running in $WINEPREFIX; ending them" >&2
    "$wineserver" -k
    status=1
fi
exit $status
