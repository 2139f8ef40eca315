#!/usr/bin/env bash
# scripts/install-deps.sh against archives that lack packages, as Ubuntu's
# do, and against a mirror half synced, with dpkg, apt-get and apt-cache
# stood in for: it installs what the archive offers, leaves out a preset that
# lacks a package and says why, goes on without musl, disables a foreign
# architecture it enabled in vain, names the lists that failed to update,
# prefers the release's own suite when only a foreign architecture's lists
# failed, and, where apt still refuses, installs preset by preset and names
# what it left out.
#
#   install_deps_test.sh SOURCE-DIR
set -u
source=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# The stand-ins keep their state in files: what is installed, which foreign
# architectures are on, what the archive lacks, which lists fail to update,
# which packages apt refuses (unless the release's own suite is preferred and
# that helps), and a log of what was done.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/bash
if [ "$2" = "-f=\${Status}" ] || [ "$2" = '-f=${Status}' ]; then
  grep -qx "$3" "$STATE/installed" && echo "install ok installed" && exit 0
  exit 1
fi
sed -n 's/^[^:]*:\(.*\)$/\1/p' "$STATE/installed"
STUB
cat >"$work/bin/dpkg" <<'STUB'
#!/bin/bash
case $1 in
--print-foreign-architectures) cat "$STATE/archs" ;;
--add-architecture) echo "$2" >>"$STATE/archs"; echo "add $2" >>"$STATE/log" ;;
--remove-architecture) sed -i "/^$2\$/d" "$STATE/archs"; echo "remove $2" >>"$STATE/log" ;;
esac
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$STATE/log"
case $1 in
update)
  n=0
  while read -r list; do
    n=$((n + 1))
    echo "Err:$n $list"
    echo "  File has unexpected size (374820 != 376004). Mirror sync in progress?"
  done <"$STATE/failing"
  [ ! -s "$STATE/failing" ]
  ;;
install)
  shift
  preferred= simulated= packages=()
  while [ $# -gt 0 ]; do
    case $1 in -t) preferred=$2 && shift ;; -s) simulated=yes ;; -*) ;; *) packages+=("$1") ;; esac
    shift
  done
  for p in "${packages[@]}"; do
    if grep -qx "$p" "$STATE/refused" && { [ -z "$preferred" ] || [ ! -e "$STATE/helps" ]; }; then
      echo "The following packages have unmet dependencies:"
      echo " libwine : Depends: libssl3 (>= 3.0.22) but 3.0.20-1 is to be installed"
      echo "E: Unable to correct problems, you have held broken packages."
      exit 100
    fi
  done
  [ -n "$simulated" ] || printf '%s\n' "${packages[@]}" >>"$STATE/installed"
  ;;
esac
STUB
cat >"$work/bin/apt-cache" <<'STUB'
#!/bin/bash
echo "$2:"
if grep -qx "$2" "$STATE/absent"; then echo "  Candidate: (none)"; else echo "  Candidate: 1.0"; fi
STUB
printf '#!/bin/bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*
echo 'VERSION_CODENAME=stable-name' >"$work/os-release"
export PATH=$work/bin:$PATH SHOWFILE_WINE32=true SHOWFILE_OS_RELEASE=$work/os-release

# A package of each preset's own, which must be asked of apt-get install
# exactly when the preset is equipped.
declare -A own=([native]=lintian [asan]=strace [win32]=wine32:i386 [win64]=mingw-w64-x86-64-dev
  [i686]=g++-i686-linux-gnu [s390x]=g++-s390x-linux-gnu)
list() { # list ARCH: a package list of that architecture, as apt-get update names it
  echo "http://deb.debian.org/debian-security stable-security/main $1 Packages"
}

failures=0
fail() {
  echo "FAILED: $name: $*"
  failures=$((failures + 1))
}
# scenario NAME [--absent PKG] [--failing ARCH] [--refused PKG] [--helps]
#          [--says TEXT] [--left-out TEXT] -- PRESETS...
# The archive lacks each --absent package, the ARCH list fails to update,
# apt refuses each --refused package (unless the release's own suite is
# preferred, where --helps); the script must say each TEXT, equip PRESETS
# and nothing else, and its left-out report must be TEXT's line, exit 1.
scenario() {
  name=$1
  shift
  export STATE=$work/$name SHOWFILE_BUILD=$work/$name/build
  mkdir -p "$STATE"
  local file text says=() left_out= said status
  for file in installed archs log absent failing refused; do : >"$STATE/$file"; done
  while [ "$1" != -- ]; do
    local step=2
    case $1 in
    --absent) echo "$2" >>"$STATE/absent" ;;
    --failing) list "$2" >>"$STATE/failing" ;;
    --refused) echo "$2" >>"$STATE/refused" ;;
    --says) says+=("$2") ;;
    --left-out) left_out=$2 ;;
    --helps) touch "$STATE/helps" && step=1 ;;
    esac
    shift $step
  done
  shift
  said=$(bash "$source/scripts/install-deps.sh" test 2>&1) || { fail "exit code $?: $said"; return; }
  local expected got preset
  expected=$(printf '%s ' "$@") got=$(tr '\n' ' ' <"$SHOWFILE_BUILD/presets")
  [ "$got" = "$expected" ] || fail "presets $got, not $expected"
  ! grep -qxf "$STATE/absent" "$STATE/installed" || fail "installed what the archive lacks"
  grep -qx cmake "$STATE/installed" || fail "cmake was never installed"
  for preset in "${!own[@]}"; do
    if [[ " $expected" == *" $preset "* ]]; then
      grep -qx "${own[$preset]}" "$STATE/installed" || fail "$preset equipped, ${own[$preset]} not installed"
    else
      ! grep -qx "${own[$preset]}" "$STATE/installed" || fail "$preset left out, ${own[$preset]} installed"
    fi
  done
  for text in "${says[@]}"; do
    grep -qF -- "$text" <<<"$said" || fail "never said \"$text\""
  done
  said=$(bash "$source/scripts/install-deps.sh" left-out 2>&1)
  status=$?
  if [ -n "$left_out" ]; then
    [ $status = 1 ] && [[ $said == *"$left_out"* ]] || fail "left-out report (exit $status): $said"
  else
    [ $status = 0 ] && [ -z "$said" ] || fail "left-out report (exit $status): $said"
  fi
  echo "$name: presets $got; foreign architectures left on: $(tr '\n' ' ' <"$STATE/archs")"
  eval "${CHECK:-}"
  CHECK=
}

# Ubuntu 24.04 without the ports archive: no musl for i386 or s390x.
CHECK='grep -qx s390x "$STATE/archs" && fail "s390x left on"'
scenario ubuntu --absent musl-dev:i386 --absent musl-dev:s390x \
  --says "No musl-dev:i386 in this system's archive: i686 goes on without it" \
  -- native asan win32 win64 i686 s390x
# An archive without s390x's cross compiler either: that preset is left out.
scenario no-cross --absent g++-s390x-linux-gnu --absent musl-dev:s390x \
  --says "Leaving out the s390x preset: this system's archive has no g++-s390x-linux-gnu" \
  -- native asan win32 win64 i686
# A mirror half synced: i386's security list fails, and the versions the two
# architectures must share drift apart; the release's own suite, preferred
# for the install, brings them together.
CHECK='grep -q "^apt-get install .*-t stable-name" "$STATE/log" || fail "the install never preferred stable-name"'
scenario half-synced --failing i386 --refused wine32:i386 --helps \
  --says "These lists could not be fetched: $(list i386)" \
  --says "installing with stable-name's own packages preferred" \
  -- native asan win32 win64 i686 s390x
# The same where preferring the release can't help (the native libraries
# are already newer): every preset that can be equipped is, and win32 is
# named, with apt's reason.
scenario half-synced-drifted --failing i386 --refused wine32:i386 \
  --says "Leaving out the win32 preset: apt refuses wine32:i386: libwine : Depends: libssl3" \
  --left-out "win32 (apt refuses wine32:i386: libwine : Depends: libssl3 (>= 3.0.22) but 3.0.20-1 is to be installed). Once apt-get update fetches every list, the same make command installs them; or install their packages by hand and run: make win32" \
  -- native asan win64 i686 s390x
# A list of the machine's own architecture fails, and the install works:
# the list is named, and nothing is preferred.
CHECK='! grep -q "^apt-get install .*-t " "$STATE/log" || fail "preferred a suite for a native list"
  grep -q "^apt-get update .*Acquire::Retries=" "$STATE/log" || fail "a failed list is never tried again"'
scenario native-list --failing amd64 \
  --says "These lists could not be fetched: $(list amd64)" \
  -- native asan win32 win64 i686 s390x
[ "$failures" = 0 ] && echo "passed"
