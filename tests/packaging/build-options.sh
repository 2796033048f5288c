#!/usr/bin/env bash
# Configures the source as a packager would and checks what the build would make: no development
# channel by default, warnings not fatal unless asked, and nothing of the tests with BUILD_TESTING
# off, whatever else is asked for.
set -euo pipefail
source=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "build-options: $*" >&2; exit 1; }

cmake -S "$source" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DZORVEL_FUZZ=ON \
  >"$out.log" 2>&1 || { cat "$out.log" >&2; fail "a packager's configure fails"; }
rm -f "$out.log"
channel=$(sed -n 's/.*"ZorvelDistributionChannel": *"\([^"]*\)".*/\1/p' "$out/bundle/share/zorvel/Info.json")
[ -n "$channel" ] && [ "$channel" != development ] || fail "the default channel is '$channel'"
! grep -q -- -Werror "$out/build.ninja" || fail "warnings are errors by default"
targets=$(cmake --build "$out" --target help)
! grep -qE '(_tests|bench_[a-z_]+|fuzz_[a-z_]+):' <<<"$targets" || fail "BUILD_TESTING=OFF still builds tests"
! grep -q '^GTest_DIR\|^GTEST_' "$out/CMakeCache.txt" || fail "BUILD_TESTING=OFF still looks for GoogleTest"

cmake -S "$source" -B "$out" -DZORVEL_WERROR=ON >/dev/null 2>&1 || fail "ZORVEL_WERROR=ON does not configure"
grep -q -- -Werror "$out/build.ninja" || fail "ZORVEL_WERROR=ON does not make warnings errors"
echo "build-options: a packager's build is as asked"
