#!/bin/sh
# Runs a test binary in a private mount namespace whose /dev/log leads to
# the socket that the test's LogCapture binds, so nothing reaches the real
# system log and every line can be read back. /tmp is private too; a
# checkout, a build directory or a working directory below it stays visible.
repo=$(cd "$(dirname "$0")/../.." && pwd)
binary=$(cd "$(dirname "$1")" && pwd)
keep=""
for path in "$repo" "$binary" "$PWD"; do
  case $path in
    /tmp/?*)
      top=/tmp/$(printf '%s\n' "${path#/tmp/}" | cut -d/ -f1)
      case " $keep " in *" $top "*) ;; *) keep="$keep --bind $top $top" ;; esac ;;
  esac
done
# shellcheck disable=SC2086  # $keep is a list of words
exec bwrap --bind / / --dev /dev --tmpfs /tmp $keep \
  --symlink /tmp/steward-devlog /dev/log --die-with-parent "$@"
