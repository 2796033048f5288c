#!/usr/bin/env bash
# The test script's check of the outside programs it and the tests need: each is looked for where
# the script that runs it will look, so a user whose PATH lacks the sbin folders (on Debian, any
# user but root) finds a program that only install-deps runs, as root, there; a program that is
# missing is named with its package. The real list is checked as such a user would check it.
. "$(dirname "${BASH_SOURCE[0]}")/harness.bash"
. "$source/scripts/programs.bash"
# An ordinary user's PATH, as Debian's /etc/profile sets it.
user_path=/usr/local/bin:/usr/bin:/bin:/usr/local/games:/usr/games

# The real list: what an ordinary user's check misses is what root's would miss too, which is
# nothing on a machine where scripts/install-deps has run.
as_user=$(PATH=$user_path programs_missing "$source/scripts/programs")
as_root_would=$(PATH=$programs_root_path programs_missing "$source/scripts/programs")
[ "$as_user" = "$as_root_would" ] || fail "without the sbin folders on the PATH: '$as_user'; with them: '$as_root_would'"

# A list of its own, with a PATH and a root's PATH of its own.
mkdir "$work/bin" "$work/sbin"
for program in bin/plain sbin/in-sbin sbin/as-root; do
  printf '#!/bin/sh\n' >"$work/$program"
  chmod +x "$work/$program"
done
cat >"$work/programs" <<'LIST'
# A comment, and a blank line.

plain       pkg-plain
in-sbin     pkg-sbin
as-root     pkg-root     root
nowhere     pkg-nowhere  root
LIST
report=$(PATH=$work/bin:$user_path programs_root_path=$work/sbin programs_missing "$work/programs")
status=$?
[ "$status" -ne 0 ] || fail "a list with missing programs passed"
expected="missing in-sbin (package pkg-sbin)
missing nowhere (package pkg-nowhere, run with root's rights)"
[ "$report" = "$expected" ] || fail "the missing programs of a list: '$report'"
[ "$(programs_packages "$work/programs" | tr '\n' ' ')" = "pkg-nowhere pkg-plain pkg-root pkg-sbin " ] ||
  fail "the packages of a list: $(programs_packages "$work/programs")"

# An entry the list cannot read fails the check, named, rather than pass unchecked.
printf 'odd pkg-odd sideways\n' >>"$work/programs"
report=$(PATH=$work/bin:$user_path programs_missing "$work/programs" 2>&1) && fail "an unreadable entry passed"
grep -qF 'cannot read the entry "odd pkg-odd sideways"' <<<"$report" || fail "an unreadable entry: '$report'"

# A user other than root without sudo is told how to get root's rights, and nothing runs.
mkdir "$work/user"
printf '#!/bin/sh\necho 1000\n' >"$work/user/id"
chmod +x "$work/user/id"
for program in env basename; do ln -s "$(command -v "$program")" "$work/user/$program"; done
report=$(PATH=$work/user as_root touch "$work/ran" 2>&1) && fail "root's rights were had without sudo"
[ ! -e "$work/ran" ] || fail "a command ran without root's rights"
grep -qF "root's rights are needed: run it as root, or install sudo (package sudo)" <<<"$report" ||
  fail "as a user without sudo: '$report'"

[ "$failures" -eq 0 ]
