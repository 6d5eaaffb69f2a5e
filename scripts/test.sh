#!/usr/bin/env bash
# Builds Quillet with warnings as errors, makes the Debian packages from that build (which the
# package test installs, where it runs as root) and runs the whole test suite; then builds it again with
# AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer in build-asan and runs the
# suite there too. Arguments go to both ctest runs (for example -R tst_menu or -L unit).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j2
scripts/package.sh build
ctest --test-dir build --output-on-failure -j2 "$@"

# The sanitizer build: unoptimised, so it compiles quickly and its reports point at the line.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLET_WERROR=ON -DQUILLET_SANITIZE=ON \
  -DQUILLET_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j2
# Every instrumented process (the tests and the quillet and quillet-sync-server programs they
# start) writes its AddressSanitizer, leak and undefined-behaviour reports to a file of its own,
# so a finding in a child process whose output a test does not read (a service whose standard
# error goes to its log) still fails the run. Undefined behaviour ends the process at once.
# Uninstrumented programs (Xvfb, mosquitto, xclip, dbus-daemon) ignore these variables.
# intercept_tls_get_addr=0: GCC 12's runtime takes a dynamic TLS block that happens to sit at a
# certain page offset for an old glibc's header and reads a bogus range from it, and the leak
# check at exit then dies ("Tracer caught signal 11") without finding anything.
reports="$PWD/build-asan/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:strict_init_order=1:intercept_tls_get_addr=0:log_path=$reports/asan:log_exe_name=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$reports/ubsan:log_exe_name=1"
status=0
ctest --test-dir build-asan --output-on-failure -j2 "$@" || status=$?
if compgen -G "$reports/*" >/dev/null; then
  for report in "$reports"/*; do
    echo "=== sanitizer report $report" >&2
    cat "$report" >&2
  done
  status=1
fi
exit "$status"
