#!/bin/sh
# Builds the package from build directory $1 and installs it with dpkg into
# fresh roots inside a user namespace, never into this machine's own.
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cpack --config "$1/CPackConfig.cmake" -B "$work" >"$work/log" 2>&1 || { cat "$work/log"; exit 1; }
deb=$(ls "$work"/steward-kestrel_*_amd64.deb)
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# Mode, owner and path (with link target) as packed.
dpkg-deb -c "$deb" | awk '{ $3 = $4 = $5 = ""; print }' | tr -s ' ' >"$work/listing"
while read -r entry; do
  grep -qxF -- "$entry" "$work/listing" || fail "packed: $entry"
done <<'END'
-rwxr-xr-x root/root ./usr/lib/stewardd/bin/steward_kestrel
lrwxrwxrwx root/root ./usr/lib/stewardd/bin/steward_info -> steward_kestrel
lrwxrwxrwx root/root ./usr/lib/stewardd/bundles -> ../../share/stewardd/bundles
lrwxrwxrwx root/root ./usr/lib/stewardd/cgi/steward_info -> ../bin/stewardd-gateway
-rwxr-xr-x root/root ./usr/lib/stewardd/bin/stewardd-gateway
-rwxr-xr-x root/root ./usr/lib/stewardd/bin/stewardd-login
drwxr-xr-x root/root ./usr/share/stewardd/bundles/
-rwxr-xr-x root/root ./usr/sbin/vigild
-rwxr-xr-x root/root ./usr/sbin/machreport
-rw-r----- root/root ./etc/vigild.conf
-rw-r--r-- root/root ./usr/lib/systemd/system/stewardd-gateway.socket
-rw-r--r-- root/root ./usr/lib/systemd/system/stewardd-gateway.service
-rw-r--r-- root/root ./usr/lib/tmpfiles.d/steward-kestrel.conf
-rw-r--r-- root/root ./etc/nginx/conf.d/stewardd.conf
-rw-r--r-- root/root ./etc/pam.d/stewardd
END
dpkg-deb -f "$deb" Depends | grep -q 'libexpat1' || fail "no library dependencies"

# dpkg ROOT-relative ARGS..., as root of a user namespace.
dpkg_in() {
  root=$1; shift
  bwrap --unshare-user --uid 0 --gid 0 --ro-bind / / --bind "$work" "$work" --dev /dev \
    --proc /proc -- env PATH=/usr/sbin:/usr/bin:/sbin:/bin dpkg --root="$root" \
    --log=/dev/null --force-script-chrootless --force-depends "$@" >/dev/null 2>&1
}
# A fresh root with group lines $2, the package installed.
fresh_root() {
  root="$work/$1"
  mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/etc"
  touch "$root/var/lib/dpkg/status"
  echo 'root:x:0:0:root:/root:/bin/sh' >"$root/etc/passwd"
  printf 'root:x:0:\n%s' "$2" >"$root/etc/group"
  sed 's/:x:\([0-9]*\):/:*::/' "$root/etc/group" >"$root/etc/gshadow"
  dpkg_in "$root" -i "$deb" || fail "$1: install"
}
modes() { for path; do stat -c '%a %n' "$root$path"; done; }

fresh_root bare ''
grep -q '^admin:x:[0-9]*:$' "$root/etc/group" || fail "admin not created"
state="/private/var/stewardd /var/lib/stewardd /var/lib/stewardd/registry /etc/ssl/stewardd/key.pem"
[ "$(modes $state | cut -d' ' -f1 | tr '\n' ' ')" = "700 700 755 600 " ] || fail "modes: $(modes $state)"
[ "$(cd "$root/usr/lib/stewardd/bundles" && pwd -P)" = "$root/usr/share/stewardd/bundles" ] ||
  fail "bundle directories differ"
[ -L "$root/etc/systemd/system/sockets.target.wants/stewardd-gateway.socket" ] ||
  fail "gateway socket not enabled"
# An administrator's configuration survives reinstalling; purging clears state.
echo changed >"$root/etc/vigild.conf"
dpkg_in "$root" -i "$deb" && [ "$(cat "$root/etc/vigild.conf")" = changed ] ||
  fail "changed configuration replaced"
dpkg_in "$root" --purge steward-kestrel && [ ! -e "$root/private/var/stewardd" ] &&
  [ ! -e "$root/usr/lib/stewardd" ] || fail "purge"

# A group "admin" that exists stays as it is.
fresh_root admins 'admin:x:1234:alice
'
[ "$(grep -c '^admin:' "$root/etc/group")" = 1 ] && grep -qx 'admin:x:1234:alice' "$root/etc/group" ||
  fail "existing admin group changed"
exit $failed
