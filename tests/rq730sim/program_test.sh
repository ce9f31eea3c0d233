#!/bin/bash
# The rq730sim program: usage, argument errors, commands on standard input, ending on SIGTERM.
set -u
sim="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$sim" --help > "$dir/help" || fail "--help exits non-zero"
grep -q '^usage: rq730sim --channel URL' "$dir/help" || fail "usage text missing"

"$sim" --node-id 0 --channel loopback://t 2> "$dir/err"; [ $? -eq 2 ] || fail "bad node id: exit code"
grep -q 'invalid value for --node-id: 0' "$dir/err" || fail "bad node id: message"

"$sim" --channel nosuch://x < /dev/null > "$dir/out" 2> "$dir/err"; [ $? -eq 1 ] || fail "bad URL: exit code"
[ -s "$dir/err" ] || fail "bad URL: no message"
grep -q ready "$dir/out" && fail "bad URL: said ready"

printf 'status\nbogus 1\nload 5\nquit\n' | "$sim" --channel loopback://t --warmup-ms 0 \
  > "$dir/out" 2> "$dir/err" || fail "quit: exit code"
[ "$(head -n 1 "$dir/out")" = ready ] || fail "first line is not ready"
grep -q '^node 1 pre-operational, gross 0 kg' "$dir/out" || fail "status line: $(cat "$dir/out")"
grep -q '^load 5 kg' "$dir/out" || fail "load confirmation"
grep -q 'unknown command: bogus' "$dir/err" || fail "unknown command not reported"

# With standard input at its end the module keeps running until SIGTERM.
"$sim" --channel loopback://t < /dev/null > "$dir/out" 2> "$dir/err" &
pid=$!
for _ in $(seq 200); do grep -q ready "$dir/out" && break; sleep 0.05; done
grep -q ready "$dir/out" || { kill "$pid"; fail "never ready"; }
kill -0 "$pid" 2> /dev/null || fail "ended at the end of standard input"
kill -TERM "$pid"
wait "$pid" || fail "SIGTERM: exit code $?"
echo PASS
