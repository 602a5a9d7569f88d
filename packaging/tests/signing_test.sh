#!/usr/bin/env bash
# Signing, end to end, with throwaway keys: a CA, a code-signing certificate and a
# timestamping certificate made with openssl, and an RFC 3161 timestamp server on localhost
# (openssl ts behind a small HTTP handler). The package is built signed, as
# scripts/package.sh --sign does (packaging/tools/build_package.sh), into WORK_DIR; then
#   - osslsigncode verify -CAfile accepts both executables and the package;
#   - one flipped byte in each (in the code of an executable, in the package's cabinet)
#     makes verification fail.
#
#   signing_test.sh SOURCE_DIR SERVICE_EXE RXCTL_EXE ACTIONS_DLL WORK_DIR
set -uo pipefail
root=${1:?source folder} service_exe=${2:?service} rxctl_exe=${3:?rxctl} actions_dll=${4:?custom-action DLL}
work=${5:?work folder}
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}
quiet() { "$@" >/dev/null 2>&1; }

# The keys: a CA, and two leaves it signs.
printf 'throwaway-%s\n' "$RANDOM$RANDOM" >password
cat >leaves.cnf <<'CNF'
[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
CNF
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj '/CN=Throwaway test CA' \
  -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' || { echo "FAIL  openssl: CA"; exit 1; }
for leaf in codesign tsa; do
  quiet openssl req -newkey rsa:2048 -nodes -keyout $leaf.key -out $leaf.csr -subj "/CN=Throwaway $leaf" &&
  quiet openssl x509 -req -in $leaf.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -out $leaf.crt \
    -extfile leaves.cnf -extensions $leaf || { echo "FAIL  openssl: $leaf certificate"; exit 1; }
done
quiet openssl pkcs12 -export -inkey codesign.key -in codesign.crt -certfile ca.crt -out codesign.p12 \
  -passout file:password || { echo "FAIL  openssl: PKCS#12"; exit 1; }

# The timestamp server.
cat >tsa.cnf <<CNF
[tsa]
default_tsa = throwaway
[throwaway]
serial = $work/tsa.serial
signer_cert = $work/tsa.crt
signer_key = $work/tsa.key
certs = $work/ca.crt
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
CNF
echo 01 >tsa.serial
cat >tsa_server.py <<'PY'
import http.server, subprocess, sys
class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True).stdout
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
    def log_message(self, *args):
        pass
server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
open("tsa.port", "w").write(str(server.server_port))
server.serve_forever()
PY
/usr/bin/python3 tsa_server.py & tsa_pid=$!
trap 'kill $tsa_pid 2>/dev/null' EXIT
for _ in $(seq 50); do [ -s tsa.port ] && break; sleep 0.1; done

"$root/packaging/tools/build_package.sh" --version 1.0.0 --epoch 1700000000 --wxs "$root/packaging/KvRxCoreService.wxs" \
  --stage bin --symbols symbols --out package.msi --sign codesign.p12 --password-file password \
  --timestamp "http://127.0.0.1:$(cat tsa.port)" "$service_exe" "$rxctl_exe" "$actions_dll" >build.log 2>&1
check "build_package.sh --sign --timestamp: signed package built (log: $work/build.log)" test -s package.msi

verify() { osslsigncode verify -CAfile ca.crt -TSA-CAfile ca.crt -in "$1" >"$1.verify.log" 2>&1; }
flip() {  # flip FILE OFFSET COPY: COPY is FILE with the byte at OFFSET inverted
  cp "$1" "$3"
  local byte; byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((255 - byte)))" | dd of="$3" bs=1 seek="$2" conv=notrunc status=none
}
for file in bin/KvRxCoreService.exe bin/rxctl.exe package.msi; do
  check "$file: the signature verifies against the CA, timestamp included" verify "$file"
  check "$file: SHA-256 digest" grep -qE '^Message digest algorithm *: SHA256' "$file.verify.log"
  check "$file: an RFC 3161 timestamp" grep -q '^[[:space:]]*Timestamp time:' "$file.verify.log"
  if [ "$file" = package.msi ]; then
    # Inside the embedded cabinet, which holds the programs.
    offset=$(($(grep -obUaP 'MSCF\x00' "$file" | head -n 1 | cut -d: -f1) + 4096))
  else
    # Inside the code (.text starts at file offset 0x400 with GNU ld).
    offset=$((0x400 + 4096))
  fi
  flip "$file" "$offset" "$file.altered"
  check "$file: one flipped byte (offset $offset) fails verification" eval '! verify "$file.altered"'
done
echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
