#!/usr/bin/env bash
# Runs the HTTPS probe test against a local TLS server whose certificate comes from a
# certificate authority made here for the run. The test trusts it for a while (the prefix's
# CurrentUser Root store) and then not.
#   https_probe_test.sh TEST_EXE WINEPREFIX SOURCE_DIR
set -euo pipefail
test_exe=$1 prefix=$2 src=$3
work=$(mktemp -d)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cd "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=Zelvora Test CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" \
  2>/dev/null
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
  -days 2 -extfile server.ext 2>/dev/null

openssl x509 -in ca.pem -outform der -out ca.der

python3 "$src/tests/vpn_engine/tls_http_server.py" server.pem server.key >port.txt &
server_pid=$!
for _ in $(seq 50); do [ -s port.txt ] && break; sleep 0.1; done
port=$(cat port.txt)

ZELVORA_TEST_TLS_PORT="$port" "$src/scripts/wine-run.sh" "$prefix" "$test_exe"
# A second process: the chain engine remembers the untrusted chain for a process's life.
ZELVORA_TEST_TLS_PORT="$port" ZELVORA_TEST_CA_DER="Z:$work/ca.der" "$src/scripts/wine-run.sh" "$prefix" "$test_exe"
