#!/usr/bin/env bash
# What the test script reports of a ctest run: a skipped test is counted apart from those passed,
# with the reason it gave; and the session bus it runs the tests on listens in the folder it is
# given, not in /tmp.
. "$(dirname "${BASH_SOURCE[0]}")/harness.bash"
. "$source/scripts/test-report.bash"

# A ctest tree of its own: tests that pass, fail, cannot start, and skip as GoogleTest's do, with a
# reason and without one.
tests=$work/tests
mkdir "$tests"
# Says what a skipped GoogleTest test says: where it skipped, why if it says, and that it did.
cat >"$tests/skip.sh" <<'SKIP'
printf '%s: Skipped\n' "$1"
[ -z "$2" ] || printf '%s\n' "$2"
printf '[  SKIPPED ] the test\n'
SKIP
gtest_skip() { # name reason
  echo "add_test($1 /bin/sh $tests/skip.sh x.cpp:1 \"$2\")"
  echo "set_tests_properties($1 PROPERTIES SKIP_REGULAR_EXPRESSION \"\\\\[  SKIPPED \\\\]\")"
}
{
  echo 'add_test(Suite.Passes /bin/sh -c "exit 0")'
  echo 'add_test(Suite.AlsoPasses /bin/sh -c "exit 0")'
  echo 'add_test(Suite.Fails /bin/sh -c "exit 1")'
  echo "add_test(Suite.IsMissing $work/no-such-program)"
  gtest_skip Suite.NeedsRoot "needs root"
  gtest_skip Suite.AlsoNeedsRoot "needs root"
  gtest_skip Suite.SaysNothing ""
} >"$tests/CTestTestfile.cmake"
ctest --test-dir "$tests" --output-junit "$work/results.xml" >"$work/ctest.log" 2>&1
ctest_skips=()
ctest_tally "$work/results.xml" || fail "no results read from: $(cat "$work/ctest.log")"
[ "$ctest_passed $ctest_skipped $ctest_failed" = "2 3 2" ] ||
  fail "counted $ctest_passed passed, $ctest_skipped skipped, $ctest_failed failed: $(cat "$work/ctest.log")"
reasons=$(ctest_skip_reasons)
expected="needs root (2: Suite.AlsoNeedsRoot, Suite.NeedsRoot)
no reason given (ctest: SKIP_REGULAR_EXPRESSION_MATCHED) (1: Suite.SaysNothing)"
[ "$reasons" = "$expected" ] || fail "the reasons read: $reasons"
! ctest_tally "$work/missing.xml" || fail "a missing file of results was read"

# The bus listens where it is told, and its socket goes with it.
bus=$work/bus
mkdir "$bus"
session_bus_config "$bus" >"$bus/session.conf" || fail "no configuration for $bus"
address=$(dbus-run-session --config-file="$bus/session.conf" -- sh -c 'echo "$DBUS_SESSION_BUS_ADDRESS"' 2>"$work/bus.log")
[[ "$address" == "unix:path=$bus/dbus-"* ]] || fail "the bus listened at '$address': $(cat "$work/bus.log")"
[ "$(ls -A "$bus")" = session.conf ] || fail "the bus left $(ls -A "$bus") in its folder"
! session_bus_config relative/folder >/dev/null 2>&1 || fail "a relative folder was taken"

[ "$failures" -eq 0 ]
