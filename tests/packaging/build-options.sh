#!/usr/bin/env bash
# Configures the source as a packager would and checks what the build would make: optimised code
# when no build type is named, no development channel by default, warnings not fatal unless asked,
# and nothing of the tests with BUILD_TESTING off, whatever else is asked for.
set -euo pipefail
source=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "build-options: $*" >&2; exit 1; }
configure() {
  cmake "$@" >"$out/configure.log" 2>&1 || { cat "$out/configure.log" >&2; fail "configure $* fails"; }
}
build_type() { sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$1/CMakeCache.txt"; }

# The README's package line names no build type.
configure -S "$source" -B "$out/package" -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF
[ "$(build_type "$out/package")" = Release ] || fail "no build type named builds '$(build_type "$out/package")'"
grep -qE -- '-O[23s]( |$)' "$out/package/build.ninja" || fail "no build type named builds without optimisation"
# One that is named stays, and a generator of several configurations gets none.
configure -S "$source" -B "$out/package" -DCMAKE_BUILD_TYPE=Debug
[ "$(build_type "$out/package")" = Debug ] || fail "the build type Debug became '$(build_type "$out/package")'"
configure -S "$source" -B "$out/multi" -G "Ninja Multi-Config" -DBUILD_TESTING=OFF
[ -z "$(build_type "$out/multi")" ] || fail "a multi-configuration build got the build type $(build_type "$out/multi")"
rm -rf "$out/package" "$out/multi"

configure -S "$source" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DZORVEL_FUZZ=ON
channel=$(sed -n 's/.*"ZorvelDistributionChannel": *"\([^"]*\)".*/\1/p' "$out/bundle/share/zorvel/Info.json")
[ -n "$channel" ] && [ "$channel" != development ] || fail "the default channel is '$channel'"
! grep -q -- -Werror "$out/build.ninja" || fail "warnings are errors by default"
targets=$(cmake --build "$out" --target help)
! grep -qE '(_tests|bench_[a-z_]+|fuzz_[a-z_]+):' <<<"$targets" || fail "BUILD_TESTING=OFF still builds tests"
! grep -q '^GTest_DIR\|^GTEST_' "$out/CMakeCache.txt" || fail "BUILD_TESTING=OFF still looks for GoogleTest"

configure -S "$source" -B "$out" -DZORVEL_WERROR=ON
grep -q -- -Werror "$out/build.ninja" || fail "ZORVEL_WERROR=ON does not make warnings errors"
echo "build-options: a packager's build is as asked"
