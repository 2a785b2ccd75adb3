#!/bin/sh
# Installs what is missing, builds, and shows the tool at work.
set -eu
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
ninja -C build
exec tools/demo.sh build
