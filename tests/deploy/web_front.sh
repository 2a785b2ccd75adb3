#!/bin/sh
# The HTTPS front end to end: real nginx and fcgiwrap in a private network
# namespace (deploy/web-sandbox.sh), vigild on its fake machine, spoken to
# with curl.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
actual=$("$here/../../deploy/web-sandbox.sh" "$1" '
plist() { printf "<plist version=\"1.0\"><dict><key>command</key><string>%s</string>%s</dict></plist>" "$@"; }
post() {  # user, tool, body, curl options...
  u=$1 t=$2 b=$3; shift 3
  printf %s "$b" | curl -sk ${u:+-u "$u"} --data-binary @- "$@" "https://localhost/stewardd/$t"
}
code() { post "$@" -o /dev/null -w "%{http_code}"; }
echo "no credentials $(code "" steward_kestrel "$(plist restart)")"
away="--interface 127.0.0.2"  # a second client address
echo "wrong password $(code alice:wrong steward_kestrel "$(plist restart)" $away)"
for i in 1 2 3 4 5; do last=$(code alice:wrong steward_kestrel "$(plist restart)" $away); done
echo "burst of failures $last, then right $(code alice:secret steward_kestrel "$(plist serviceid)" $away)"
echo "logged $(grep -c "failed login of alice from 127.0.0.2" syslog) $(grep -c "refused a login from 127.0.0.2" syslog)"
echo "status $(post carol:secret steward_kestrel "$(plist status)" | grep -A1 "<key>value</key>" |
  sed -n "s|.*<real>\(.*\)</real>|\1|p" | paste -sd " ")"
email=$(plist email "<key>email</key><dict><key>Email</key><dict/><key>ServiceLED</key><string>front::service</string></dict>")
seq 100 | xargs -P 100 -I{} sh -c "if [ \$(({} % 2)) = 0 ]; then set -- \"\$0\" Health; else set -- \"\$1\" OSStatus; fi
  printf %s \"\$1\" | curl -sk -u alice:secret --data-binary @- https://localhost/stewardd/steward_kestrel |
  grep -A1 \"<key>\$2</key>\" | grep -c -e \"<integer>0<\" -e \"<string>ok<\"" "$(plist status)" "$email" |
  grep -c 1 | sed "s/^/concurrent status and email /"
echo "settings after them $(grep -c "<string>front::service</string>" /etc/vigild.conf)"
echo "admin $(post alice:secret steward_kestrel "$(plist restart)" | grep -o RESTART-SUCCESS) $(cat calls)"
echo "plain user $(post carol:secret steward_kestrel "$(plist restart)" | grep -o CONNECT-AUTH)"
echo "forged identity $(post carol:secret steward_kestrel "$(plist restart)" -H "Remote-User: alice" \
  -H "StewardSessionID: alice@x" | grep -o CONNECT-AUTH)"
big=$(plist restart "<!-- $(head -c 1100000 /dev/zero | tr "\0" x) -->")
echo "oversized $(code alice:secret steward_kestrel "$big") $(wc -l <calls)"
echo "other program $(code alice:secret plisttool "") $(code alice:secret ../cgi/steward_kestrel "")"
echo "not POST $(curl -sk -u alice:secret -o /dev/null -w "%{http_code}" https://localhost/stewardd/steward_kestrel)"
page() { curl -sk -X "$1" -o /dev/null -w "%{http_code}" https://localhost/; }
echo "page $(page GET) $(page PUT)"
item="<dict><key>name</key><string>recorder</string><key>request</key><dict><key>command</key><string>x</string></dict></dict>"
batch=$(plist batchRequest "<key>requestsArray</key><array>$item</array>")
seq 100 | xargs -P 100 -I{} sh -c "printf %s \"\$0\" | curl -sk -u carol:secret --data-binary @- https://localhost/stewardd/steward_info | grep -c \"<key>runs</key>\"" "$batch" | grep -c 1 | sed "s/^/concurrent batches /"
echo "count after them $(post carol:secret steward_info "$batch" | grep -A1 "<key>runs</key>" | grep -o "[0-9]*")"
# Failures now wait two seconds each; a dozen at once from one address hold
# up no other client.
echo "auth required pam_unix.so" >/etc/pam.d/common-auth
for i in $(seq 12); do code alice:wrong steward_info "" --interface 127.0.0.3 >/dev/null & done
sleep 0.5
echo "during slow failures $(code carol:secret steward_kestrel "$(plist status)") $(
  [ "$(grep -c "from 127.0.0.3" syslog)" -lt 5 ] && echo before-lockout)"
wait
')
expected="no credentials 401
wrong password 401
burst of failures 429, then right 429
logged 5 2
status 1.2 2400 41.5
concurrent status and email 100
settings after them 1
admin RESTART-SUCCESS /sbin/shutdown -r now
plain user CONNECT-AUTH
forged identity CONNECT-AUTH
oversized 413 1
other program 404 404
not POST 405
page 200 405
concurrent batches 100
count after them 101
during slow failures 200 before-lockout"
[ "$actual" = "$expected" ] || { printf 'expected:\n%s\nactual:\n%s\n' "$expected" "$actual"; exit 1; }
