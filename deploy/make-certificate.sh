#!/bin/sh
# Makes the service's self-signed certificate under ROOT (default /) unless
# one is there: an administrator's own certificate is never replaced.
set -eu
dir="${1:-}/etc/ssl/stewardd"
[ -e "$dir/certificate.pem" ] && [ -e "$dir/key.pem" ] && exit 0
mkdir -p "$dir"
chmod 0700 "$dir"
name=$(hostname -f 2>/dev/null || hostname)
umask 077
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 \
  -subj "/CN=$name" -addext "subjectAltName=DNS:$name" \
  -keyout "$dir/key.pem" -out "$dir/certificate.pem" 2>/dev/null
chmod 0644 "$dir/certificate.pem"
