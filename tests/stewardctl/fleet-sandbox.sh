#!/bin/sh
# Runs SCRIPT next to the HTTPS front of deploy/web-sandbox.sh, with
# stewardctl on the PATH and a fleet of names for the one instance:
# host1.fleet.test ... host$FLEET_SIZE.fleet.test (default 3), all on
# 127.0.0.1, under a certificate for *.fleet.test whose authority is
# /web/fleet-ca.pem (the first certificate is kept as /web/other-ca.pem).
# HOME is /web; /web/.netrc holds alice's password. fake_vigild is in
# /web/fleet for a status document of the script's choice.
#   fleet-sandbox.sh BUILD_DIR SCRIPT [STEWARDCTL]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
ctl=${3:-$build/bin/stewardctl}
pack=$(mktemp -d)
trap 'rm -rf "$pack"' EXIT
cp "$ctl" "$pack/stewardctl"
cp "$2" "$pack/script.sh"
cp "$build/bin/fake_vigild" "$pack/fake_vigild"
echo "${FLEET_SIZE:-3}" >"$pack/size"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -subj "/CN=fleet.test" -addext "subjectAltName=DNS:*.fleet.test" \
  -keyout "$pack/key.pem" -out "$pack/certificate.pem" 2>/dev/null
# The sandbox takes no extra binds: what runs inside arrives on stdin.
tar -C "$pack" -cf - stewardctl fake_vigild script.sh size key.pem certificate.pem | "$here/../../deploy/web-sandbox.sh" "$build" '
set -eu
mkdir -p /web/fleet && tar -xf - -C /web/fleet
export PATH=/web/fleet:$PATH
size=$(cat /web/fleet/size)
for i in $(seq "$size"); do echo "127.0.0.1 host$i.fleet.test"; done >>/etc/hosts
echo "127.0.0.1 down.fleet.test" >>/etc/hosts
cp /etc/ssl/stewardd/certificate.pem /web/other-ca.pem
cp /web/fleet/key.pem /web/fleet/certificate.pem /etc/ssl/stewardd/
cp /web/fleet/certificate.pem /web/fleet-ca.pem
/host/sbin/nginx -p /web/nginx -c /etc/nginx/nginx.conf -s reload 2>/dev/null
tries=0
until curl -s --cacert /web/fleet-ca.pem -o /dev/null https://host1.fleet.test/; do
  tries=$((tries + 1)); [ $tries -lt 200 ] || exit 1; sleep 0.05
done
printf "default login alice password secret\n" >/web/.netrc
sh /web/fleet/script.sh
'
