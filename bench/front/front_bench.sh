#!/bin/bash
# The whole HTTPS front under load, as deploy/web-sandbox.sh brings it up:
# nginx, fcgiwrap, the login check through PAM (yescrypt hashes, as Debian 12
# makes them), the tool, vigild on a fake machine. For "email" and "status",
# asked by an administrator: requests per second and latency p50/p99 with 1,
# 8 and 64 concurrent clients, each keeping its connection (front_load), and
# the tool's own wall time for the same request run alone (exec_bench; one at
# a time, and 8 at a time, as busy as the machine is at 8 clients).
#
#   bench/front/front_bench.sh [BUILD_DIR] [COUNT]
set -euo pipefail
build=${1:-build}
count=${2:-400}
for program in front_load exec_bench steward_kestrel stewardd-gateway stewardd-login vigild; do
  [[ -x $build/bin/$program ]] || { echo "missing $build/bin/$program (build with -DSTEWARD_BENCH=ON)" >&2; exit 1; }
done
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$(dirname "$0")/../../deploy/web-sandbox.sh" "$build" "
settings='<key>Email</key><dict/><key>ServiceLED</key><string>front::service</string>'
plist() { printf '<plist version=\"1.0\"><dict><key>command</key><string>%s</string>%s</dict></plist>' \"\$@\"; }
plist email \"<key>email</key><dict>\$settings</dict>\" >/tmp/email.xml
plist status >/tmp/status.xml
printf '%-14s %8s %9s %9s %9s %9s %7s\n' request clients requests req/s 'p50 ms' 'p99 ms' failed
for command in email status; do
  for clients in 1 8 64; do
    printf '%-14s %8s %9s %9s %9s %9s %7s\n' \$command \$(/build/bin/front_load \
      https://localhost/stewardd/steward_kestrel alice:secret /tmp/\$command.xml \$clients $count)
  done
  alone() { REMOTE_USER=alice /build/bin/exec_bench \$1 /tmp/\$command.xml /opt/bin/steward_kestrel steward_kestrel; }
  echo \"\$command alone 1 \$(alone $count)\"
  for i in 1 2 3 4 5 6 7 8; do alone \$(($count / 8)) >/tmp/alone\$i & done
  wait
  echo \"\$command alone 8 \$(cat /tmp/alone? | paste -sd ' ')\"
done" | tee "$out"
# Tool alone: mean wall time per run in us (exec_bench), per concurrency.
awk '$2 == "alone" { n = 0; for (i = 4; i <= NF; i += 3) { sum[$1, $3] += $i; n++ }
                     alone[$1, $3] = sum[$1, $3] / n / 1000 }
     $2 == 8 { p50[$1] = $5 }
     END { for (c in p50)
             printf "%s at 8 clients: tool alone %.2f ms (%.2f one at a time), the stack adds %.2f ms at p50 (goal <= 2), tool share %.0f%%\n",
                    c, alone[c, 8], alone[c, 1], p50[c] - alone[c, 8], 100 * alone[c, 8] / p50[c] }' "$out"
