#!/bin/bash
# run-in-netns.sh PROGRAM [ARGS...]: runs PROGRAM against a private avahi-daemon, as root in new
# network, mount and PID namespaces: veth end sd0 169.254.77.1/16, IPv6 off (each service is then
# reported once), a tmpfs over /run, a permissive private system bus. Exits with PROGRAM's code,
# or 77 when this machine cannot host the daemon: with CI=true or DNSSD_IT_REQUIRED=1 a failure.
set -u
skip() {
    echo "SKIP: dns_sd integration test: $*" >&2
    [ "${CI:-}" = true ] || [ "${DNSSD_IT_REQUIRED:-0}" = 1 ] || exit 77
    echo "FAIL: a skip counts as a failure here (CI=true or DNSSD_IT_REQUIRED=1)" >&2 && exit 1
}

if [ "${1:-}" != --inside ]; then
    [ $# -ge 1 ] || { echo "usage: $0 PROGRAM [ARGS...]" >&2; exit 2; }
    [ "$(id -u)" = 0 ] || skip "needs root (network namespace, tmpfs over /run)"
    export PATH=$PATH:/usr/sbin:/sbin
    for tool in unshare ip sysctl dbus-daemon avahi-daemon; do
        command -v "$tool" >/dev/null || skip "'$tool' not installed (tools/install-deps.sh)"
    done
    program=$(readlink -f "$1") || skip "no program $1"
    shift
    work=$(mktemp -d "${TMPDIR:-/tmp}/dnssd-it.XXXXXX") || skip "mktemp failed"
    trap 'rm -rf "$work"' EXIT
    # --kill-child: if this script dies, everything inside dies too.
    unshare --net --mount --pid --fork --kill-child --mount-proc "$0" --inside "$work" "$program" "$@"
    rc=$?
    [ -f "$work/inside-started" ] || skip "cannot create namespaces here (unshare exit $rc)"
    exit $rc
fi

# Inside, as the namespace's first process: when it ends, the daemons end.
work=$2 program=$3 && shift 3
touch "$work/inside-started"
sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 2>/dev/null
ip link set lo up && ip link add sd0 type veth peer name sd1 && ip link set sd1 up &&
    ip link set sd0 multicast on up && ip addr add 169.254.77.1/16 dev sd0 ||
    skip "cannot set up a veth pair in the namespace"
mount -t tmpfs -o mode=0755 tmpfs /run && mkdir -p /run/dbus /run/avahi-daemon ||
    skip "cannot mount a tmpfs on /run"
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket
echo '<busconfig><type>system</type><listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth><policy context="default"><allow user="*"/><allow own="*"/>
  <allow send_destination="*"/><allow receive_sender="*"/></policy></busconfig>' >"$work/bus.conf"
printf '%s\n' '[server]' host-name=stewardtest use-ipv6=no allow-interfaces=sd0 \
    ratelimit-interval-usec=1000000 ratelimit-burst=1000 '[wide-area]' enable-wide-area=no \
    '[publish]' publish-hinfo=no publish-workstation=no >"$work/avahi.conf"
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile >"$work/dbus.log" 2>&1 &
for _ in $(seq 100); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.05; done
[ -S /run/dbus/system_bus_socket ] || skip "the private dbus-daemon did not start"
# Service files to announce (DNSSD_IT_SERVICES), in place of this machine's own.
if [ -n "${DNSSD_IT_SERVICES:-}" ]; then
    mount -t tmpfs tmpfs /etc/avahi/services && cp $DNSSD_IT_SERVICES /etc/avahi/services/ ||
        skip "cannot put the service files in place"
fi
avahi-daemon -f "$work/avahi.conf" --no-chroot --no-drop-root --no-rlimits >"$work/avahi.log" 2>&1 &
avahi=$!
# The daemon says this only when run in the foreground.
deadline=$(( $(date +%s) + ${AVAHI_READY_TIMEOUT:-15} ))
until grep -q 'Server startup complete' "$work/avahi.log"; do
    kill -0 "$avahi" 2>/dev/null && [ "$(date +%s)" -lt "$deadline" ] ||
        { cat "$work/avahi.log" >&2; skip "avahi-daemon did not start"; }
    sleep 0.02
done
DNSSD_IT_ADDR=169.254.77.1 AVAHI_COMPAT_NOWARN=1 "$program" "$@"
rc=$?
[ $rc = 0 ] || { echo "--- avahi-daemon log"; cat "$work/avahi.log"; }
exit $(( rc == 77 ? 1 : rc ))  # the daemon is up: a skip now is a failure
