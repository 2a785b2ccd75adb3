#!/bin/sh
# Brings up the HTTPS front as installed (nginx, fcgiwrap running the login
# check and the tool as root) in a sandbox with its own network namespace and
# a private /etc, then runs COMMAND there (a shell command line, with curl).
# Accounts: alice (in "admin"), carol (not), password "secret" each.
# /sbin/shutdown and nvram are stand-ins recording to /web/calls.
# The bundles are the test bundles of BUILD_DIR.
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

hash=$(openssl passwd -6 secret)
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
cp "$here/vigild.conf" "$root/etc/vigild.conf"

# The installed configuration, the tool directory being /opt here.
for file in nginx-stewardd.conf:conf.d/stewardd.conf nginx-stewardd-gateway.conf:stewardd-gateway.conf; do
  sed 's#/usr/lib/stewardd/#/opt/#g' "$here/${file%%:*}" >"$root/etc/nginx/${file#*:}"
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

cat >"$root/web/start.sh" <<'END'
/host/sbin/fcgiwrap -c 8 -p /opt/cgi/steward_kestrel -p /opt/cgi/steward_info \
  -s unix:/run/stewardd-gateway.sock &
/host/sbin/fcgiwrap -c 4 -p /opt/bin/stewardd-login -s unix:/run/stewardd-login.sock &
/host/sbin/nginx -p /web/nginx -c /etc/nginx/nginx.conf &
tries=0
until curl -sko /dev/null https://localhost/; do
  tries=$((tries + 1))
  [ $tries -lt 200 ] || { cat /web/nginx/logs/error.log; exit 1; }
  sleep 0.05
done
cd /web
sh -c "$1"
END

bwrap --die-with-parent --unshare-user --uid 0 --gid 0 --unshare-pid --unshare-net \
  --unshare-ipc --unshare-uts --hostname steward-web --clearenv \
  --ro-bind /usr /usr --symlink usr/bin /bin --symlink usr/lib /lib --symlink usr/lib64 /lib64 \
  --symlink usr/sbin /sbin --ro-bind /usr/sbin /host/sbin --bind "$root/usr/sbin" /usr/sbin \
  --proc /proc --dev /dev --bind "$root/etc" /etc --bind "$root/run" /run --bind "$root/tmp" /tmp \
  --bind "$root/private" /private --bind "$root/web" /web --dir /var --symlink ../run /var/run \
  --dir /var/lib/stewardd/registry --bind "$root/opt" /opt \
  --ro-bind "$build/bin/steward_kestrel" /opt/bin/steward_kestrel --ro-bind "$build/bin/stewardd-gateway" /opt/bin/stewardd-gateway \
  --ro-bind "$build/bin/stewardd-login" /opt/bin/stewardd-login --ro-bind "$bundles" /opt/bundles \
  --setenv PATH /usr/bin:/usr/sbin --setenv HOME /web \
  /bin/sh /web/start.sh "$command"
