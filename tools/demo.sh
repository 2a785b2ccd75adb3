#!/bin/sh
# Shows the request tool at work: a short scripted session in which an
# administrator ("alice") and a user who is not one ("carol") each send the
# eight commands, every request and reply printed, then a batch request. It all happens inside a
# bubblewrap sandbox with a private /etc, /tmp, /run and device registry:
# the stand-in monitor daemon answers on /var/run/vigildPort, and
# /sbin/shutdown, /usr/sbin/nvram and /usr/sbin/machreport are fakes that
# only say how they were called. The real shutdown program is out of reach.
#
# Property lists are written here as bare <plist> elements; plisttool turns
# them into complete XML property lists, prolog included.
#
#   tools/demo.sh BUILD_DIR  (after building steward_kestrel, fake_vigild, plisttool)
set -eu

build=${1:?usage: tools/demo.sh BUILD_DIR}
build=$(cd "$build" && pwd)
tool=$build/bin/steward_kestrel
monitor=$build/bin/fake_vigild
plisttool=$build/bin/plisttool
for program in "$tool" "$monitor" "$plisttool"; do
  [ -x "$program" ] || { echo "demo: $program is missing; build it first" >&2; exit 1; }
done
command -v bwrap >/dev/null || { echo "demo: bubblewrap (bwrap) is needed" >&2; exit 1; }

root=$(mktemp -d "${TMPDIR:-/tmp}/steward-demo.XXXXXX")
trap 'rm -rf "$root"' EXIT INT TERM
registry=$root/registry
mkdir -p "$root/etc" "$root/tmp" "$root/run" "$root/private/var/stewardd" \
  "$root/usr/sbin" "$root/demo" \
  "$registry/IODeviceTree/options" "$registry/IOService/Root/PCI0/OrchardFPButton"
chmod 1777 "$root/tmp"

# Users: alice is in "admin", carol is not.
cat >"$root/etc/passwd" <<'EOF'
root:x:0:0:root:/root:/bin/sh
alice:x:1001:1001:Alice:/nonexistent:/usr/sbin/nologin
carol:x:1003:1003:Carol:/nonexistent:/usr/sbin/nologin
EOF
cat >"$root/etc/group" <<'EOF'
root:x:0:
admin:x:80:alice
alice:x:1001:
carol:x:1003:
EOF
printf 'passwd: files\ngroup: files\n' >"$root/etc/nsswitch.conf"
cp /etc/ld.so.cache "$root/etc/" 2>/dev/null || true

# The monitor's settings file, and what the monitor daemon answers.
"$plisttool" -c xml -o "$root/etc/vigild.conf" - <<'EOF'
<plist version="1.0">
<dict>
	<key>Email</key>
	<dict>
		<key>To</key>
		<string>ops@example.com</string>
		<key>Localizable</key>
		<string>left out of status replies</string>
		<key>Responses</key>
		<array/>
	</dict>
	<key>PollInterval</key>
	<integer>60</integer>
</dict>
</plist>
EOF
"$plisttool" -c xml -o "$root/demo/vigild-reply.plist" - <<'EOF'
<plist version="1.0">
<dict>
	<key>CPUTemperature</key>
	<integer>41</integer>
	<key>FanRPM</key>
	<array>
		<integer>2400</integer>
		<integer>2350</integer>
	</array>
	<key>PollInterval</key>
	<integer>15</integer>
</dict>
</plist>
EOF

# The device registry: the firmware options node and the front-panel button.
printf 'disk0s3\n' >"$registry/IODeviceTree/options/boot-device"
printf '0\n' >"$registry/IOService/Root/PCI0/OrchardFPButton/LED"

# Fakes of the system programs: each says how it was called, one bracket per
# argument. The nvram fake also stores the boot device in the registry, as
# the firmware would.
fake() {
  {
    printf '#!/bin/sh\n'
    printf '{ printf "    ran: %%s" "$0"; for a in "$@"; do printf " [%%s]" "$a"; done; echo; } >>/demo/calls\n'
    cat
  } >"$root/usr/sbin/$1"
  chmod 755 "$root/usr/sbin/$1"
}
fake shutdown </dev/null
fake nvram <<'EOF'
case $1 in boot-device=*)
  printf '%s\n' "${1#boot-device=}" >/var/lib/stewardd/registry/IODeviceTree/options/boot-device;;
esac
EOF
fake machreport <<'EOF'
echo "Hardware Overview:"
echo "  Machine Model: rack server (demonstration)"
echo "  Memory: 8 GB"
EOF

# The session, run by a shell inside the sandbox.
cat >"$root/demo/session.sh" <<'SESSION'
set -u
fake_vigild /demo/vigild-reply.plist 2>/dev/null &
while [ ! -S /var/run/vigildPort ]; do sleep 0.05; done
: >/demo/calls

ask() {  # user, command, further request entries
  request=$(printf '<plist version="1.0"><dict><key>command</key><string>%s</string>%s</dict></plist>' \
    "$2" "${3:-}" | plisttool -c xml -o - -)
  echo "=============================================================="
  case $1 in alice) who="alice (admin)";; *) who="$1 (not an admin)";; esac
  echo "$who sends \"$2\":"
  echo "$request"
  echo "--- reply:"
  printf '%s' "$request" | REMOTE_USER=$1 steward_kestrel
  echo
  case $2 in restart|shutdown) sleep 0.3;; esac  # those run in the background
  if [ -s /demo/calls ]; then
    cat /demo/calls
  else
    case $2 in restart|shutdown|setBootPath|profile) echo "    nothing ran";; esac
  fi
  : >/demo/calls
  if [ "$2" = serviceid ]; then
    echo "    service light (LED): $(cat /var/lib/stewardd/registry/IOService/Root/PCI0/OrchardFPButton/LED)"
  fi
}

for user in alice carol; do
  ask "$user" status
  ask "$user" profile
  ask "$user" email '
	<key>email</key>
	<dict>
		<key>Email</key>
		<dict>
			<key>To</key>
			<string>'"$user"'@example.com</string>
			<key>Localizable</key>
			<string>kept in the file only</string>
		</dict>
		<key>PollInterval</key>
		<integer>30</integer>
	</dict>'
  case $user in alice) light=1;; *) light=off;; esac
  ask "$user" serviceid '
	<key>state</key>
	<string>'"$light"'</string>'
  ask "$user" restart
  ask "$user" shutdown
  ask "$user" setBootPath '
	<key>bootpath</key>
	<string>disk1s2 "quoted" $(reboot) ; `halt`</string>'
  ask "$user" getBootPath
done

# A batch request, as stewardd sends it to the tool started as steward_info:
# items for this tool go to its own dispatcher, others to their bundles.
batch=$(plisttool -c xml -o - - <<'EOF'
<plist version="1.0">
<dict>
	<key>command</key>
	<string>batchRequest</string>
	<key>requestsArray</key>
	<array>
		<dict>
			<key>name</key>
			<string>steward_kestrel</string>
			<key>request</key>
			<dict><key>command</key><string>getBootPath</string></dict>
		</dict>
		<dict>
			<key>name</key>
			<string>network</string>
			<key>request</key>
			<dict><key>command</key><string>status</string></dict>
		</dict>
	</array>
</dict>
</plist>
EOF
)
echo "=============================================================="
echo "alice (admin) sends a batch request to steward_info:"
echo "$batch"
echo "--- reply:"
printf '%s' "$batch" |
  REMOTE_USER=alice SCRIPT_FILENAME=/steward/bin/steward_kestrel steward_info
echo
echo "=============================================================="
echo "/etc/vigild.conf now holds:"
cat /etc/vigild.conf
SESSION

# The host's system directories, read-only; /sbin always leads to the fakes.
system=""
for top in /bin /lib /lib32 /lib64; do
  if [ -L "$top" ]; then
    system="$system --symlink $(readlink "$top") $top"
  elif [ -d "$top" ]; then
    system="$system --ro-bind $top $top"
  fi
done

# shellcheck disable=SC2086  # $system is a list of words
bwrap --die-with-parent --unshare-pid --unshare-net --unshare-ipc --unshare-uts \
  --cap-drop ALL --clearenv \
  --ro-bind /usr /usr $system --symlink usr/sbin /sbin \
  --proc /proc --dev /dev \
  --bind "$root/etc" /etc --bind "$root/tmp" /tmp --bind "$root/run" /run \
  --bind "$root/private" /private --ro-bind "$root/usr/sbin" /usr/sbin \
  --dir /var --symlink ../run /var/run \
  --bind "$registry" /var/lib/stewardd/registry \
  --bind "$root/demo" /demo \
  --ro-bind "$tool" /steward/bin/steward_kestrel \
  --ro-bind "$tool" /steward/bin/steward_info \
  --ro-bind "$monitor" /steward/bin/fake_vigild \
  --ro-bind "$plisttool" /steward/bin/plisttool \
  --chdir / --setenv PATH /steward/bin:/usr/bin \
  /bin/sh /demo/session.sh
