#!/usr/bin/env bash
# The test script's judgement of a run: what the run's programs write into the home (found through
# $HOME or the password database) or leave in the temporary folder fails it; what another program
# writes into the home meanwhile does not; the checkout stays writable. It all happens in a home,
# checkout and temporary folder of this test's own, but for one file that the run writes through the
# password database, which must land in the cover and never in the real home.
. "$(dirname "${BASH_SOURCE[0]}")/harness.bash"
expect() {
  grep -qF -- "$2" <<<"$1" || fail "$3: no '$2' in: $1"
}
expect_not() {
  ! grep -qF -- "$2" <<<"$1" || fail "$3: '$2' in: $1"
}

export HOME=$work/home TMPDIR=$work/tmp
mkdir -p "$HOME/checkout" "$TMPDIR"
cd "$HOME/checkout" || exit 1
. "$source/scripts/run-isolation.bash"

# Ends the run: its report, with the summary, in `report`, and its judgement in `passed`.
finish() {
  isolation_finish >"$work/report"
  passed=$?
  report="$(<"$work/report")"$'\n'"$isolation_summary"
}

# Runs a shell command as a program of the run, with the arguments that follow, and while it runs
# writes into the real home as a program outside the run would.
run_beside_an_outside_writer() {
  local started=$work/started ready=$work/ready line program=$1
  shift
  mkfifo "$started" "$ready"
  STARTED=$started READY=$ready in_run sh -c "$program"'; echo >"$STARTED"; read -r line <"$READY"' sh "$@" &
  local run=$!
  read -r line <"$started"
  echo outside >"$HOME/written-outside"
  echo >"$ready"
  wait "$run" || fail "the run's program failed"
  rm -f "$started" "$ready" "$HOME/written-outside"
}

isolation_start
if [ "$run_home_method" = cover ]; then
  # Only another program wrote into the home: the run passes, and leaves nothing behind.
  run_beside_an_outside_writer 'echo kept >"$HOME/checkout/built"'
  finish
  [ "$passed" -eq 0 ] || fail "another program's write failed the run: $report"
  expect "$report" "home: unchanged" "an outside write"
  expect "$report" "temporary folder: nothing left in the run's own" "an outside write"
  [ -f "$HOME/checkout/built" ] || fail "the file the run wrote into the checkout is not there"
  [ -z "$(ls -A "$TMPDIR")" ] || fail "the run left $(ls -A "$TMPDIR") in the temporary folder"

  # The run's own writes, through $HOME and through the password database, and what it leaves in
  # the temporary folder fail it, named; the real home never sees them.
  written=("$HOME/written-by-the-run")
  user_home=$(getent passwd "$(id -u)" | cut -d: -f6)
  [ -d "$user_home" ] && [ "$user_home" != / ] && written+=("$user_home/.zorvel-run-isolation-$$")
  isolation_start
  run_beside_an_outside_writer 'for file in "$@"; do echo run >"$file"; done; mkdir "$TMPDIR/left-behind"' "${written[@]}"
  finish
  [ "$passed" -ne 0 ] || fail "the run's writes passed: $report"
  for file in "${written[@]}"; do
    expect "$report" "changed in the home: $(realpath -m "$file")" "the run's writes"
    [ ! -e "$file" ] || fail "the run's $file reached the real home"
  done
  rm -f "${written[1]:-}"
  expect "$report" "left in the temporary folder: left-behind" "the run's writes"
  expect_not "$report" "written-outside" "the run's writes"
  expect_not "$report" "checkout" "the run's writes"
  rm -rf "${TMPDIR:?}"/*

  # A program that writes into /tmp whatever TMPDIR says, as a session bus or GoogleTest's captured
  # output do: what it leaves there is named, though it does not fail the run, as another program of
  # the user's may have left it.
  isolation_start
  in_run sh -c 'mktemp /tmp/zorvel-isolation-XXXXXX' >"$work/made" || fail "no file made in /tmp"
  finish
  made=$(basename "$(cat "$work/made")")
  rm -f "/tmp/$made"
  [ "$passed" -eq 0 ] || fail "a file in /tmp failed the run: $report"
  expect "$report" "new in /tmp: $made" "a file in /tmp"
  expect "$report" "new of $(id -un)'s since the run began" "a file in /tmp"
  expect "$report" "temporary folder: nothing left in the run's own" "a file in /tmp"
else
  echo "run-isolation: no mount namespace here; only the listing is tested$run_cover_note"
  finish
fi

# Where no namespace can be made, the home is listed before and after, and the summary says so.
mkdir "$work/bin"
printf '#!/bin/sh\necho "unshare: unshare failed: Operation not permitted" >&2\nexit 1\n' >"$work/bin/unshare"
chmod +x "$work/bin/unshare"
PATH=$work/bin:$PATH isolation_start
[ "$run_home_method" = listing ] || fail "a failing unshare gave the method $run_home_method"
in_run sh -c 'echo run >"$HOME/written-by-the-run"'
finish
[ "$passed" -ne 0 ] || fail "a write into a listed home passed: $report"
expect "$report" "changed in the home: $(realpath "$HOME")/written-by-the-run" "a listed home"
expect "$report" "compared listings" "a listed home"

[ "$failures" -eq 0 ]
