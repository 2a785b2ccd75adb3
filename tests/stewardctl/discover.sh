#!/bin/sh
# Run by tests/dnssd/run-in-netns.sh beside a private avahi-daemon: two
# services announced through the daemon's service directory (bound over it
# in this private mount namespace), found by "stewardctl discover" and
# asked by "--all", where nothing answers on their ports.
set -eu
ctl=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
for n in 1 2; do
  cat >"$dir/box$n.service" <<END
<service-group><name>Server administration on box$n</name>
<service><type>_stewardd._tcp</type><port>844$n</port></service></service-group>
END
done
mount --bind "$dir" /etc/avahi/services
avahi-daemon --reload
echo "default login alice password secret" >"$dir/.netrc"
actual=$(HOME=$dir; export HOME
  "$ctl" discover --wait 2
  "$ctl" discover --wait 2 --json
  "$ctl" --all --wait 2 --timeout 2 status 2>&1 | sed 's/after [0-9]* ms/after N ms/' || echo "exit $?")
expected=$(printf '%s\t169.254.77.1\t%s\n' "Server administration on box1" 8441 \
  "Server administration on box2" 8442
cat <<'END'
[{"name":"Server administration on box1","host":"box1","address":"169.254.77.1","port":8441},{"name":"Server administration on box2","host":"box2","address":"169.254.77.1","port":8442}]
box1  FAILED: cannot connect (Failed to connect to 169.254.77.1 port 8441 after N ms: Couldn't connect to server)
box2  FAILED: cannot connect (Failed to connect to 169.254.77.1 port 8442 after N ms: Couldn't connect to server)
END
)
[ "$actual" = "$expected" ] || { printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"; exit 1; }
