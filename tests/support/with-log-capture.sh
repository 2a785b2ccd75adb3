#!/bin/sh
# Runs a test binary in a private mount namespace whose /dev/log leads to
# the socket that the test's LogCapture binds, so nothing reaches the real
# system log and every line can be read back.
exec bwrap --bind / / --dev /dev --tmpfs /tmp \
  --symlink /tmp/steward-devlog /dev/log --die-with-parent "$@"
