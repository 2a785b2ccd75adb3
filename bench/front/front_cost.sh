#!/bin/bash
# Where a request's time goes in the HTTPS front, as CPU time, which a busy
# machine does not inflate the way it does wall time. For "email" and
# "status" at CLIENTS concurrent clients (8 unless given), the CPU each
# program of the front spent per request: nginx, the login check, fcgiwrap
# itself, vigild, and the client (front_load, as "sh+": the children the
# shell waited for). What fcgiwrap starts is charged to no one it waits
# for, so the gateway and the tool are timed alone after it (exec_bench's
# CPU time): the tool, then the gateway starting the tool; the gateway's
# own share is the difference.
#
#   bench/front/front_cost.sh [BUILD_DIR] [COUNT] [CLIENTS]
set -euo pipefail
build=${1:-build}
count=${2:-400}
clients=${3:-8}
for program in front_load exec_bench steward_kestrel stewardd-gateway stewardd-login vigild; do
  [[ -x $build/bin/$program ]] || { echo "missing $build/bin/$program (build with -DSTEWARD_BENCH=ON)" >&2; exit 1; }
done
"$(dirname "$0")/../../deploy/web-sandbox.sh" "$build" "
settings='<key>Email</key><dict/><key>ServiceLED</key><string>front::service</string>'
plist() { printf '<plist version=\"1.0\"><dict><key>command</key><string>%s</string>%s</dict></plist>' \"\$@\"; }
plist email \"<key>email</key><dict>\$settings</dict>\" >/tmp/email.xml
plist status >/tmp/status.xml
# Nanoseconds on CPU per process name: its threads' run time, and apart
# (name followed by +) the children it waited for (clock ticks of 10 ms).
snapshot() {
  for p in /proc/[0-9]*; do
    [ -r \$p/stat ] || continue
    name=\$(cat \$p/comm 2>/dev/null) || continue
    cat \$p/task/*/schedstat 2>/dev/null | mawk -v n=\"\$name\" '{ s += \$1 } END { print n, s }'
    sed 's/^.*) //' \$p/stat 2>/dev/null | mawk -v n=\"\$name+\" '{ print n, (\$14 + \$15) * 10000000 }'
  done
}
# /etc is the sandbox's own, without the alternatives link "awk".
printf '%-8s %-18s %10s\n' request program 'CPU ms/req'
for command in email status; do
  snapshot >/tmp/before
  /build/bin/front_load https://localhost/stewardd/steward_kestrel alice:secret /tmp/\$command.xml $clients $count >/tmp/load
  snapshot >/tmp/after
  mawk -v c=\$command -v n=\$(mawk '{ print \$2 + \$1 }' /tmp/load) '
    FNR == NR { before[\$1] += \$2; next } { after[\$1] += \$2 }
    END { for (p in after) { d = (after[p] - before[p]) / n / 1e6
                             if (d >= 0.005) printf \"%-8s %-18s %10.3f\n\", c, p, d; total += d }
          printf \"%-8s %-18s %10.3f\n\", c, \"all\", total }' /tmp/before /tmp/after | sort -k1,1 -k3,3nr
  cat /tmp/load >&2
  for program in /opt/bin/steward_kestrel /opt/cgi/steward_kestrel; do
    printf '%-8s %-18s %10s\n' \$command \"alone \${program#/opt/}\" \$(REMOTE_USER=alice SCRIPT_FILENAME=\$program \
      /build/bin/exec_bench $count /tmp/\$command.xml \$program steward_kestrel | mawk '{ printf \"%.3f\", \$2 / 1000 }')
  done
done"
