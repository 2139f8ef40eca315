#!/usr/bin/env bash
# scripts/install-deps.sh against archives that lack packages, as Ubuntu's
# do, with dpkg, apt-get and apt-cache stood in for: it installs what the
# archive offers, leaves out a preset that lacks a package and says why, goes
# on without musl, and disables a foreign architecture it enabled in vain.
#
#   install_deps_test.sh SOURCE-DIR
set -u
source=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# The stand-ins keep their state in files: what is installed, which foreign
# architectures are on, what the archive lacks, and a log of what was done.
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
[ "$1" = install ] && for p in "$@"; do case $p in -*|install) ;; *) echo "$p" >>"$STATE/installed" ;; esac; done
echo "apt-get $*" >>"$STATE/log"
STUB
cat >"$work/bin/apt-cache" <<'STUB'
#!/bin/bash
echo "$2:"
if grep -qx "$2" "$STATE/absent"; then echo "  Candidate: (none)"; else echo "  Candidate: 1.0"; fi
STUB
printf '#!/bin/bash\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*
export PATH=$work/bin:$PATH SHOWFILE_WINE32=true

failures=0
# scenario NAME ABSENT... -- EXPECTED-PRESETS...: the archive lacks ABSENT.
scenario() {
  local name=$1 said
  shift
  export STATE=$work/$name SHOWFILE_BUILD=$work/$name/build
  mkdir -p "$STATE"
  : >"$STATE/installed" && : >"$STATE/archs" && : >"$STATE/log" && : >"$STATE/absent"
  while [ "$1" != -- ]; do echo "$1" >>"$STATE/absent" && shift; done
  shift
  said=$(bash "$source/scripts/install-deps.sh" test 2>&1) || { echo "FAILED: $name: $said"; failures=$((failures + 1)); return; }
  local expected got
  expected=$(printf '%s ' "$@") got=$(tr '\n' ' ' <"$SHOWFILE_BUILD/presets")
  [ "$got" = "$expected" ] || { echo "FAILED: $name: presets $got, not $expected"; failures=$((failures + 1)); }
  ! grep -qxf "$STATE/absent" "$STATE/installed" || { echo "FAILED: $name: installed what the archive lacks"; failures=$((failures + 1)); }
  printf '%s\n' "$said" | grep -E '^(Leaving out|No |Disabling)' | sed "s/^/$name: /"
  echo "$name: foreign architectures left on: $(tr '\n' ' ' <"$STATE/archs")"
  eval "$CHECK"
}
# Ubuntu 24.04 without the ports archive: no musl for i386 or s390x.
CHECK='grep -qx s390x "$STATE/archs" && { echo "FAILED: $name: s390x left on"; failures=$((failures + 1)); }'
scenario ubuntu musl-dev:i386 musl-dev:s390x -- native asan win32 win64 i686 s390x
# An archive without s390x's cross compiler either: that preset is left out.
CHECK='grep -q "Leaving out the s390x preset" <<<"$said" || { echo "FAILED: $name: no reason given"; failures=$((failures + 1)); }'
scenario no-cross g++-s390x-linux-gnu musl-dev:s390x -- native asan win32 win64 i686
[ "$failures" = 0 ] && echo "passed"
