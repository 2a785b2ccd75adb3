#!/bin/sh
# Creates the group "admin" when missing, the state directories, and starts
# the units. DPKG_ROOT is set when dpkg installs into another root.
set -e
root="${DPKG_ROOT:-}"
[ "$1" = configure ] || exit 0

if ! grep -q '^admin:' "$root/etc/group"; then
  if [ -n "$root" ]; then
    groupadd --prefix "$root" --system admin
  else
    groupadd --system admin
  fi
fi

if command -v systemd-tmpfiles >/dev/null; then
  systemd-tmpfiles --create ${root:+--root="$root"} steward-kestrel.conf || true
fi

# The self-signed certificate, unless the administrator has put one there.
"$root/usr/lib/stewardd/make-certificate" "$root" || echo "steward-kestrel: no certificate made" >&2

units="@STEWARD_UNITS@"
for unit in $units; do
  [ -e "$root/usr/lib/systemd/system/$unit" ] || continue
  systemctl ${root:+--root="$root"} enable "$unit" >/dev/null 2>&1 || true
done
if [ -z "$root" ] && [ -d /run/systemd/system ]; then
  systemctl daemon-reload || true
  for unit in $units; do
    [ -e "/usr/lib/systemd/system/$unit" ] && systemctl restart "$unit" || true
  done
  # Services a socket started keep their old program until restarted.
  systemctl try-restart stewardd-gateway.service stewardd-login.service || true
  systemctl reload nginx >/dev/null 2>&1 || true
fi
exit 0
