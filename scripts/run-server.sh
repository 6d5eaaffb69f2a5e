#!/usr/bin/env bash
# Builds and runs the Quillet sync service on this machine: the mosquitto broker and
# quillet-sync-server, in the foreground until interrupted (Ctrl+C stops both).
#
#   QUILLET_SERVER_DIR        data folder (default: $XDG_DATA_HOME/quillet-server)
#   QUILLET_SERVER_PORT       HTTP(S) port (default: "port" of config.json, first 8888)
#   QUILLET_SERVER_MQTT_PORT  broker port (default: "mqtt_port" of config.json, first 1883)
#   QUILLET_SERVER_STORAGE    "postgresql://USER@HOST:PORT/DB" (default: "storage" of config.json,
#                             first empty: SQLite in the data folder); the password, if any, from
#                             ~/.pgpass or PGPASSWORD rather than the URL
# Further arguments go to quillet-sync-server, e.g. --tls-cert FILE --tls-key FILE (HTTPS),
# --mqtt-tls-port 8883 (a TLS listener of the broker, with the same certificate) or --host 0.0.0.0.
set -euo pipefail
cd "$(dirname "$0")/.."

export QUILLET_SERVER_DIR="${QUILLET_SERVER_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/quillet-server}"
# The ports and the storage are passed on only when the environment sets them; otherwise
# config.json decides.
export QUILLET_SERVER_STORAGE="${QUILLET_SERVER_STORAGE:-}"

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target quillet-sync-server
server=build/server/quillet-sync-server

# Writes config.json and secrets.json on the first run, and the broker's mosquitto.conf (with
# mosquitto's dynamic security plugin) and, once, the plugin's JSON with the service's account;
# the broker keeps that JSON itself and the service manages the devices' accounts through it.
"$server" --setup-only "$@" >/dev/null

mosquitto -c "$QUILLET_SERVER_DIR/broker/mosquitto.conf" &
broker=$!
"$server" "$@" &
service=$!

stop() {
  kill "$service" "$broker" 2>/dev/null || true
  wait "$service" "$broker" 2>/dev/null || true
}
trap stop INT TERM EXIT
# Ends when either of the two ends; the trap then stops the other.
wait -n "$service" "$broker" || true
