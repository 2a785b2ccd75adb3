#!/bin/bash
# Brings up the HTTPS front as installed (nginx, the login check, fcgiwrap
# running the tool as root) in a sandbox with its own network namespace and
# a private /etc, then runs COMMAND there (a shell command line, with curl).
# Accounts: alice (in "admin"), carol (not), password "secret" each.
# /sbin/shutdown and nvram are stand-ins recording to /web/calls; the system
# log is /web/syslog.
# The bundles are the test bundles of BUILD_DIR. vigild runs on a fake machine:
# one sensor chip "demo" (CPU 41.5 °C, fan 2400 RPM, 1.2 V) and the service
# light front::service, the host's /sys kept for libsensors; its process id
# is in /web/vigild.pid.
# The programs of BUILD_DIR/bin are at /build/bin (for benchmarks); the
# dashboard is served from the source tree's web/.
#   deploy/web-sandbox.sh BUILD_DIR COMMAND
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
bundles=$build/tests/sandbox/bundles/directory
command=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/etc/pam.d" "$root/etc/nginx/conf.d" "$root/usr/sbin" "$root/run" \
  "$root/tmp" "$root/private/var/stewardd" "$root/web/nginx/logs" "$root/opt/bin" "$root/opt/cgi"

# Hashed as Debian 12 hashes passwords (yescrypt).
hash=$(perl -e 'print crypt($ARGV[0], q($y$j9T$) . $ARGV[1])' secret "$(openssl rand -base64 15 | tr +/ ./)")
cat >"$root/etc/passwd" <<END
root:x:0:0:root:/root:/bin/sh
alice:x:1001:1001::/nonexistent:/usr/sbin/nologin
carol:x:1003:1003::/nonexistent:/usr/sbin/nologin
END
printf 'root:x:0:\nadmin:x:80:alice\nalice:x:1001:\ncarol:x:1003:\n' >"$root/etc/group"
printf 'root:*:1::::::\nalice:%s:1::::::\ncarol:%s:1::::::\n' "$hash" "$hash" >"$root/etc/shadow"
printf 'passwd: files\ngroup: files\nshadow: files\nhosts: files\n' >"$root/etc/nsswitch.conf"
printf '127.0.0.1 localhost\n' >"$root/etc/hosts"
cp "$here/pam-stewardd" "$root/etc/pam.d/stewardd"
echo 'auth required pam_unix.so nodelay' >"$root/etc/pam.d/common-auth"
echo 'account required pam_unix.so' >"$root/etc/pam.d/common-account"
printf '%s required pam_deny.so\n' auth account password session >"$root/etc/pam.d/other"
sed 's#<dict/>#<dict/><key>ServiceLED</key><string>front::service</string>#' \
  "$here/vigild.conf" >"$root/etc/vigild.conf"
chip=$root/class/hwmon/hwmon0 light=$root/class/leds/front::service
mkdir -p "$chip" "$light" "$root/class/power_supply"
for value in name:demo temp1_label:CPU temp1_input:41500 temp1_max:85000 temp1_crit:95000 \
  temp1_alarm:0 fan1_input:2400 fan1_min:600 in0_input:1200 in0_min:1000 in0_max:1400; do
  echo "${value#*:}" >"$chip/${value%%:*}"
done
echo 0 >"$light/brightness" && echo 1 >"$light/max_brightness"
classes=()
for entry in /sys/class/*; do
  name=${entry##*/}
  case $name in hwmon|power_supply|leds) continue ;; esac
  if [ -L "$entry" ]; then classes+=(--symlink "$(readlink "$entry")" "$entry")
  else classes+=(--ro-bind "$entry" "$entry"); fi
done
for name in hwmon power_supply leds; do classes+=(--bind "$root/class/$name" "/sys/class/$name"); done

# The installed configuration, the tool directory being /opt here.
for file in nginx-stewardd.conf:conf.d/stewardd.conf nginx-stewardd-gateway.conf:stewardd-gateway.conf; do
  sed 's#/usr/lib/stewardd/#/opt/#g; s#/usr/share/stewardd/web#/opt/web#' \
    "$here/${file%%:*}" >"$root/etc/nginx/${file#*:}"
done
# Workers stay root: no other user exists in the sandbox (they report once
# that setgroups is closed to them, and go on).
cat >"$root/etc/nginx/nginx.conf" <<'END'
user root root;
daemon off;
worker_processes 2;
pid /run/nginx.pid;
error_log /web/nginx/logs/error.log info;
events { worker_connections 512; }
http {
  access_log /web/nginx/logs/access.log;
  client_body_temp_path /web/nginx/body;
  fastcgi_temp_path /web/nginx/fastcgi;
  proxy_temp_path /web/nginx/proxy;
  uwsgi_temp_path /web/nginx/uwsgi;
  scgi_temp_path /web/nginx/scgi;
  include /etc/nginx/conf.d/*.conf;
}
END
"$here/make-certificate.sh" "$root" 2>/dev/null
for fake in shutdown nvram machreport; do
  printf '#!/bin/sh\nprintf "%%s\\n" "$0 $*" >>/web/calls\n' >"$root/usr/sbin/$fake"
  chmod +x "$root/usr/sbin/$fake"
done
for name in steward_kestrel steward_info; do ln -s ../bin/stewardd-gateway "$root/opt/cgi/$name"; done
# The power additions start these from /usr/bin; here they only record
# what they were asked to do (a query finds nothing).
mkdir -p "$root/opt/fakes"
stand_ins=()
for fake in systemctl systemd-run wall; do
  printf '#!/bin/sh\n[ "$1" = show ] && exit 0\nprintf "%%s\\n" "$0 $*" >>/web/calls\n' >"$root/opt/fakes/$fake"
  chmod +x "$root/opt/fakes/$fake"
  if [ -e "/usr/bin/$fake" ]; then stand_ins+=(--ro-bind "$root/opt/fakes/$fake" "/usr/bin/$fake"); fi
done

cat >"$root/web/start.sh" <<'END'
perl -MSocket -MIO::Socket::UNIX -e '$| = 1; $log = IO::Socket::UNIX->new(Type => SOCK_DGRAM,
  Local => "/dev/log") or die; print "$line\n" while defined $log->recv($line, 8192)' >/web/syslog &
until [ -S /dev/log ]; do sleep 0.02; done
/opt/bin/vigild 2>>/web/vigild.log &
echo $! >/web/vigild.pid
/host/sbin/fcgiwrap -c 8 -p /opt/cgi/steward_kestrel -p /opt/cgi/steward_info \
  -s unix:/run/stewardd-gateway.sock &
/opt/bin/stewardd-login --listen /run/stewardd-login.sock &
/host/sbin/nginx -p /web/nginx -c /etc/nginx/nginx.conf &
tries=0
until curl -sko /dev/null https://localhost/; do
  tries=$((tries + 1))
  [ $tries -lt 200 ] || { cat /web/nginx/logs/error.log; exit 1; }
  sleep 0.05
done
until [ -S /run/vigildPort ] && [ -S /run/stewardd-login.sock ]; do sleep 0.05; done
cd /web
sh -c "$1"
END

bwrap --die-with-parent --unshare-user --uid 0 --gid 0 --unshare-pid --unshare-net \
  --unshare-ipc --unshare-uts --hostname steward-web --clearenv \
  --ro-bind /usr /usr --symlink usr/bin /bin --symlink usr/lib /lib --symlink usr/lib64 /lib64 \
  --symlink usr/sbin /sbin --ro-bind /usr/sbin /host/sbin --bind "$root/usr/sbin" /usr/sbin \
  "${stand_ins[@]}" \
  --proc /proc --dev /dev --ro-bind /sys /sys --tmpfs /sys/class "${classes[@]}" --bind "$root/etc" /etc --bind "$root/run" /run --bind "$root/tmp" /tmp \
  --bind "$root/private" /private --bind "$root/web" /web --dir /var --symlink ../run /var/run \
  --dir /var/lib/stewardd/registry --bind "$root/opt" /opt \
  --ro-bind "$build/bin/steward_kestrel" /opt/bin/steward_kestrel --ro-bind "$build/bin/stewardd-gateway" /opt/bin/stewardd-gateway \
  --ro-bind "$build/bin/stewardd-login" /opt/bin/stewardd-login --ro-bind "$build/bin/vigild" /opt/bin/vigild \
  --ro-bind "$bundles" /opt/bundles --ro-bind "$here/../web" /opt/web --ro-bind "$build/bin" /build/bin \
  --setenv PATH /usr/bin:/usr/sbin --setenv HOME /web \
  /bin/sh /web/start.sh "$command"
