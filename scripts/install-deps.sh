#!/usr/bin/env bash
# Installs what building and testing showfile needs, where it is missing.
# On Debian or Ubuntu it uses apt-get (as root, or through sudo); elsewhere it
# stops with the list of what to install.
#
#   install-deps.sh run     enough to build the native program
#   install-deps.sh test    everything the tests need too
set -eu
want=${1:-test}

# Debian package : a file or command that shows it is there.
need=(
  "cmake:cmake"
  "make:make"
  "g++:g++"
  "util-linux:flock"
)
if [ "$want" = test ]; then
  need+=(
    "libgtest-dev:/usr/include/gtest/gtest.h"
  )
fi

missing=()
for entry in "${need[@]}"; do
  package=${entry%%:*} probe=${entry#*:}
  case $probe in
  /*) [ -e "$probe" ] || missing+=("$package") ;;
  *) command -v "$probe" >/dev/null 2>&1 || missing+=("$package") ;;
  esac
done
[ ${#missing[@]} = 0 ] && exit 0

if ! command -v apt-get >/dev/null 2>&1; then
  echo "Please install: ${missing[*]}" >&2
  exit 1
fi
sudo=
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "Run as root, or install: ${missing[*]}" >&2; exit 1; }
  sudo=sudo
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
