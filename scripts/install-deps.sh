#!/usr/bin/env bash
# Installs what building and testing showfile needs, where it is missing.
# On Debian or Ubuntu it uses apt-get (as root, or through sudo), enabling the
# i386 architecture that Wine's 32-bit half needs; elsewhere it stops with the
# list of what to install.
#
#   install-deps.sh run     the native program, showfile.exe and Wine
#   install-deps.sh test    all that, and what the tests need too
#   install-deps.sh bench   all that, and what the benchmarks need
set -eu
want=${1:-test}

# package  a command or file that shows it is there, where apt is missing
need=(
  "cmake cmake"
  "make make"
  "g++ g++"
  "util-linux flock"
  "musl-tools musl-gcc"
  "clang clang++"
  "lld ld.lld"
  "llvm llvm-dlltool"
  "binutils objdump"
  "gcc-mingw-w64-i686 i686-w64-mingw32-gcc"
  "mingw-w64-i686-dev /usr/i686-w64-mingw32/include/windows.h"
  "wine wine"
  "wine32:i386 /usr/lib/wine/wineserver32"
)
if [ "$want" != run ]; then
  need+=(
    "libgtest-dev /usr/include/gtest/gtest.h"
    "valgrind valgrind"
  )
fi
if [ "$want" = bench ]; then
  need+=(
    "libbenchmark-dev /usr/include/benchmark/benchmark.h"
    "hyperfine hyperfine"
    "strace strace"
    "gnuplot-nox gnuplot"
  )
fi

present() {
  if command -v dpkg-query >/dev/null 2>&1; then
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'
  else
    case $2 in
    /*) [ -e "$2" ] ;;
    *) command -v "$2" >/dev/null 2>&1 ;;
    esac
  fi
}

missing=()
for entry in "${need[@]}"; do
  read -r package probe <<<"$entry"
  present "$package" "$probe" || missing+=("$package")
done
# The fuzzer and the sanitizers need clang's runtime, packaged per version.
if [ "$want" != run ]; then
  if command -v clang >/dev/null 2>&1; then
    major=$(clang -dumpversion | cut -d. -f1)
  else
    major=$(apt-cache depends clang 2>/dev/null | awk -F'clang-' '/Depends: clang-[0-9]/ { print $2; exit }')
  fi
  runtime=libclang-rt-${major:-14}-dev
  present "$runtime" "/usr/lib/llvm-${major:-14}/lib/clang" || missing+=("$runtime")
fi
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
if [[ " ${missing[*]} " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
