#!/bin/sh
# Installs what is missing, builds, and shows the tool at work: alone, then
# behind the HTTPS front.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build
tools/demo.sh build
exec deploy/web-demo.sh
