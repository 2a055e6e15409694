#!/usr/bin/env bash
# Writes the self-signed certificate and key of the HTTPS loopback server in the online tests
# into tests/data/tls/: 127.0.0.1, valid for a century so the fixture never expires. Run it
# from anywhere; the outputs are committed so the tests need no openssl program.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/tls
mkdir -p "$out"
openssl req -x509 -newkey rsa:2048 -nodes -days 36500 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1" -keyout "$out/loopback.key" -out "$out/loopback.crt" \
    2>/dev/null
