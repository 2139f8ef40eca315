#!/usr/bin/env bash
# Installs what building and testing showfile needs, where it is missing.
# On Debian or Ubuntu it uses apt-get (as root, or through sudo). It asks the
# archive what it offers first (apt-cache policy), installs what is there,
# and leaves out, with one line saying why, a preset whose packages the
# archive lacks. A list that apt-get update can't fetch is named; where only
# a foreign architecture's lists are missing, the install prefers the
# release's own suite. Where apt still refuses the install, it installs
# preset by preset and leaves out, named with apt's reason, each preset it
# refuses. A foreign architecture it enables (i386 for Wine's 32-bit half and
# musl, s390x for musl) is disabled again when nothing of it could be
# installed. Elsewhere it stops with the list of what to install.
#
#   install-deps.sh install   the native program
#   install-deps.sh run       that, showfile.exe (both) and Wine
#   install-deps.sh check     that, and what the quick check needs
#   install-deps.sh test      that, and what every preset's tests need
#   install-deps.sh bench     the native program and the benchmarks
#   install-deps.sh left-out  after one of the above: exit status 1 and one
#                             line on what apt refused, if it refused anything
#
# The presets that can run are written to build/presets, one a line, and
# those apt refused to build/left-out, each with apt's reason; "install"
# stands for the native program alone. The command fails when the part it
# was asked for can't be had at all.
#
# For its own test, SHOWFILE_BUILD names another directory for the lists of
# presets, SHOWFILE_OS_RELEASE another os-release file, and SHOWFILE_WINE32
# another 32-bit Wine loader to try.
set -eu
want=${1:-test}
cd "$(dirname "$0")/.."
build=${SHOWFILE_BUILD:-build}

# What each part needs: "package probe" entries, the probe being a command or
# file that shows the package is there where dpkg is missing. A package
# marked "?" is wanted, but the part goes on without it.
# The native preset configures its tests, so GoogleTest is wanted even to
# build the program.
base=("cmake cmake" "make make" "g++ g++" "musl-tools? musl-gcc"
  "libgtest-dev /usr/include/gtest/gtest.h")
windows=("clang clang++" "lld ld.lld" "llvm llvm-dlltool" "wine wine"
  "wine64 /usr/lib/wine/wineserver64")
# What only the Windows presets' tests need, not make run: the image checks
# read the images through pefile and disassemble them with objdump, and the
# ZIP is unpacked.
windows_tests=("python3-pefile /usr/lib/python3/dist-packages/pefile.py" "binutils objdump"
  "unzip unzip")
declare -A parts=(
  [install]=""
  [native]="util-linux:setpriv strace:strace valgrind:valgrind lintian:lintian"
  [check]="util-linux:setpriv strace:strace"
  [asan]="clang:clang++ strace:strace"
  [win32]="qemu-user-static:qemu-i386-static mingw-w64-i686-dev:/usr/i686-w64-mingw32/include/windows.h wine32:i386:/usr/lib/wine/wineserver32 wine32-preloader:i386?:/usr/lib/wine/wine-preloader"
  [win64]="mingw-w64-x86-64-dev:/usr/x86_64-w64-mingw32/include/windows.h"
  [i686]="g++-i686-linux-gnu:i686-linux-gnu-g++ qemu-user-static:qemu-i386-static musl-dev:i386?:/usr/lib/i386-linux-musl/musl-gcc.specs strace:strace"
  [s390x]="g++-s390x-linux-gnu:s390x-linux-gnu-g++ qemu-user-static:qemu-s390x-static musl-dev:s390x?:/usr/lib/s390x-linux-musl/musl-gcc.specs strace:strace"
  [bench]="libbenchmark-dev:/usr/include/benchmark/benchmark.h time:/usr/bin/time valgrind:valgrind strace:strace gnuplot-nox:gnuplot busybox-static:busybox toybox:toybox rust-coreutils?:/usr/lib/cargo/bin/coreutils/cat"
)

if [ "$want" = left-out ]; then
  [ -s "$build/left-out" ] || exit 0
  refused=$(cut -d' ' -f1 "$build/left-out" | tr '\n' ' ' | sed 's/ $//')
  echo "Left out because apt refused their packages: $(sed 's/^\([^ ]*\) /\1 (/; s/$/)/' "$build/left-out" | tr '\n' ';' | sed 's/;$//; s/;/; /g')." \
    "Once apt-get update fetches every list, the same make command installs them; or install their packages by hand and run: make $refused"
  exit 1
fi

case $want in
install) presets=(install) ;;
run) presets=(install win32 win64) ;;
check) presets=(check) ;;
test) presets=(native asan win32 win64 i686 s390x) ;;
bench) presets=(bench) ;;
*)
  echo "usage: $0 install|run|check|test|bench|left-out" >&2
  exit 2
  ;;
esac

# entries PRESET: the preset's "package probe" entries, with what all share.
entries() {
  printf '%s\n' "${base[@]}"
  case $1 in
  win32 | win64)
    printf '%s\n' "${windows[@]}"
    [ "$want" != test ] || printf '%s\n' "${windows_tests[@]}"
    ;;
  esac
  local item
  for item in ${parts[$1]}; do
    # package[:arch][?]:probe
    echo "${item%:*} ${item##*:}"
  done
}

present() {
  if command -v dpkg-query >/dev/null 2>&1; then
    dpkg-query -W -f='${Status}' "${1%\?}" 2>/dev/null | grep -q 'ok installed'
  else
    case $2 in
    /*) [ -e "$2" ] ;;
    *) command -v "$2" >/dev/null 2>&1 ;;
    esac
  fi
}
# Whether the archive offers the package (in an architecture enabled).
offered() {
  apt-cache policy "$1" 2>/dev/null | grep -q 'Candidate: [^(]'
}

missing=()
for preset in "${presets[@]}"; do
  while read -r package probe; do
    present "$package" "$probe" || missing+=("$package")
  done < <(entries "$preset")
done

mkdir -p "$build"
: >"$build/left-out"
runnable=("${presets[@]}")
sudo= prefer=()
apt_install() { $sudo apt-get install -y -q --no-install-recommends "${prefer[@]}" "$@"; }
# shown COMMAND...: COMMAND's output, shown as it comes and kept in "said";
# COMMAND's exit status.
shown() {
  local kept status
  kept=$(mktemp)
  "$@" 2>&1 | tee "$kept"
  status=${PIPESTATUS[0]}
  said=$(cat "$kept")
  rm -f "$kept"
  return "$status"
}
if [ "$(id -u)" != 0 ] && command -v sudo >/dev/null 2>&1; then
  sudo=sudo
fi
if [ ${#missing[@]} != 0 ]; then
  if ! command -v apt-get >/dev/null 2>&1; then
    echo "Please install: $(printf '%s\n' "${missing[@]}" | tr -d '?' | sort -u | tr '\n' ' ')" >&2
    exit 1
  fi
  if [ "$(id -u)" != 0 ] && [ -z "$sudo" ]; then
    echo "Run as root, or install: $(printf '%s\n' "${missing[@]}" | tr -d '?' | sort -u | tr '\n' ' ')" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive

  # The foreign architectures the missing packages come from, enabled for as
  # long as it takes to learn whether the archive has them.
  enabled=()
  for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/^[^:]*:\([a-z0-9]*\)?\{0,1\}$/\1/p' | sort -u); do
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      $sudo dpkg --add-architecture "$arch"
      enabled+=("$arch")
    fi
  done
  disable_unused() {
    local arch
    for arch in "${enabled[@]}"; do
      if ! dpkg-query -W -f='${Architecture}\n' 2>/dev/null | grep -qx "$arch"; then
        echo "Disabling the $arch architecture again: nothing of it is installed"
        $sudo dpkg --remove-architecture "$arch"
        $sudo apt-get update -q >/dev/null 2>&1 || true
      fi
    done
  }
  trap disable_unused EXIT
  # A list that fails to update (a mirror half synced, a source that can't be
  # reached) is tried again, then named; what the archive offers is known
  # from the rest.
  shown $sudo apt-get update -q -o Acquire::Retries=3 ||
    echo "apt-get update failed; going on with the lists it has"
  # "Err:N URI SUITE/COMPONENT [ARCH] WHAT", one line a list apt gave up on.
  mapfile -t failed < <(sed -n 's/^Err:[0-9]* //p' <<<"$said" | sort -u)
  if [ ${#failed[@]} != 0 ]; then
    echo "These lists could not be fetched: $(printf '%s; ' "${failed[@]}" | sed 's/; $//')"
    # Only a foreign architecture's lists missing: that architecture sees
    # only the release's own versions of the libraries both architectures
    # must share, so the release's own suite is preferred for this install.
    # That never downgrades anything: apt takes a lower version only at a
    # priority over 1000, and -t gives 990.
    foreign=$(dpkg --print-foreign-architectures | tr '\n' ' ')
    codename=$(. "${SHOWFILE_OS_RELEASE:-/etc/os-release}" 2>/dev/null && echo "${VERSION_CODENAME:-}")
    only_foreign=yes
    for list in "${failed[@]}"; do
      read -r _ _ arch _ <<<"$list"
      [[ " $foreign" == *" $arch "* ]] || only_foreign=
    done
    if [ -n "$only_foreign" ] && [ -n "$codename" ]; then
      prefer=(-t "$codename")
      echo "Only a foreign architecture's lists are missing: installing with $codename's own packages preferred, for this install only"
    fi
  fi

  # Each preset runs when the archive has everything it needs.
  install=() runnable=()
  declare -A wanted_by
  for preset in "${presets[@]}"; do
    lacking=() wanted=()
    while read -r package probe; do
      present "$package" "$probe" && continue
      if offered "${package%\?}"; then
        wanted+=("${package%\?}")
      elif [ "${package%\?}" != "$package" ]; then
        echo "No ${package%\?} in this system's archive: $preset goes on without it"
      else
        lacking+=("$package")
      fi
    done < <(entries "$preset")
    if [ ${#lacking[@]} = 0 ]; then
      install+=("${wanted[@]}")
      wanted_by[$preset]="${wanted[*]}"
      runnable+=("$preset")
    else
      echo "Leaving out the $preset preset: this system's archive has no ${lacking[*]}"
    fi
  done
  if [ ${#install[@]} != 0 ]; then
    mapfile -t install < <(printf '%s\n' "${install[@]}" | sort -u)
    echo "Installing: ${install[*]}"
    if ! apt_install "${install[@]}"; then
      # What apt refuses together it may take preset by preset: every preset
      # that can be equipped is, and each one that can't is named, with the
      # first of its packages apt refuses on its own and apt's reason.
      echo "apt refused the whole install; installing preset by preset"
      equipped=()
      for preset in "${runnable[@]}"; do
        # shellcheck disable=SC2086
        if [ -z "${wanted_by[$preset]}" ] || shown apt_install ${wanted_by[$preset]}; then
          equipped+=("$preset")
          continue
        fi
        why="apt-get install failed: $(grep '^E:' <<<"$said" | tail -1)"
        for package in ${wanted_by[$preset]}; do
          said=$(apt-get install -s -q --no-install-recommends "${prefer[@]}" "$package" 2>&1) && continue
          reason=$(sed -n '/unmet dependencies:/{n;s/^ *//;p;q}' <<<"$said")
          why="apt refuses $package: ${reason:-$(grep '^E:' <<<"$said" | tail -1)}"
          break
        done
        echo "Leaving out the $preset preset: $why"
        echo "$preset $why" >>"$build/left-out"
      done
      runnable=("${equipped[@]}")
    fi
  fi
fi

# The fuzzer and the sanitizers need the runtime of the clang now installed,
# which Debian packages per major version and some archives within clang.
if printf '%s\n' "${runnable[@]}" | grep -qx asan; then
  major=$(clang -dumpversion | cut -d. -f1)
  if [ ! -e "$(clang -print-file-name=libclang_rt.asan-x86_64.a)" ]; then
    if command -v apt-get >/dev/null 2>&1 && offered "libclang-rt-$major-dev"; then
      apt_install "libclang-rt-$major-dev"
    else
      echo "Leaving out the asan preset: no sanitizer runtime for clang $major in this system's archive"
      mapfile -t runnable < <(printf '%s\n' "${runnable[@]}" | grep -vx asan)
    fi
  fi
fi
printf '%s\n' "${runnable[@]}" >"$build/presets"
# Without the native program's own packages nothing else can be built.
if [ "$want" != test ] && ! printf '%s\n' "${runnable[@]}" | grep -qx "${presets[0]}"; then
  echo "Can't go on: what the $want command needs can't be installed (see above)" >&2
  exit 1
fi

# Some kernels are built or booted without 32-bit support (ia32_emulation=off)
# and refuse to start Wine's 32-bit loader. Then the kernel is told to hand
# i386 programs to qemu's user-mode emulator. The server and wineboot are
# Wine's 64-bit ones, native either way; the preloader keeps the 32-bit
# loader's address-space set-up to a few calls, which under the emulator
# would otherwise take most of a minute.
i386_runs() {
  "${SHOWFILE_WINE32:-/usr/lib/wine/wine}" --version >/dev/null 2>&1
}
if printf '%s\n' "${runnable[@]}" | grep -qx win32 && ! i386_runs; then
  misc=/proc/sys/fs/binfmt_misc
  echo "This kernel doesn't run 32-bit programs; handing them to qemu-i386-static"
  [ -e $misc/register ] || $sudo mount -t binfmt_misc binfmt_misc $misc
  [ -e $misc/qemu-i386 ] && echo -1 | $sudo tee $misc/qemu-i386 >/dev/null
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' |
    $sudo tee $misc/register >/dev/null
  i386_runs || { echo "Wine's 32-bit loader still doesn't start" >&2; exit 1; }
fi
