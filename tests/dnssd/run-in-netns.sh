#!/bin/bash
# Runs a dns_sd test program against a private avahi-daemon:
#
#   run-in-netns.sh PROGRAM [ARGS...]
#
# Inside new network, mount and PID namespaces (unshare, as root) it sets up
#   - a veth pair sd0/sd1, both ends inside, sd0 = 169.254.77.1/16 with
#     multicast; IPv6 off, so that each service is reported once;
#   - a tmpfs over /run, so the daemons' fixed paths there are private;
#   - a private system bus (dbus-daemon, permissive policy) at the usual path;
#   - avahi-daemon on sd0 only, no chroot, no privilege drop;
# waits for the daemon, runs PROGRAM with DBUS_SYSTEM_BUS_ADDRESS and
# DNSSD_IT_ADDR set, and stops both daemons by pid. Nothing leaves the
# namespace, and it vanishes with its last process.
#
# Exit codes: PROGRAM's (0 pass, 1 fail), or 77 when this machine cannot
# host the daemon (not root, a tool missing, no namespaces, daemon not
# ready). With CI=true or DNSSD_IT_REQUIRED=1 that skip is a failure: CI
# installs everything itself, so a skip there would hide a broken set-up.
# Packages: avahi-daemon libavahi-compat-libdnssd-dev dbus iproute2.
set -u

SKIP=77
skip() {
    echo "SKIP: dns_sd integration test: $*" >&2
    if [ "${CI:-}" = true ] || [ "${DNSSD_IT_REQUIRED:-0}" = 1 ]; then
        echo "FAIL: a skip counts as a failure here (CI=true or DNSSD_IT_REQUIRED=1)" >&2
        exit 1
    fi
    exit $SKIP
}

if [ "${1:-}" != --inside ]; then
    [ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
    [ "$(id -u)" = 0 ] || skip "needs root (network namespace, tmpfs over /run)"
    export PATH=$PATH:/usr/sbin:/sbin
    for tool in unshare ip sysctl dbus-daemon avahi-daemon; do
        command -v "$tool" >/dev/null 2>&1 ||
            skip "'$tool' not installed (apt-get install avahi-daemon dbus iproute2)"
    done
    program=$(readlink -f "$1") || skip "no program $1"
    shift
    case $program in /run/*) skip "the program must not live under /run, which gets hidden" ;; esac
    work=$(mktemp -d "${TMPDIR:-/tmp}/dnssd-it.XXXXXX") || skip "mktemp failed"
    trap 'rm -rf "$work"' EXIT
    # --pid --fork --kill-child: if this script dies, everything inside dies too.
    unshare --net --mount --pid --fork --kill-child --mount-proc \
        "$0" --inside "$work" "$program" "$@"
    rc=$?
    [ -f "$work/inside-started" ] || skip "cannot create namespaces here (unshare exit $rc)"
    exit $rc
fi

# ---------------------------------------------------------------- inside ----
work=$2; program=$3; shift 3
touch "$work/inside-started"
start=$(date +%s%N)
ms() { echo $(( ($(date +%s%N) - start) / 1000000 )); }
dbus_pid=; avahi_pid=
cleanup() {
    for pid in $avahi_pid $dbus_pid; do
        kill -TERM "$pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
}
trap cleanup EXIT

sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 2>/dev/null
# A veth pair: there is no dummy network driver on every machine.
ip link set lo up &&
    ip link add sd0 type veth peer name sd1 &&
    ip link set sd1 up && ip link set sd0 multicast on up &&
    ip addr add 169.254.77.1/16 dev sd0 || skip "cannot set up a veth pair in the namespace"

mount -t tmpfs -o mode=0755 tmpfs /run || skip "cannot mount a tmpfs on /run"
mkdir -p /run/dbus /run/avahi-daemon

cat >"$work/bus.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat >"$work/avahi.conf" <<'CONF'
[server]
host-name=stewardtest
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=sd0
enable-dbus=yes
disallow-other-stacks=no
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-addresses=yes
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-aaaa-on-ipv4=no
publish-a-on-ipv6=no
[reflector]
enable-reflector=no
[rlimits]
CONF

export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/dbus.log" 2>&1 &
dbus_pid=$!
for _ in $(seq 100); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.05; done
[ -S /run/dbus/system_bus_socket ] || skip "the private dbus-daemon did not start"

avahi-daemon -f "$work/avahi.conf" --no-chroot --no-drop-root --no-rlimits --no-proc-title \
    >"$work/avahi.log" 2>&1 &
avahi_pid=$!
# The daemon prints this line only when run without -D or -s.
deadline=$(( $(date +%s) + ${AVAHI_READY_TIMEOUT:-15} ))
until grep -q 'Server startup complete' "$work/avahi.log"; do
    kill -0 "$avahi_pid" 2>/dev/null || { cat "$work/avahi.log" >&2; skip "avahi-daemon exited during start-up"; }
    [ "$(date +%s)" -lt "$deadline" ] || { cat "$work/avahi.log" >&2; skip "avahi-daemon not ready in time"; }
    sleep 0.02
done
echo "[$(ms) ms] avahi-daemon ready"

DNSSD_IT_ADDR=169.254.77.1 AVAHI_COMPAT_NOWARN=1 "$program" "$@"
rc=$?
echo "[$(ms) ms] program exit $rc"
# The daemon is up: whatever the program says, a 77 now is a failure.
[ $rc = 77 ] && rc=1
if [ $rc != 0 ]; then
    echo "--- avahi-daemon log"; cat "$work/avahi.log"
fi
exit $rc
