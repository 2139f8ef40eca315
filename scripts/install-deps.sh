#!/usr/bin/env bash
# Installs what building and testing showfile needs, where it is missing.
# On Debian or Ubuntu it uses apt-get (as root, or through sudo), enabling the
# foreign architectures it takes packages from (i386 for Wine's 32-bit half
# and musl, s390x for musl); elsewhere it stops with the list of what to
# install.
#
#   install-deps.sh run     the native program, showfile.exe and Wine
#   install-deps.sh check   that, and what the quick check needs
#   install-deps.sh test    that, and what every test needs
#   install-deps.sh bench   that, and what the benchmarks need
set -eu
want=${1:-test}

# package  a command or file that shows it is there, where dpkg is missing
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
  "libgtest-dev /usr/include/gtest/gtest.h"
  "gcc-mingw-w64-i686 i686-w64-mingw32-gcc"
  "mingw-w64-i686-dev /usr/i686-w64-mingw32/include/windows.h"
  "mingw-w64-x86-64-dev /usr/x86_64-w64-mingw32/include/windows.h"
  "wine wine"
  "wine32:i386 /usr/lib/wine/wineserver32"
  "wine64 /usr/lib/wine/wineserver64"
  "wine32-preloader:i386 /usr/lib/wine/wine-preloader"
  "qemu-user-static qemu-i386-static"
)
[ "$want" = run ] || need+=("strace strace")
if [ "$want" = test ] || [ "$want" = bench ]; then
  need+=("valgrind valgrind")
fi
# The cross presets: 32-bit x86 and big-endian s390x, with musl for each;
# and what the package tests use.
if [ "$want" = test ]; then
  need+=(
    "lintian lintian"
    "unzip unzip"
    "g++-i686-linux-gnu i686-linux-gnu-g++"
    "g++-s390x-linux-gnu s390x-linux-gnu-g++"
    "musl-dev:i386 /usr/lib/i386-linux-musl/musl-gcc.specs"
    "musl-dev:s390x /usr/lib/s390x-linux-musl/musl-gcc.specs"
  )
fi
if [ "$want" = bench ]; then
  need+=(
    "libbenchmark-dev /usr/include/benchmark/benchmark.h"
    "hyperfine hyperfine"
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

sudo=
if [ "$(id -u)" != 0 ] && command -v sudo >/dev/null 2>&1; then
  sudo=sudo
fi
updated=

# install ENTRY...: installs the packages of the entries that are missing.
install() {
  local missing=() entry package probe
  for entry in "$@"; do
    read -r package probe <<<"$entry"
    present "$package" "$probe" || missing+=("$package")
  done
  [ ${#missing[@]} = 0 ] && return 0
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "Please install: ${missing[*]}" >&2
    exit 1
  fi
  if [ "$(id -u)" != 0 ] && [ -z "$sudo" ]; then
    echo "Run as root, or install: ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  local arch
  for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/.*://p' | sort -u); do
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      $sudo dpkg --add-architecture "$arch"
      updated=
    fi
  done
  export DEBIAN_FRONTEND=noninteractive
  # A source that can't be reached (only Debian's archive may be) leaves its
  # lists out; what is needed comes from Debian's.
  [ -n "$updated" ] || $sudo apt-get update -q || echo "apt-get update had trouble; going on"
  updated=yes
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install "${need[@]}"

# The fuzzer and the sanitizers need the runtime of the clang now installed,
# which Debian packages per major version.
if [ "$want" = test ]; then
  major=$(clang -dumpversion | cut -d. -f1)
  install "libclang-rt-$major-dev /usr/lib/llvm-$major/lib/clang/$(clang -dumpversion)/lib/linux"
fi

# Some kernels are built or booted without 32-bit support (ia32_emulation=off)
# and refuse to start Wine's 32-bit loader. Then the kernel is told to hand
# i386 programs to qemu's user-mode emulator. The server and wineboot are
# Wine's 64-bit ones, native either way; the preloader keeps the 32-bit
# loader's address-space set-up to a few calls, which under the emulator
# would otherwise take most of a minute.
i386_runs() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}
if ! i386_runs; then
  misc=/proc/sys/fs/binfmt_misc
  echo "This kernel doesn't run 32-bit programs; handing them to qemu-i386-static"
  [ -e $misc/register ] || $sudo mount -t binfmt_misc binfmt_misc $misc
  [ -e $misc/qemu-i386 ] && echo -1 | $sudo tee $misc/qemu-i386 >/dev/null
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $sudo tee $misc/register >/dev/null
  i386_runs || { echo "Wine's 32-bit loader still doesn't start" >&2; exit 1; }
fi
