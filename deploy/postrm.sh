#!/bin/sh
# Purging removes the state; the group "admin" stays, it may have members
# and be used elsewhere.
set -e
root="${DPKG_ROOT:-}"
if [ "$1" = purge ]; then
  rm -rf "$root/private/var/stewardd" "$root/var/lib/stewardd"
  rmdir "$root/private/var" "$root/private" 2>/dev/null || true
fi
if [ -z "$root" ] && [ -d /run/systemd/system ]; then
  systemctl daemon-reload || true
fi
exit 0
