#!/bin/sh
# stewardctl against the real HTTPS front (nginx, fcgiwrap, the tool) in a
# sandbox: what people and programs see, and every kind of failure.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
script=$(mktemp)
trap 'rm -f "$script"' EXIT
cat >"$script" <<'INNER'
cat >/web/status.plist <<'END'
<plist version="1.0"><dict>
<key>Sensors</key><array>
<dict><key>chip</key><string>coretemp-isa-0000</string><key>kind</key><string>temperature</string><key>label</key><string>Core 0</string><key>value</key><real>47</real><key>unit</key><string>°C</string><key>max</key><real>80</real><key>crit</key><real>100</real><key>alarm</key><false/></dict>
<dict><key>chip</key><string>nct6775-isa-0290</string><key>kind</key><string>fan</string><key>label</key><string>CPU fan</string><key>value</key><real>310</real><key>unit</key><string>RPM</string><key>min</key><real>600</real><key>alarm</key><true/></dict>
<dict><key>chip</key><string>coretemp-isa-0000</string><key>kind</key><string>temperature</string><key>label</key><string>Package</string><key>value</key><real>52.5</real><key>unit</key><string>°C</string></dict>
</array>
<key>PowerSupplies</key><array><dict><key>name</key><string>AC</string><key>type</key><string>Mains</string><key>online</key><true/></dict></array>
<key>ServiceLight</key><dict><key>Available</key><true/><key>On</key><false/></dict>
<key>Time</key><date>2026-01-02T03:04:05Z</date>
<key>Health</key><string>warning</string>
</dict></plist>
END
# A fixed status in place of the fake machine's.
kill "$(cat /web/vigild.pid)"; while [ -S /run/vigildPort ]; do sleep 0.02; done
/web/fleet/fake_vigild /web/status.plist 2>/dev/null &
ca="--cacert /web/fleet-ca.pem"
one="-H host1.fleet.test $ca"
run() { echo "== $1"; shift; "$@" 2>&1 </dev/null && echo "exit 0" || echo "exit $?"; }
as() { printf "default login %s password %s\n" "$1" "$2" >/web/.netrc; }
run "status" stewardctl $one status
run "status as JSON" stewardctl $one --json status
run "e-mail settings" stewardctl $one --json email get
run "identify" stewardctl $one identify on
run "restart unconfirmed" stewardctl $one restart
# host1 and host2 are names of one service: the same request id acts once.
run "fleet with one host down" stewardctl -H host1.fleet.test -H host2.fleet.test \
  -H down.fleet.test:444 $ca --yes restart
run "fleet as JSON" stewardctl -H host2.fleet.test -H down.fleet.test:444 $ca --json boot get
python3 -c 'import socket, time; s = socket.socket(); s.bind(("127.0.0.1", 4444)); s.listen(); time.sleep(30)' &
sleep 0.3
run "a host that hangs" stewardctl -H host1.fleet.test -H down.fleet.test:4444 $ca --timeout 1 identify off
run "error envelope" stewardctl $one boot get
run "planned delayed restart" stewardctl $one --dry-run restart --delay 60 --message "disk swap"
run "light with a lease" stewardctl $one identify on --for 600 --reason "disk 3"
run "no power action pending" stewardctl $one power status
mkdir -p /var/lib/stewardd/registry/IODeviceTree/options
echo Boot0003 >/var/lib/stewardd/registry/IODeviceTree/options/boot-device
for answer in n y; do
  echo "== boot set, answered $answer"
  printf $answer | script -qec "stewardctl $one boot set Boot0002 --once" /dev/null | tr -d '\r'
done
run "untrusted certificate" stewardctl -H host1.fleet.test --cacert /web/other-ca.pem status
as carol secret
run "plain user" stewardctl $one --yes shutdown
run "plain user's plan" stewardctl $one --dry-run shutdown --force
as alice wrong
run "wrong password" stewardctl $one status
rm /web/.netrc
run "no credentials" stewardctl $one status
echo "== run by the service"
cat /web/calls
INNER
actual=$(FLEET_SIZE=2 "$here/fleet-sandbox.sh" "$1" "$script" ${2:-} |
  sed 's/after [0-9]* ms/after N ms/; s/[0-9]\{10\}/UNIXTIME/g; s/20[-0-9]* [:0-9]* UTC/DATE/g')
expected=$(cat <<'END'
== status
Health: warning (1 alarm)
Service light: off

temperature
  SENSOR   CHIP               VALUE  UNIT  MIN  MAX   CRIT
  Core 0   coretemp-isa-0000  47.0   °C    -    80.0  100.0
  Package  coretemp-isa-0000  52.5   °C    -    -     -

fan
  SENSOR   CHIP              VALUE  UNIT  MIN  MAX  CRIT
  CPU fan  nct6775-isa-0290  310    RPM   600  -    -     ALARM

power supplies
  SUPPLY  TYPE   ONLINE  STATUS  CAPACITY
  AC      Mains  yes
exit 0
== status as JSON
{"Sensors":[{"chip":"coretemp-isa-0000","kind":"temperature","label":"Core 0","value":47.0,"unit":"°C","max":80.0,"crit":100.0,"alarm":false},{"chip":"nct6775-isa-0290","kind":"fan","label":"CPU fan","value":310.0,"unit":"RPM","min":600.0,"alarm":true},{"chip":"coretemp-isa-0000","kind":"temperature","label":"Package","value":52.5,"unit":"°C"}],"PowerSupplies":[{"name":"AC","type":"Mains","online":true}],"ServiceLight":{"Available":true,"On":false},"Time":{"$date":"2026-01-02T03:04:05Z"},"Health":"warning","Email":{},"ServiceLED":"front::service","command":"status"}
exit 0
== e-mail settings
{}
exit 0
== identify
service light switched on
exit 0
== restart unconfirmed
stewardctl: this command changes the machine; confirm it with --yes
exit 2
== fleet with one host down
host1.fleet.test     restarting
host2.fleet.test     restarting
down.fleet.test:444  FAILED: cannot connect (Failed to connect to down.fleet.test port 444 after N ms: Couldn't connect to server)
exit 1
== fleet as JSON
{"host2.fleet.test":{"failure":"the service has no answer to this request (an unknown command, the hardware monitor not running, or no boot device to read) (UNEXPECTED_COMMAND)"},"down.fleet.test:444":{"failure":"cannot connect (Failed to connect to down.fleet.test port 444 after N ms: Couldn't connect to server)"}}
exit 1
== a host that hangs
host1.fleet.test      service light switched off
down.fleet.test:4444  FAILED: no answer within 1 s
exit 1
== error envelope
stewardctl: host1.fleet.test: the service has no answer to this request (an unknown command, the hardware monitor not running, or no boot device to read) (UNEXPECTED_COMMAND)
exit 1
== planned delayed restart
plan (allowed):
  run     /usr/bin/wall Restart at DATE, asked by alice: disk swap
  run     /usr/bin/systemd-run --unit=steward-power --description=steward_kestrel restart graceful at=UNIXTIME forceAfter=0 asked=UNIXTIME by=alice --on-active=60s --timer-property=AccuracySec=1s --timer-property=RemainAfterElapse=no /sbin/shutdown -r now
  change  steward-power.timer: (none) -> steward_kestrel restart graceful at=UNIXTIME forceAfter=0 asked=UNIXTIME by=alice
exit 0
== light with a lease
service light switched on until DATE; verified: true
exit 0
== no power action pending
nothing pending
exit 0
== boot set, answered n
nplan (allowed):
  run     /usr/sbin/nvram boot-device-once=Boot0002
  change  IODeviceTree:/options boot-device-once: (none) -> Boot0002
Send "setBootPath" to host1.fleet.test? [y/N] == boot set, answered y
yplan (allowed):
  run     /usr/sbin/nvram boot-device-once=Boot0002
  change  IODeviceTree:/options boot-device-once: (none) -> Boot0002
Send "setBootPath" to host1.fleet.test? [y/N] next start only from Boot0002; not read back (asked Boot0002)
== untrusted certificate
stewardctl: host1.fleet.test: the server's certificate cannot be trusted (SSL certificate problem: self-signed certificate); for a private certificate authority pass --cacert FILE
exit 1
== plain user
stewardctl: host1.fleet.test: refused: the user is not an administrator (CONNECT-AUTH)
exit 1
== plain user's plan
plan (NOT allowed for this user):
  run     /bin/systemctl poweroff --force
exit 0
== wrong password
stewardctl: host1.fleet.test: the user name or password was not accepted (HTTP 401)
exit 1
== no credentials
stewardctl: no entry in ~/.netrc for host1.fleet.test and no terminal to ask for a password
exit 2
== run by the service
/sbin/shutdown -r now
/usr/sbin/nvram boot-device-once=Boot0002
END
)
[ "$actual" = "$expected" ] || { printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"; exit 1; }
