#!/bin/sh
# Runs a fuzzer on a private root, as root without capabilities or network:
# the request path's commands then change files only there (/etc,
# /private/var/stewardd, the device registry, /tmp, /run), and the system
# programs they start are stand-ins that print their arguments. The checkout,
# where the fuzzers and their corpora are, stays visible at its own path.
#
#   tests/fuzz/sandboxed.sh FUZZER [LIBFUZZER ARGUMENTS...]   (paths below the checkout)
set -eu
repo=$(cd "$(dirname "$0")/../.." && pwd)
root=$(mktemp -d "${TMPDIR:-/tmp}/steward-fuzz-root.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/etc" "$root/sbin" "$root/state"
cp /etc/ld.so.cache "$root/etc/" 2>/dev/null || true
printf 'root:x:0:0::/root:/bin/sh\nalice:x:1001:1001::/:/bin/sh\n' >"$root/etc/passwd"
printf 'root:x:0:\nalice:x:1001:\nadmin:x:80:alice\n' >"$root/etc/group"
fakes=""
for program in shutdown nvram machreport systemctl systemd-run wall; do
  printf '#!/bin/sh\n# stand-in\necho "$0 $*"\n' >"$root/sbin/$program"
  chmod 755 "$root/sbin/$program"
  # Those of /usr/bin too (restart and shutdown with options start them).
  if [ -e "/usr/bin/$program" ]; then fakes="$fakes --ro-bind $root/sbin/$program /usr/bin/$program"; fi
done
bwrap --die-with-parent --unshare-all --cap-drop ALL \
  --ro-bind /usr /usr --bind "$root/sbin" /usr/sbin $fakes \
  --symlink usr/bin /bin --symlink usr/lib /lib --symlink usr/lib64 /lib64 \
  --symlink usr/sbin /sbin --proc /proc --dev /dev --tmpfs /tmp --tmpfs /run \
  --dir /var --symlink ../run /var/run --bind "$root/etc" /etc \
  --bind "$root/state" /private --dir /private/var/stewardd \
  --dir /var/lib/stewardd/registry --bind "$repo" "$repo" --chdir "$repo" \
  --setenv STEWARD_FUZZ_SANDBOX 1 -- "$@"
