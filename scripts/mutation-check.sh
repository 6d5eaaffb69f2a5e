#!/usr/bin/env bash
# Proves that the test suite catches faults: applies each planted fault (a patch under
# tests/mutations/), rebuilds, runs the tests its "# caught-by:" line names and, when none of
# them failed, the rest of the suite (without the root-only label "package"), records which
# tests failed and takes the fault out again. The tree is always restored, also on Ctrl+C or an
# error, and the build folder is rebuilt from the clean tree at the end.
#
#   scripts/mutation-check.sh [--build DIR] [--full] [PATCH...]
#
# --build DIR  the configured build folder (default: build)
# --full       builds everything and runs the whole suite for every fault, even when a named
#              test caught it (otherwise only the named tests are rebuilt before they run)
# PATCH...     the patches to check (default: every tests/mutations/*.patch)
#
# Prints a table (patch | caught by | time). Exits 1 when a fault survived, a patch did not
# apply (or its file had changes of its own) or a patched tree did not build.
# MUTATION_FUNCTION_TIMEOUT (milliseconds, default 120000) ends a test function that hangs
# under a fault sooner than CTest's own limit.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
root=$PWD

build=build
full=0
patches=()
while (($#)); do
  case "$1" in
  --build)
    build=${2:?--build needs a folder}
    shift 2
    ;;
  --full)
    full=1
    shift
    ;;
  -h | --help)
    sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  -*)
    echo "unknown option: $1" >&2
    exit 2
    ;;
  *)
    patches+=("$1")
    shift
    ;;
  esac
done
build=$(cd "$build" 2>/dev/null && pwd) || {
  echo "no build folder; configure one first (see README)" >&2
  exit 2
}
if ((${#patches[@]} == 0)); then
  patches=("$root"/tests/mutations/*.patch)
fi
for i in "${!patches[@]}"; do
  patches[i]=$(realpath "${patches[i]}")
done

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}
export QTEST_FUNCTION_TIMEOUT=${MUTATION_FUNCTION_TIMEOUT:-120000}
logs=$build/mutation-logs
mkdir -p "$logs"
failedList=$build/Testing/Temporary/LastTestsFailed.log

# The patch applied now, taken out again whatever ends the run.
applied=""
scratch=""
# shellcheck disable=SC2317 # (called by the traps)
restore() {
  if [[ -n $applied ]]; then
    git apply -R "$applied" || echo "COULD NOT TAKE OUT $applied: restore the tree by hand" >&2
    applied=""
  fi
  if [[ -n $scratch ]]; then
    rm -rf "$scratch"
    scratch=""
  fi
}
# shellcheck disable=SC2317
finish() {
  local status=$?
  trap - EXIT INT TERM
  restore
  echo "rebuilding $build from the clean tree" >&2
  cmake --build "$build" -j2 >"$logs/final-build.log" 2>&1 || {
    echo "the clean tree did not build: $logs/final-build.log" >&2
    status=1
  }
  exit "$status"
}
trap finish EXIT
trap 'echo "interrupted" >&2; exit 130' INT TERM

# Runs ctest with the given arguments and adds the names of the tests that failed to $caught.
# Each run gets fresh temporary folders a few levels deep, so a file that a fault lets escape a
# test's folder ("../../name") lands in the scratch folder, not elsewhere on the machine.
runTests() {
  scratch=$(mktemp -d /tmp/qmut.XXXXXX)
  mkdir -p "$scratch/1/2/3/4"
  # The PostgreSQL the server tests start runs as an unprivileged user and keeps its files here.
  chmod 755 "$scratch"
  rm -f "$failedList"
  TMPDIR="$scratch/1/2/3/4" ctest --test-dir "$build" -j2 --output-on-failure -LE package "$@" >>"$log" 2>&1
  # A test that ends before its clean-up can leave a file system mounted in its folder: it is
  # detached (and named in the log) so that the scratch folder goes.
  awk -v dir="$scratch/" 'index($2, dir) == 1 { print $2 }' /proc/mounts | sort -r | while read -r point; do
    echo "left mounted by a test: $point" >>"$log"
    umount -l "$point"
  done
  rm -rf "$scratch"
  scratch=""
  if [[ -f $failedList ]]; then
    caught+=" $(cut -d: -f2- "$failedList" | tr '\n' ' ')"
  fi
}

# Builds the given targets (everything without arguments) into the patch's log.
buildTargets() {
  local targets=()
  (($#)) && targets=(--target "$@")
  cmake --build "$build" -j2 "${targets[@]}" >>"$log" 2>&1
}

declare -a rows
status=0
for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch)
  log=$logs/$name.log
  : >"$log"
  start=$SECONDS
  named=$(sed -n 's/^# caught-by:[[:space:]]*//p' "$patch" | head -1)
  echo "== $name (expected: ${named:-none named})" >&2
  result=""
  mapfile -t files < <(git apply --numstat "$patch" 2>/dev/null | cut -f3)
  if ((${#files[@]} == 0)); then
    result="DID NOT APPLY"
  elif ! git diff --quiet HEAD -- "${files[@]}"; then
    result="DID NOT APPLY (${files[*]} has changes of its own)"
  elif ! git apply "$patch" 2>>"$log"; then
    result="DID NOT APPLY"
  else
    applied=$patch
    read -ra expected <<<"$named"
    caught=""
    if ((${#expected[@]} > 0 && full == 0)); then
      # The named tests first, with only what they need rebuilt; the rest when none failed.
      regex="^($(tr -s ' ' '|' <<<"${expected[*]}"))\$"
      if buildTargets "${expected[@]}" || buildTargets; then
        runTests -R "$regex"
        if [[ -z ${caught// /} ]]; then
          if buildTargets; then
            runTests -E "$regex"
          else
            result="NOT BUILT"
          fi
        fi
      else
        result="NOT BUILT"
      fi
    elif buildTargets; then
      runTests
    else
      result="NOT BUILT"
    fi
    if [[ -z $result ]]; then
      read -ra failed <<<"$caught"
      result=${failed[*]}
      result=${result:-NOT CAUGHT}
    fi
    restore
  fi
  case "$result" in
  "NOT CAUGHT" | "NOT BUILT" | DID*) status=1 ;;
  esac
  elapsed=$((SECONDS - start))
  rows+=("$(printf '%s|%s|%d:%02d' "$name" "$result" $((elapsed / 60)) $((elapsed % 60)))")
  echo "   $result ($((elapsed / 60)):$(printf %02d $((elapsed % 60))))" >&2
done

{
  echo "| patch | caught by | time |"
  echo "|---|---|---|"
  for row in "${rows[@]}"; do
    IFS='|' read -r p c t <<<"$row"
    echo "| $p | $c | $t |"
  done
}
exit "$status"
