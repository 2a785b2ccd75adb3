#!/bin/sh
# Stops the units before their programs go away.
set -e
root="${DPKG_ROOT:-}"
units="@STEWARD_UNITS@ stewardd-gateway.service stewardd-login.service"
if [ "$1" = remove ] && [ -z "$root" ] && [ -d /run/systemd/system ]; then
  for unit in $units; do
    systemctl stop "$unit" >/dev/null 2>&1 || true
  done
fi
if [ "$1" = remove ]; then
  for unit in $units; do
    systemctl ${root:+--root="$root"} disable "$unit" >/dev/null 2>&1 || true
  done
fi
exit 0
