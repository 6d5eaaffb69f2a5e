#!/usr/bin/env bash
# Fails when an #include crosses the layers the wrong way. Each folder of src/ (and server/) may
# include only the folders listed for it; a lower layer that must cause something above it
# posts a notification or calls a hook that the app installs. X11 headers stay in src/platform.
#   support <- platform <- store <- capture / plugins <- sync <- menu / ui <- app
# Usage: scripts/check-layers.sh [REPOSITORY]
set -euo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root"

declare -A allowed=(
  [support]="support"
  [platform]="support platform"
  [store]="support platform store"
  [capture]="support platform store capture"
  [plugins]="support platform store plugins"
  [sync]="support platform store capture plugins sync"
  [menu]="support platform store capture plugins sync menu"
  [ui]="support platform store capture plugins sync ui"
  [app]="support platform store capture plugins sync menu ui app"
  [server]="support server"
)

failures=0
report() {
  echo "$1" >&2
  failures=$((failures + 1))
}

for dir in src/* server; do
  [ -d "$dir" ] || continue
  layer="${dir##*/}"
  if [ -z "${allowed[$layer]+set}" ]; then
    report "$dir: a folder without a place in the layers; add it to scripts/check-layers.sh"
    continue
  fi
  while IFS= read -r -d '' file; do
    while IFS=: read -r line target; do
      target_layer="${target%%/*}"
      case " ${allowed[$layer]} " in
        *" $target_layer "*) ;;
        *) report "$file:$line: $layer must not include $target" ;;
      esac
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/' "$file" \
               | sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
    if [ "$layer" != platform ] && grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<X11/' "$file"; then
      report "$file: X11 headers belong in src/platform"
    fi
  done < <(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
done

if [ "$failures" -ne 0 ]; then
  echo "$failures include(s) cross the layers the wrong way" >&2
  exit 1
fi
echo "layers: every include points down"
