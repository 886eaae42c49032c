#!/usr/bin/env bash
# Usage: demo-cli.sh MODSIM CORVANE
# The end of `make demo`: the command line reads a simulated module natively, on a pty of its
# own, and shows what a user sees.
set -euo pipefail
modsim=$1
corvane=$2
first=$(mktemp)
"$modsim" >"$first" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; rm -f "$first"' EXIT
for _ in $(seq 50); do
  [ -s "$first" ] && break
  sleep 0.1
done
read -r _ pty <"$first"
echo
echo "The command line against a new simulated module on $pty:"
echo "\$ corvane read --port $pty"
"$corvane" read --port "$pty"
