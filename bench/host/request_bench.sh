#!/bin/bash
# Start-up cost of one request. In one bubblewrap sandbox (the tool never
# runs outside one), times N sequential requests through the tool, N execs of
# a minimal C++ program and N execs of /bin/true, and prints the ratios and
# peak RSS. Each request loads the tool's context, answers with a serialized
# reply and saves the context again.
#
#   bench/host/request_bench.sh [BUILD_DIR] [N]
set -euo pipefail
build=${1:-build}
count=${2:-1000}
bin=$(cd "$build/bin" && pwd)
for program in steward_kestrel exec_bench minimal_cpp plisttool; do
  [[ -x $bin/$program ]] || { echo "missing $bin/$program (build it first)" >&2; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/etc" "$root/tmp" "$root/private/var/stewardd"
cp /etc/ld.so.cache "$root/etc/"
printf 'root:x:0:0:root:/root:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\nadmin:x:80:root\n' > "$root/etc/group"
printf 'passwd: files\ngroup: files\n' > "$root/etc/nsswitch.conf"
# Answered by the dispatcher ("OSStatus" = -50: no settings given) without
# touching anything but the context. plisttool completes it as an XML
# property list.
"$bin/plisttool" -c xml -o "$root/tmp/request.xml" - <<'XML'
<plist version="1.0">
<dict>
	<key>command</key>
	<string>email</string>
	<key>clientContext</key>
	<dict>
		<key>session</key>
		<string>4711</string>
		<key>items</key>
		<array><integer>1</integer><integer>2</integer><real>3.5</real></array>
	</dict>
</dict>
</plist>
XML
: > "$root/tmp/empty"

links=()
for top in /bin /lib /lib32 /lib64 /sbin; do
  if [[ -L $top ]]; then links+=(--symlink "$(readlink "$top")" "$top")
  elif [[ -d $top ]]; then links+=(--ro-bind "$top" "$top"); fi
done

results=$(bwrap --die-with-parent --unshare-pid --unshare-net --unshare-ipc \
  --cap-drop ALL --clearenv --ro-bind /usr /usr "${links[@]}" \
  --proc /proc --dev /dev --bind "$root/etc" /etc --bind "$root/tmp" /tmp \
  --bind "$root/private" /private \
  --ro-bind "$bin/steward_kestrel" /steward/bin/steward_kestrel \
  --ro-bind "$bin/exec_bench" /steward/bin/exec_bench \
  --ro-bind "$bin/minimal_cpp" /steward/bin/minimal_cpp \
  --setenv PATH /usr/bin:/bin --setenv REMOTE_USER root --chdir / -- \
  /bin/sh -c "
    /steward/bin/steward_kestrel < /tmp/request.xml | grep -q '<key>OSStatus</key>' ||
      { echo 'the tool did not answer the request' >&2; exit 1; }
    /steward/bin/exec_bench $count /tmp/request.xml /steward/bin/steward_kestrel steward_kestrel &&
    /steward/bin/exec_bench $count /tmp/empty /steward/bin/minimal_cpp minimal_cpp &&
    /steward/bin/exec_bench $count /tmp/empty /bin/true true")

read -r tool_us tool_cpu tool_rss cpp_us cpp_cpu cpp_rss true_us true_cpu true_rss \
  <<< "$(echo $results)"
echo "runs: $count each, sequential, in one sandbox"
printf '%-24s %12s %12s %12s\n' "" "wall us/run" "CPU us/run" "peak RSS KB"
printf '%-24s %12s %12s %12s\n' "steward_kestrel request" "$tool_us" "$tool_cpu" "$tool_rss"
printf '%-24s %12s %12s %12s\n' "minimal C++ exec" "$cpp_us" "$cpp_cpu" "$cpp_rss"
printf '%-24s %12s %12s %12s\n' "/bin/true exec" "$true_us" "$true_cpu" "$true_rss"
awk -v t="$tool_us" -v c="$cpp_us" -v b="$true_us" \
    -v tc="$tool_cpu" -v cc="$cpp_cpu" -v bc="$true_cpu" 'BEGIN {
  printf "request / minimal C++: wall %.2f, CPU %.2f (goal <= 1.50)\n", t / c, tc / cc
  printf "request / /bin/true:   wall %.2f, CPU %.2f\n", t / b, tc / bc
}'
