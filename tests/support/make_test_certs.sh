#!/bin/sh
# Makes, in DIR, a test CA (ca.pem) and a server certificate it signed for localhost and
# 127.0.0.1 (server.pem, server.key), and the server certificate's SHA-256 fingerprint
# as OpenSSL prints it, "AB:CD:..." (server.sha256). EC keys: made in milliseconds.
set -eu
dir=$1
cd "$dir"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 \
  -subj "/CN=Quillcast Test CA" -keyout ca.key -out ca.pem 2>/dev/null
openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
  -subj "/CN=localhost" -keyout server.key -out server.csr 2>/dev/null
printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile server.ext -out server.pem 2>/dev/null
openssl x509 -in server.pem -noout -fingerprint -sha256 | sed 's/^.*=//' > server.sha256
