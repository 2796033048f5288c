# What the script tests share, sourced at their start with the checkout's folder as $1: a work
# folder of the test's own, gone when it ends, and `fail`, which names the test and counts the
# failures that the test's last line turns into its status.
set -uo pipefail
source=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
test_name=${0##*/}
test_name=${test_name%.sh}
failures=0
fail() {
  echo "$test_name: $*" >&2
  failures=$((failures + 1))
}
