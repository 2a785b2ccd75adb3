#!/bin/bash
# The Ansible module and the example playbook against two stacks, each in a
# network namespace of its own (tests/stewardctl/fleet-sandbox.sh), reached
# from a controller namespace over veth pairs: host1.fleet.test on
# 10.77.1.2, host2.fleet.test on 10.77.2.2; down.fleet.test refuses.
#   fleet.sh BUILD_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
command -v ansible-playbook >/dev/null || { echo "ansible-playbook is missing (tools/install-deps.sh)"; exit 1; }
if [ "${1:-}" != --inside ]; then
  exec unshare --user --map-root-user --net --mount --pid --fork --kill-child --mount-proc \
    "$0" --inside "$(cd "$1" && pwd)"
fi
build=$2
work=$(mktemp -d)
# Each stack prints its authority, then waits for a word on port 9 to end
# (or a minute and a half).
echo 'cat /web/fleet-ca.pem; python3 -c "import socket; s = socket.create_server((\"\", 9))
s.settimeout(90); s.accept()"' >"$work/stack.sh"
finish() {
  for i in 1 2; do bash -c "exec 3<>/dev/tcp/10.77.$i.2/9" 2>/dev/null || true; done
  wait; rm -rf "$work"
}
trap finish EXIT
ip link set lo up
seen=" $(readlink /proc/self/ns/net) "
printf '127.0.0.1 localhost down.fleet.test\n' >"$work/hosts"
for i in 1 2; do
  FLEET_SIZE=1 "$here/../stewardctl/fleet-sandbox.sh" "$build" "$work/stack.sh" >"$work/out$i" 2>&1 &
  ip link add "c$i" type veth peer name "s$i"
  # Its network namespace is the one not seen yet.
  for try in $(seq 200); do
    for p in /proc/[0-9]*; do
      ns=$(readlink "$p/ns/net" 2>/dev/null) || continue
      case $seen in *" $ns "*) ;; *) ip link set "s$i" netns "${p#/proc/}" 2>/dev/null && break 2 ;; esac
    done
    [ "$try" -lt 200 ] || { echo "stack $i did not start"; cat "$work/out$i"; exit 1; }
    sleep 0.05
  done
  seen="$seen$ns "
  nsenter --net="$p/ns/net" sh -c "ip addr add 10.77.$i.2/24 dev s$i && ip link set s$i up"
  ip addr add "10.77.$i.1/24" dev "c$i" && ip link set "c$i" up
  echo "10.77.$i.2 host$i.fleet.test" >>"$work/hosts"
done
mount --bind "$work/hosts" /etc/hosts
for i in 1 2; do
  for _ in $(seq 600); do grep -q 'END CERTIFICATE' "$work/out$i" && break; sleep 0.05; done
  sed -n '/BEGIN/,/END/p' "$work/out$i" >"$work/ca$i.pem"
  [ -s "$work/ca$i.pem" ] || { cat "$work/out$i"; exit 1; }
done
cat >"$work/inventory" <<END
[stewardd]
host1.fleet.test stewardd_ca_cert=$work/ca1.pem other_ca=$work/ca2.pem
host2.fleet.test stewardd_ca_cert=$work/ca2.pem other_ca=$work/ca1.pem
[down]
down.fleet.test stewardd_ca_cert=$work/ca1.pem
[all:vars]
stewardd_user=alice
stewardd_password=secret
END
export HOME=$work LC_ALL=C.UTF-8 ANSIBLE_LIBRARY=$here/../../ansible/library ANSIBLE_NOCOLOR=1
play() { ansible-playbook -i "$work/inventory" "$@" >"$work/log" 2>&1; }
# Both machines' recap lines match PATTERN.
recap() { [ "$(grep -E "^host[12].*$1" "$work/log" | wc -l)" = 2 ]; }
status=0
check() { "$@" || { echo "failed: $*"; cat "$work/log"; status=1; }; }
check play -vvv "$here/checks.yml"
check eval '! grep -q secret "$work/log"'  # the password is never shown
check play "$here/../../ansible/identify.yml" -e light=true
check eval 'recap "changed=1 .*failed=0" && [ "$(grep -c "light on" "$work/log")" = 2 ]'
check play "$here/../../ansible/identify.yml"
check recap 'changed=0 .*failed=0'
exit $status
