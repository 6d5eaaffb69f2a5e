#!/usr/bin/env bash
# Builds the libFuzzer target for package_unzip with clang (-fsanitize=fuzzer,address) and runs
# it for a bounded time. Not part of CI.
#
#   fuzz/run-package-unzip.sh [SECONDS]     (default 120)
#
# Needs clang and its runtime libraries; on Debian 12:
#   sudo apt-get install -y clang libclang-rt-dev
# The corpus grows in build-fuzz/corpus and is reused by the next run; a crashing input is
# written to build-fuzz/ as crash-<hash>.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-120}"

if ! command -v clang++ >/dev/null 2>&1; then
  echo "clang++ is missing; install it with: sudo apt-get install -y clang libclang-rt-dev" >&2
  exit 1
fi

out=build-fuzz
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address -fno-omit-frame-pointer \
  -Isrc fuzz/package_unzip_fuzzer.cpp \
  src/plugins/PluginFiles.cpp \
  src/support/Log.cpp \
  $(pkg-config --cflags --libs Qt6Core libzip) \
  -o "$out/package_unzip_fuzzer"

# Seeds: a well-formed package, one without folder entries, and one with a hostile name.
python3 - "$out/corpus" <<'PY'
import sys, zipfile, os
corpus = sys.argv[1]
def write(name, entries, method=zipfile.ZIP_DEFLATED):
    with zipfile.ZipFile(os.path.join(corpus, name), "w", method) as z:
        for entry, data in entries:
            z.writestr(entry, data)
plugin = [("Payload/", ""), ("Payload/a.cplugin/", ""),
          ("Payload/a.cplugin/info.lua", "plugin_name = 'A'\nplugin_bundle_id = 'a'\n"),
          ("Payload/a.cplugin/main.lua", "function main(t) return t end\n")]
write("seed-package", plugin)
write("seed-stored", plugin, zipfile.ZIP_STORED)
write("seed-files-only", [e for e in plugin if not e[0].endswith("/")])
write("seed-slip", [("ok.txt", "ok"), ("../evil.txt", "evil")])
PY

export QT_LOGGING_RULES="quillet.*=false"
exec "$out/package_unzip_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/" "$out/corpus"
