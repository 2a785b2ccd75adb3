#!/bin/bash
# The monitor daemon on a fake machine with 20 sensors per chip (8
# temperatures, 6 fans and 6 voltages, read through libsensors; 10 chips
# unless CHIPS says otherwise), in one bubblewrap sandbox:
#   1. N sequential "status" requests through the tool against vigild, then
#      against fake_vigild answering vigild's own document from a file;
#   2. 1,000 requests from 50 concurrent clients (status_load_bench);
#   3. vigild left idle for IDLE seconds: CPU time, scaled to an hour, and
#      resident memory.
#
#   bench/vigild/vigild_bench.sh [BUILD_DIR] [N] [IDLE] [CHIPS]
set -euo pipefail
build=${1:-build}
count=${2:-500}
idle=${3:-300}
chips=${4:-10}
bin=$(cd "$build/bin" && pwd)
for program in steward_kestrel vigild fake_vigild exec_bench status_load_bench; do
  [[ -x $bin/$program ]] || { echo "missing $bin/$program (build with -DSTEWARD_BENCH=ON)" >&2; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/etc" "$root/tmp" "$root/run" "$root/var/lib" "$root/private/var/stewardd" \
  "$root/hwmon" "$root/power_supply" "$root/leds"
cp /etc/ld.so.cache "$root/etc/"
printf 'root:x:0:0:root:/root:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\nadmin:x:80:root\n' > "$root/etc/group"
printf 'passwd: files\ngroup: files\n' > "$root/etc/nsswitch.conf"
cat > "$root/tmp/request.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>command</key><string>status</string></dict></plist>
XML

for ((chip = 0; chip < chips; chip++)); do
  d=$root/hwmon/hwmon$chip
  mkdir -p "$d"
  echo "bench$chip" > "$d/name"
  for k in 1 2 3 4 5 6 7 8; do
    echo $((40000 + chip * 100 + k)) > "$d/temp${k}_input"
    echo 85000 > "$d/temp${k}_max"; echo 95000 > "$d/temp${k}_crit"
    echo 0 > "$d/temp${k}_alarm"; echo "Core $k" > "$d/temp${k}_label"
  done
  for k in 1 2 3 4 5 6; do
    echo $((3000 + k * 10)) > "$d/fan${k}_input"; echo 600 > "$d/fan${k}_min"
  done
  for k in 0 1 2 3 4 5; do
    echo $((1200 + k)) > "$d/in${k}_input"; echo 1000 > "$d/in${k}_min"; echo 1400 > "$d/in${k}_max"
  done
done

# libsensors wants the real sysfs: keep it, swap in the fake classes only.
classes=()
for entry in /sys/class/*; do
  name=${entry##*/}
  case $name in hwmon|power_supply|leds) continue ;; esac
  if [[ -L $entry ]]; then classes+=(--symlink "$(readlink "$entry")" "$entry")
  else classes+=(--ro-bind "$entry" "$entry"); fi
done
for name in hwmon power_supply leds; do classes+=(--bind "$root/$name" "/sys/class/$name"); done

bwrap --die-with-parent --unshare-pid --unshare-net --unshare-ipc --cap-drop ALL --clearenv \
  --ro-bind /usr /usr --symlink usr/bin /bin --symlink usr/lib /lib --symlink usr/lib64 /lib64 \
  --symlink usr/sbin /sbin --proc /proc --dev /dev \
  --ro-bind /sys /sys --tmpfs /sys/class "${classes[@]}" \
  --bind "$root/etc" /etc --bind "$root/tmp" /tmp --bind "$root/run" /run \
  --dir /var --symlink ../run /var/run --bind "$root/var/lib" /var/lib \
  --bind "$root/private" /private \
  --ro-bind "$bin" /steward/bin --setenv PATH /steward/bin:/usr/bin:/bin \
  --setenv REMOTE_USER root --chdir / -- /bin/bash -c "
    set -e
    serve() { \"\$@\" 2>/dev/null & pid=\$!; while [ ! -S /run/vigildPort ]; do sleep 0.05; done; }
    stop() { kill \$pid; wait \$pid 2>/dev/null || true; rm -f /run/vigildPort; }
    serve vigild
    steward_kestrel < /tmp/request.xml | grep -q "bench$((chips - 1))" ||
      { echo 'the tool did not report the fake sensors' >&2; exit 1; }
    sensors=\$(vigild --once 2>/dev/null | tee /tmp/reply.xml | grep -c '<key>label</key>' || true)
    echo \"sensors in the status: \$sensors\"
    printf '%-28s %12s %12s %12s\n' '' 'wall us/req' 'CPU us/req' 'peak RSS KB'
    printf '%-28s %12s %12s %12s\n' 'status against vigild' \
      \$(exec_bench $count /tmp/request.xml /steward/bin/steward_kestrel steward_kestrel)
    stop
    serve fake_vigild /tmp/reply.xml
    printf '%-28s %12s %12s %12s\n' 'status against a stand-in' \
      \$(exec_bench $count /tmp/request.xml /steward/bin/steward_kestrel steward_kestrel)
    stop
    serve vigild
    status_load_bench --benchmark_counters_tabular=true 2>&1 | grep -E 'Benchmark|StatusUnderLoad'
    stop
    serve vigild
    sleep 5
    ticks() { stat=(\$(cat /proc/\$pid/stat)); echo \$((stat[13] + stat[14])); }
    before=\$(ticks); sleep $idle; after=\$(ticks)
    echo \"idle ticks: \$((after - before)) of \$(getconf CLK_TCK) per s over $idle s\"
    grep -E 'VmRSS|VmHWM' /proc/\$pid/status
    stop" | tee "$root/out"
# Scaled outside: the sandbox has no awk (its alternatives link lives in /etc).
awk '/^status against vigild/ { vw = $(NF - 2); vc = $(NF - 1) }
  /^status against a stand-in/ { sw = $(NF - 2); sc = $(NF - 1) }
  /^idle ticks:/ { printf "idle vigild: %.2f CPU s per hour (goal < 1)\n", $3 / $5 * 3600 / $9 }
  END { if (sw > 0 && sc > 0)
          printf "status, vigild / stand-in: wall %.2f, CPU %.2f (goal <= 1.3)\n", vw / sw, vc / sc }' \
  "$root/out"
