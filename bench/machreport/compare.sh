#!/bin/bash
# machreport -detailLevel -1 beside lshw -short and inxi -F: mean wall time
# of N runs and peak resident memory of one, on this machine, and machreport
# also on a made-up two-socket server (64 threads, 16 modules, 8 disks,
# 4 interfaces, 48 PCI functions) read through -root.
#
#   bench/machreport/compare.sh [BUILD_DIR] [N]
set -euo pipefail
build=${1:-build}
count=${2:-20}
machreport=$(cd "$build/bin" && pwd)/machreport
[[ -x $machreport ]] || { echo "missing $machreport (build it first)" >&2; exit 1; }

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT

put() {  # put PATH TEXT: one value file of the fake machine
  mkdir -p "$fake$(dirname "$1")"
  printf '%s\n' "$2" > "$fake$1"
}

make_machine() {
  local dmi=/sys/class/dmi/id
  put $dmi/sys_vendor "Kestrel Systems"; put $dmi/product_name "KS-2000"
  put $dmi/product_serial "SN0001"; put $dmi/chassis_type 23
  put $dmi/bios_vendor "Kestrel"; put $dmi/bios_version "1.2.3"
  put $dmi/bios_date "01/02/2026"
  local cpu
  mkdir -p "$fake/proc"
  for cpu in $(seq 0 63); do
    printf 'processor\t: %d\nmodel name\t: Kestrel K9 @ 3.5GHz\nphysical id\t: %d\ncore id\t\t: %d\ncpu MHz\t\t: 3500.000\nflags\t\t: fpu vme de pse tsc msr pae mce cx8 apic sep mtrr sse sse2 avx avx2\n\n' \
      "$cpu" $((cpu / 32)) $((cpu % 32 / 2)) >> "$fake/proc/cpuinfo.tmp"
    put /sys/devices/system/cpu/cpu$cpu/cache/index0/shared_cpu_list "$((cpu / 2 * 2))-$((cpu / 2 * 2 + 1))"
    put /sys/devices/system/cpu/cpu$cpu/cache/index3/shared_cpu_list "$((cpu / 32 * 32))-$((cpu / 32 * 32 + 31))"
  done
  mv "$fake/proc/cpuinfo.tmp" "$fake/proc/cpuinfo"
  put /sys/devices/system/cpu/cpu0/cache/index0/level 1
  put /sys/devices/system/cpu/cpu0/cache/index0/type Data
  put /sys/devices/system/cpu/cpu0/cache/index0/size 48K
  put /sys/devices/system/cpu/cpu0/cache/index3/level 3
  put /sys/devices/system/cpu/cpu0/cache/index3/type Unified
  put /sys/devices/system/cpu/cpu0/cache/index3/size 65536K
  put /sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq 3500000
  put /proc/meminfo "MemTotal:       263921664 kB"
  local slot
  for slot in $(seq 0 15); do  # SMBIOS memory devices: 16 GiB DDR4-3200
    mkdir -p "$fake/sys/firmware/dmi/entries/17-$slot"
    { printf '\x11\x28\x00\x00\x00\x00\x00\x00\x48\x00\x40\x00\x00\x40\x09\x00'
      printf '\x01\x02\x1a\x80\x00\x80\x0c\x03\x00\x00\x04\x00\x00\x00\x00\x00'
      printf '\x00\x00\x00\x00\x00\x00\x00\x00'
      printf 'DIMM_%02d\0BANK %d\0Samsung\0M393A2K43DB3-CWE\0\0' "$slot" "$slot"
    } > "$fake/sys/firmware/dmi/entries/17-$slot/raw"
  done
  local disk
  for disk in a b c d e f g h; do
    put /sys/block/sd$disk/size 7814037168; put /sys/block/sd$disk/device/model "KDisk 4T"
    put /sys/block/sd$disk/device/serial "K4T$disk"; put /sys/block/sd$disk/queue/rotational 1
    put /sys/block/sd$disk/sd${disk}1/partition 1; put /sys/block/sd$disk/sd${disk}1/size 7814035120
  done
  local nic
  for nic in 0 1 2 3; do
    put /sys/class/net/eno$nic/address "3c:ec:ef:00:00:0$nic"; put /sys/class/net/eno$nic/operstate up
    put /sys/class/net/eno$nic/speed 10000; put /sys/class/net/eno$nic/mtu 1500
  done
  local function ids
  for function in $(seq 0 47); do
    ids=$(sed -n "$((function % 6 + 1))p" <<'IDS'
0x8086 0x2922 0x010601
0x8086 0x1521 0x020000
0x15b3 0x1017 0x020000
0x1000 0x0097 0x010700
0x8086 0x09ab 0x088000
0x1022 0x1480 0x060000
IDS
)
    read -r vendor device class <<< "$ids"
    local path
    path=/sys/bus/pci/devices/0000:$(printf '%02x:%02x.%d' $((function / 8)) $((function % 8)) 0)
    put "$path/vendor" "$vendor"; put "$path/device" "$device"; put "$path/class" "$class"
  done
  put /etc/os-release 'PRETTY_NAME="Kestrel OS 1"'
}

# name command...: mean wall time over $count runs, peak RSS of one run
measure() {
  local name=$1; shift
  "$@" > /dev/null 2>&1 || { printf '%-36s  not available\n' "$name"; return; }
  local start end peak
  start=$(date +%s%N)
  for _ in $(seq "$count"); do "$@" > /dev/null 2>&1; done
  end=$(date +%s%N)
  peak=$(/usr/bin/time -f '%M' "$@" 2>&1 > /dev/null | tail -1)
  printf '%-36s  %8.2f ms  %8d KiB\n' "$name" \
    "$(echo "($end - $start) / $count / 1000000" | bc -l)" "$peak"
}

make_machine
printf '%-36s  %11s  %12s\n' "program ($count runs)" "mean wall" "peak RSS"
measure "machreport -detailLevel -1 (fake)" "$machreport" -detailLevel -1 -root "$fake"
measure "machreport -detailLevel -1" "$machreport" -detailLevel -1
command -v lshw > /dev/null && measure "lshw -short" lshw -short
command -v inxi > /dev/null && measure "inxi -F" inxi -F -c0
