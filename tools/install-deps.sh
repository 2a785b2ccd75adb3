#!/bin/sh
# Installs what building and testing need on Debian 12; does nothing when
# everything is already there.
set -eu
packages="cmake ninja-build g++ pkg-config python3 libexpat1-dev
  libgtest-dev libgmock-dev libbenchmark-dev libplist-dev bubblewrap
  clang libclang-rt-14-dev
  libavahi-compat-libdnssd-dev avahi-daemon dbus iproute2 util-linux
  libsensors-dev libfreeipmi-dev libipmimonitoring-dev openipmi
  libefivar-dev libefiboot-dev libpci-dev pci.ids msmtp dpkg-dev
  nginx-light fcgiwrap libpam0g-dev curl libcurl4-openssl-dev openssl nettle-dev"
# The request tool's audit log hashes its records with OpenSSL's libcrypto.
packages="$packages libssl-dev"
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" ||
    missing="$missing $p"
done
[ -z "$missing" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing:$missing"
$sudo apt-get update -qq
# The tests run their own web server in a private network namespace: keep
# the packages from starting the machine's (policy-rc.d answers "denied").
policy=/usr/sbin/policy-rc.d
if [ ! -e $policy ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee $policy >/dev/null
  $sudo chmod +x $policy
  trap '$sudo rm -f $policy' EXIT
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
