#!/usr/bin/env bash
# IMAP download speed beside POP3: plumadex-cli receive empties the same mailbox of a loopback
# Dovecot over IMAPS and over POP3S (the mailbox refilled before each), then re-checks a kept
# mailbox with nothing new over both (IMAP: one SELECT, its UIDVALIDITY and UIDNEXT unchanged).
#   bench/imap.sh [COUNT=2000]
# Runs as root (Dovecot is started here on 127.0.0.1 at free ports and stopped at the end).
# WORK (default /tmp/plumadex-bench-imap) holds the corpus and the outputs; BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
COUNT="${1:-2000}"
BUILD_DIR="${BUILD_DIR:-build}"
WORK="${WORK:-/tmp/plumadex-bench-imap}"

if [ "$(id -u)" -ne 0 ]; then echo "bench/imap.sh runs as root (it starts Dovecot)"; exit 1; fi
for p in dovecot-pop3d dovecot-imapd openssl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    { echo "$p is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
. bench/mail_server_bench.sh
POP3S=$(free_port)
IMAPS=$(free_port)
cat > "$DV/dovecot.conf" <<CONF
base_dir = $DV/run
state_dir = $DV/state
log_path = $DV/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1
ssl = yes
ssl_cert = <$DV/server.crt
ssl_key = <$DV/server.key
auth_mechanisms = plain
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $DV/passwd
}
userdb {
  driver = static
  args = uid=$(id -u nobody) gid=$(id -g nobody) home=$DV/mail/%u
}
mail_location = maildir:~/Maildir
first_valid_uid = 1
first_valid_gid = 1
default_internal_user = dovecot
default_login_user = dovenull
pop3_uidl_format = %08Xu%08Xv
service pop3-login {
  inet_listener pop3 {
    port = 0
  }
  inet_listener pop3s {
    port = $POP3S
    ssl = yes
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
  inet_listener imaps {
    port = $IMAPS
    ssl = yes
  }
}
service anvil {
  chroot =
}
CONF
/usr/sbin/dovecot -F -c "$DV/dovecot.conf" &
DOVECOT_PID=$!
trap 'kill $DOVECOT_PID 2>/dev/null; wait $DOVECOT_PID 2>/dev/null || true' EXIT
for port in $POP3S $IMAPS; do
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break
    sleep 0.1
  done
done

MAILDIR="$DV/mail/bench/Maildir"
refill() {
  find "$MAILDIR/new" "$MAILDIR/cur" -type f -delete
  rm -f "$MAILDIR"/dovecot*
  local i=0
  for f in "$CORPUS"/*.eml; do
    i=$((i + 1))
    cp "$f" "$MAILDIR/new/$((1000000000 + i)).M${i}P1.bench"
  done
  chown -R nobody:nogroup "$MAILDIR"
  sync
}
left() { find "$MAILDIR/new" "$MAILDIR/cur" -type f | wc -l; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
report() {  # name seconds files
  awk -v n="$1" -v s="$2" -v c="$3" -v b="$BYTES" 'BEGIN {
    printf "%-34s %7.3f s  %7.0f msg/s  %6.1f MB/s  (%d files)\n", n, s, c / s, b / s / 1e6, c }'
}
echo "mailbox: $COUNT messages, $((BYTES / 1000000)) MB, Dovecot on 127.0.0.1 (IMAPS $IMAPS, POP3S $POP3S)"

# run NAME PROTOCOL-OPTIONS...: empties the refilled mailbox with plumadex-cli
run() {
  local name=$1; shift
  local home="$WORK/px-$name"
  rm -rf "$home"
  export PLUMADEX_HOME="$home" SSL_CERT_FILE="$DV/ca.crt"
  echo benchpw | "$CLI" accounts add bench --user bench --password-stdin --security tls "$@"
  refill
  local t0 t1 got
  t0=$(now)
  "$CLI" receive --no-file --quiet
  t1=$(now)
  got=$(find "$home/data/Inbox" -name '*.msg_' | wc -l)
  [ "$(left)" = 0 ] || echo "$name left $(left) messages on the server"
  report "plumadex-cli receive ($name)" "$(elapsed "$t0" "$t1")" "$got"
}
run imaps --server "localhost:$IMAPS" --imap
run pop3s --server "localhost:$POP3S"

echo "re-check of a kept mailbox of $COUNT messages (nothing new):"
recheck() {
  local name=$1; shift
  local home="$WORK/px-keep-$name"
  rm -rf "$home"
  export PLUMADEX_HOME="$home" SSL_CERT_FILE="$DV/ca.crt"
  echo benchpw | "$CLI" accounts add bench --user bench --password-stdin --security tls --keep "$@"
  "$CLI" receive --no-file --quiet
  local t0 t1
  t0=$(now)
  "$CLI" receive --no-file --quiet
  t1=$(now)
  printf "%-34s %7.3f s  (%d fetched again)\n" "plumadex-cli re-check ($name)" "$(elapsed "$t0" "$t1")" \
    "$(( $(find "$home/data/Inbox" -name '*.msg_' | wc -l) - COUNT ))"
}
refill
recheck imaps --server "localhost:$IMAPS" --imap
recheck pop3s --server "localhost:$POP3S"
