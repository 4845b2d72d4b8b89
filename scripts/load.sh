#!/usr/bin/env bash
# Runs a command (./test by default) on a busy machine: KORVI_LOAD processes (default twice as
# many as there are cores) spin on the processor from before the command starts until it ends,
# then are stopped. Reports how long the command took and ends with its exit status. It shows
# whether the tests still pass when they do not get the machine to themselves.
#   scripts/load.sh [command [arguments ...]]      e.g. KORVI_JOBS=3 scripts/load.sh ./test
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
load="${KORVI_LOAD:-$((2 * $(nproc)))}"
if ! [[ "$load" =~ ^[0-9]+$ ]]; then
  echo "KORVI_LOAD must be a whole number, not \"$load\"" >&2
  exit 1
fi
[ $# -gt 0 ] || set -- "$root/test"

spinners=()
stop_load() {
  for pid in "${spinners[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${spinners[@]}"; do wait "$pid" 2>/dev/null || true; done
  spinners=()
}
trap stop_load EXIT
trap 'exit 130' INT TERM
for ((i = 0; i < load; ++i)); do
  (while :; do :; done) &
  spinners+=("$!")
done
echo "load.sh: $load busy processes on $(nproc) cores; running: $*" >&2

start=$(date +%s)
status=0
"$@" || status=$?
stop_load
echo "load.sh: \"$*\" took $(($(date +%s) - start)) s under a load of $load, exit status $status" >&2
exit "$status"
