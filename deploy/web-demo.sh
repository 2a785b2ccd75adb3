#!/bin/sh
# Builds, then shows the tool behind the HTTPS front: real nginx and fcgiwrap
# in a sandbox with its own network namespace, vigild on a fake machine,
# asked with curl as an administrator (alice), as a plain user (carol) and
# with a wrong password.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build steward_kestrel stewardd-gateway stewardd-login vigild test_bundles
exec deploy/web-sandbox.sh build '
ask() {  # user:password, tool, command, more of the request
  body="<plist version=\"1.0\"><dict><key>command</key><string>$3</string>${4:-}</dict></plist>"
  echo "=== $1 asks $2 for \"$3\""
  echo "> POST https://localhost/stewardd/$2"
  echo "$body" | sed "s/^/> /"
  printf %s "$body" | curl -sk -u "$1" --data-binary @- -w "\nHTTP %{http_code}\n" \
    "https://localhost/stewardd/$2" | sed "s/^/< /"
}
ask carol:secret steward_kestrel status
ask alice:secret steward_kestrel serviceid "<key>state</key><true/>"
echo "=== the service light is now $(cat /sys/class/leds/front::service/brightness)"
ask alice:secret steward_kestrel restart
ask carol:secret steward_kestrel restart
ask carol:wrong steward_kestrel restart
echo "=== the stand-in programs were called as:"
cat calls
'
