#!/usr/bin/env bash
# A private Wine prefix for one test run: `create` makes it afresh and leaves
# its server running for the tests to share, `stop` ends the server.
# WINEPREFIX names it.
set -eu
case $1 in
create)
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1
  wineserver --wait
  # The server stays up for the tests to share. It, and the services the
  # first program starts, are kept off the tests' output, which ctest waits
  # on to close.
  wineserver --persistent </dev/null >/dev/null 2>&1
  wine cmd.exe /c exit </dev/null >/dev/null 2>&1
  ;;
stop)
  wineserver --kill 2>/dev/null || true
  ;;
esac
