# Sourced by the mail download benchmarks (pop3.sh, imap.sh) after they set ROOT, COUNT,
# BUILD_DIR and WORK: builds plumadex-cli (CLI), makes the corpus of COUNT messages once (CORPUS,
# BYTES), and prepares a Dovecot folder (DV) with a mailbox for user "bench", a test CA and
# server certificate, and a password file. free_port prints a free loopback port.
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" --target plumadex-cli -- -j2 >/dev/null
CLI="$ROOT/$BUILD_DIR/src/plumadex-cli"

mkdir -p "$WORK"
chmod 755 "$WORK"
CORPUS="$WORK/corpus-$COUNT"
if [ ! -d "$CORPUS" ]; then
  /usr/bin/python3 bench/tools/pop3_mailbox.py "$CORPUS.tmp" "$COUNT" 1
  mv "$CORPUS.tmp" "$CORPUS"
fi
BYTES=$(cat "$CORPUS"/*.eml | wc -c)

DV="$WORK/dovecot"
rm -rf "$DV"
mkdir -p "$DV/mail/bench/Maildir/"{new,cur,tmp}
chown -R nobody:nogroup "$DV/mail"
chmod 755 "$DV"
(
  cd "$DV"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.crt -days 2 -subj "/CN=Bench CA" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
  printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\n' > ext.cnf
  openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt -days 2 \
    -extfile ext.cnf 2>/dev/null
)
printf 'bench:{PLAIN}benchpw\n' > "$DV/passwd"
free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
