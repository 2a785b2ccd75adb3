#!/bin/sh
# Runs a test binary in a private mount namespace whose /dev/log leads to
# the socket that the test's LogCapture binds, so nothing reaches the real
# system log and every line can be read back. /tmp is private too; a
# checkout that lives below it stays visible.
repo=$(cd "$(dirname "$0")/../.." && pwd)
keep=""
case $repo in /tmp/*) keep="--bind $repo $repo" ;; esac
# shellcheck disable=SC2086  # $keep is a list of words
exec bwrap --bind / / --dev /dev --tmpfs /tmp $keep \
  --symlink /tmp/steward-devlog /dev/log --die-with-parent "$@"
