#!/usr/bin/env bash
# The Debian package, as CPack makes it from this build: its name, fields and
# contents, the installed program run on the sample, and lintian's verdict
# (errors fail; the rest is printed).
#
#   check_deb.sh BUILD-DIR VERSION SAMPLE-DIR
set -u
build=$1 version=$2 sample=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >/dev/null || exit 1
arch=$(dpkg --print-architecture)
deb=$work/packages/showfile_${version}_${arch}.deb
[ -f "$deb" ] || { echo "no $(basename "$deb") among: $(ls "$work/packages")"; exit 1; }
# Made again a second later, it is the same, byte for byte.
sleep 1
cpack --config "$build/CPackConfig.cmake" -B "$work/again" >/dev/null || exit 1
cmp "$deb" "$work/again/$(basename "$deb")" || fail "a second package differs from the first"

field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = showfile ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "architecture $(field Architecture)"
[ -z "$(field Depends)$(field Pre-Depends)" ] || fail "depends on $(field Depends)"

dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/showfile usr/share/doc/showfile/{README.md,LICENSE,copyright,changelog.gz} \
  usr/share/man/man1/showfile.1.gz; do
  [ -f "$work/root/$file" ] || fail "no $file in the package"
done
(cd "$sample" && "$work/root/usr/bin/showfile") >"$work/shown"
status=$?
[ "$status" = 0 ] && cmp -s "$work/shown" "$sample/test.txt" || fail "the installed program (exit $status)"

if command -v lintian >/dev/null; then
  said=$(lintian --display-info --fail-on error "$deb" 2>&1) || fail "lintian reports errors"
  grep -v 'root privileges' <<<"$said"
else
  echo "lintian is not installed: not run"
fi
echo "$(basename "$deb"): $((failures == 0)) passed, $((failures > 0)) failed"
[ "$failures" = 0 ]
