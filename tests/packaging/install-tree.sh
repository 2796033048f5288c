#!/usr/bin/env bash
# Installs a build the way a package does (DESTDIR) and checks what a desktop and a software
# centre read from the tree: the bundle, the desktop entry, the icon and the metainfo.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "install-tree: $*" >&2; exit 1; }

DESTDIR=$stage cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
root=$stage$prefix
id=$(sed -n 's/.*"CFBundleIdentifier": *"\([^"]*\)".*/\1/p' "$root/share/zorvel/Info.json")
[ -n "$id" ] || fail "Info.json names no application id"

[ -x "$root/bin/zorvel-desktop" ] || fail "no bin/zorvel-desktop"
for resource in Info.json native-bridge.js ui/index.html; do
  [ -f "$root/share/zorvel/$resource" ] || fail "no share/zorvel/$resource"
done
# Programs lie in bin and libexec; share holds only what every architecture can read.
[ -x "$root/libexec/zorvel/zorvel-runner" ] || fail "no libexec/zorvel/zorvel-runner"
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" != '177ELF' ] || fail "a program lies under share: ${file#"$root/"}"
done < <(find "$root/share" -type f -print0)

entry=$root/share/applications/$id.desktop
[ -f "$entry" ] || fail "no desktop entry named after the application id $id"
desktop-file-validate "$entry" || fail "the desktop entry does not validate"
grep -qx "Icon=$id" "$entry" || fail "the desktop entry names no icon $id"
exec_path=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
[ -x "$stage$exec_path" ] || fail "the desktop entry runs $exec_path, which the package does not hold"

# A prefix given to the install itself, here one with a space and a dollar sign, is the one the
# entry runs the program from, quoted as the entry's Exec key wants it.
moved="/opt/zorvel \$test"
DESTDIR=$stage/moved cmake --install "$build" --prefix "$moved" >/dev/null
moved_entry=$stage/moved$moved/share/applications/$id.desktop
desktop-file-validate "$moved_entry" || fail "the desktop entry of prefix '$moved' does not validate"
grep -qxF 'Exec="/opt/zorvel \\$test/bin/zorvel-desktop" %u' "$moved_entry" ||
  fail "the desktop entry of prefix '$moved' runs $(grep '^Exec=' "$moved_entry")"
[ -x "$stage/moved$moved/bin/zorvel-desktop" ] || fail "no program under prefix '$moved'"

# An installed program looks for what it needs only under its prefix: it holds no path of the trees
# it was built from. Debugging information, which a package keeps apart, is left out of the look.
source_tree=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
build_tree=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$build/CMakeCache.txt")
stripped=$(mktemp)
trap 'rm -rf "$stage" "$stripped"' EXIT
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  strip -o "$stripped" "$file"
  for tree in "$source_tree" "$build_tree"; do
    [ -n "$tree" ] || fail "CMakeCache.txt names no source or build tree"
    ! grep -qaF -- "$tree" "$stripped" || fail "${file#"$root/"} holds the path $tree"
  done
done < <(find "$root" -type f -print0)

[ -f "$root/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "no icon $id.svg in the hicolor theme"

metainfo=$root/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >/dev/null || {
  appstreamcli validate --no-net "$metainfo" >&2
  fail "the metainfo does not validate"
}
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the metainfo does not launch the desktop entry"
grep -q "<icon type=\"stock\">$id</icon>" "$metainfo" || fail "the metainfo names no icon $id"
echo "install-tree: the installed tree is whole"
