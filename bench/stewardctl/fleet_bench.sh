#!/bin/sh
# Wall time of "stewardctl status" across 1, 10 and 50 hosts: one instance of
# the real HTTPS front behind 50 names (tests/stewardctl/fleet-sandbox.sh),
# each count asked ROUNDS times (median shown), against the same hosts asked
# one after the other by separate stewardctl runs.
#   bench/stewardctl/fleet_bench.sh [BUILD_DIR] [ROUNDS]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
script=$(mktemp)
trap 'rm -f "$script"' EXIT
cat >"$script" <<INNER
rounds=${2:-5}
INNER
cat >>"$script" <<'INNER'
cat >/web/status.plist <<'END'
<plist version="1.0"><dict><key>Sensors</key><array><dict><key>kind</key><string>fan</string>
<key>label</key><string>fan1</string><key>value</key><real>1200</real><key>unit</key><string>RPM</string></dict>
</array><key>Health</key><string>ok</string></dict></plist>
END
/web/fleet/fake_vigild /web/status.plist 2>/dev/null &
ms() { echo $(($(date +%s%N) / 1000000)); }
median() { sort -n | sed -n "$(((rounds + 1) / 2))p"; }
hosts() { for i in $(seq "$1"); do printf -- "-H host%s.fleet.test " "$i"; done; }
printf "%-6s %-16s %-16s\n" hosts "parallel (ms)" "one by one (ms)"
for n in 1 10 50; do
  together=$(for r in $(seq "$rounds"); do
    t0=$(ms); stewardctl $(hosts "$n") --cacert /web/fleet-ca.pem status >/dev/null; echo $(($(ms) - t0))
  done | median)
  t0=$(ms)
  for i in $(seq "$n"); do stewardctl -H "host$i.fleet.test" --cacert /web/fleet-ca.pem status >/dev/null; done
  printf "%-6s %-16s %-16s\n" "$n" "$together" "$(($(ms) - t0))"
done
INNER
FLEET_SIZE=50 "$here/../../tests/stewardctl/fleet-sandbox.sh" "$build" "$script"
