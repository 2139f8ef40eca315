#!/usr/bin/env bash
# Installs what a make command needs from Debian's or Ubuntu's archive with
# apt-get (as root, or through sudo), preset by preset: where apt refuses one
# preset's packages (a mirror half synced), the others still run. Writes the
# presets that can run to build/presets, those refused to build/left-out.
#   install-deps.sh install|run|check|test|bench
#   install-deps.sh left-out [COMMAND]   then, if apt refused any: a line on
#                                        them and how to run them, exit 1
set -eu
cd "$(dirname "$0")/.."
want=${1:-test}

# What each preset needs. A package marked "?" is wanted, but its preset goes on
# without it (Ubuntu has no musl for i386; some releases' clang has its runtime).
common="cmake make g++ libgtest-dev musl-tools?"
windows="clang lld llvm wine wine64"
declare -A needs=(
  [check]="util-linux strace"
  [native]="util-linux strace valgrind lintian"
  [asan]="clang libclang-rt-dev? strace"
  [win32]="$windows wine32:i386 wine32-preloader:i386? mingw-w64-i686-dev qemu-user-static"
  [win64]="$windows mingw-w64-x86-64-dev"
  [i686]="g++-i686-linux-gnu qemu-user-static musl-dev:i386? strace"
  [s390x]="g++-s390x-linux-gnu qemu-user-static musl-dev:s390x? strace"
  [bench]="libbenchmark-dev time valgrind strace gnuplot-nox busybox-static toybox rust-coreutils?"
)

case $want in
install | check | bench) presets=$want ;;
run) presets="install win32 win64" ;;
test) presets="native asan win32 win64 i686 s390x" ;;
left-out)
  refused=$(echo $(cat build/left-out 2>/dev/null))
  [ -z "$refused" ] || echo "Left out, as apt refused their packages: $refused. Once apt installs" \
    "them, the same make command runs them; or install them by hand and run: make ${2:-$refused}"
  exit $((${#refused} > 0)) ;;
*) echo "usage: $0 install|run|check|test|bench|left-out" >&2 && exit 2 ;;
esac

# missing PRESET: the packages of PRESET that aren't installed, one a line.
# Only the Windows presets' tests, not make run, use pefile and unzip.
missing() {
  local package list="$common ${needs[$1]:-}"
  [[ $want != test || $1 != win* ]] || list+=" python3-pefile unzip"
  for package in $list; do
    dpkg-query -W -f='${Status}' "${package%\?}" 2>/dev/null | grep -q 'ok installed' || echo "$package"
  done
}
sudo=$([ "$(id -u)" = 0 ] || echo sudo)
apt_install() { $sudo apt-get install -y -q --no-install-recommends "$@"; }

mkdir -p build && : >build/left-out
runnable=$presets added=
command -v dpkg-query >/dev/null || { echo "No dpkg: taking what the presets need as installed" &&
  printf '%s\n' $presets >build/presets && exit 0; }
all=$(for preset in $presets; do missing "$preset"; done | sort -u)
if grep -q '[^?]$' <<<"$all"; then
  command -v apt-get >/dev/null && { [ -z "$sudo" ] || command -v sudo >/dev/null; } ||
    { echo "Please install, as root:" $(grep -v '?$' <<<"$all") >&2 && exit 1; }
  export DEBIAN_FRONTEND=noninteractive
  for arch in $(sed -n 's/^[^:]*:\([a-z0-9]*\)?*$/\1/p' <<<"$all" | sort -u); do
    dpkg --print-foreign-architectures | grep -qx "$arch" || { $sudo dpkg --add-architecture "$arch" && added+=" $arch"; }
  done
  # A list that can't be fetched leaves apt with the ones it has.
  $sudo apt-get update -q -o Acquire::Retries=3 || echo "apt-get update failed; going on with the lists it has"
  runnable=
  for preset in $presets; do
    wanted=$(missing "$preset")
    needed=$(grep -v '?$' <<<"$wanted" || true)
    if [ -n "$needed" ] && ! apt_install $needed; then
      echo "Leaving out the $preset preset: apt refused its packages"
      echo "$preset" >>build/left-out
      continue
    fi
    for package in $(grep '?$' <<<"$wanted" | tr -d '?'); do
      apt_install "$package" || echo "The $preset preset goes on without $package"
    done
    runnable+=" $preset"
  done
  # An architecture enabled for nothing that could be installed goes again.
  for arch in $added; do
    dpkg-query -W -f='${Architecture}\n' | grep -qx "$arch" || $sudo dpkg --remove-architecture "$arch"
  done
fi
# Without the native program's own packages nothing else can be built.
[[ $want == test || " $runnable " == *" ${presets%% *} "* ]] ||
  { echo "Can't go on: what make $want needs can't be installed (see above)" >&2 && exit 1; }
printf '%s\n' $runnable >build/presets

# A kernel without 32-bit support (ia32_emulation=off) won't start Wine's 32-bit
# loader: it hands i386 programs to qemu (the preloader keeps that to seconds).
if grep -qx win32 build/presets && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  misc=/proc/sys/fs/binfmt_misc
  echo "This kernel doesn't run 32-bit programs; handing them to qemu-i386-static"
  [ -e $misc/register ] || $sudo mount -t binfmt_misc binfmt_misc $misc
  [ -e $misc/qemu-i386 ] && echo -1 | $sudo tee $misc/qemu-i386 >/dev/null
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $sudo tee $misc/register >/dev/null
  /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "Wine's 32-bit loader still doesn't start" >&2; exit 1; }
fi
