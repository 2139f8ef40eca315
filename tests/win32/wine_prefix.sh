#!/usr/bin/env bash
# A private Wine prefix for one test run: `create` makes it afresh, `stop`
# ends its Wine server. WINEPREFIX names it.
set -eu
case $1 in
create)
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver --wait
  ;;
stop)
  wineserver --kill 2>/dev/null || true
  ;;
esac
