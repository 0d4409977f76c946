#!/usr/bin/env bash
# POP3 download speed: plumadex-cli receive against mpop (delivering into a Maildir) and
# fetchmail (with an MDA that writes one file per message), each emptying the same mailbox of
# a loopback Dovecot over TLS, the mailbox refilled before each tool; then the re-check of a
# kept mailbox (nothing new), plumadex-cli beside mpop.
#   bench/pop3.sh [COUNT=2000]
# Runs as root (Dovecot is started here on 127.0.0.1 at free ports and stopped at the end).
# mpop and fetchmail are installed for this benchmark only. WORK (default
# /tmp/plumadex-bench-pop3) holds the mailbox corpus and the outputs; BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
COUNT="${1:-2000}"
BUILD_DIR="${BUILD_DIR:-build}"
WORK="${WORK:-/tmp/plumadex-bench-pop3}"

if [ "$(id -u)" -ne 0 ]; then echo "bench/pop3.sh runs as root (it starts Dovecot)"; exit 1; fi

need=()
for p in mpop fetchmail dovecot-pop3d openssl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing ${need[*]} (benchmark only)"
  own_policy=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d; chmod 755 /usr/sbin/policy-rc.d; own_policy=1
  fi
  apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  if [ "$own_policy" = 1 ]; then rm -f /usr/sbin/policy-rc.d; fi
fi

. bench/mail_server_bench.sh
PORT=$(free_port)
cat > "$DV/dovecot.conf" <<CONF
base_dir = $DV/run
state_dir = $DV/state
log_path = $DV/dovecot.log
protocols = pop3
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
    port = $PORT
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
for _ in $(seq 100); do
  (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && break
  sleep 0.1
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
    printf "%-34s %7.2f s  %7.0f msg/s  %6.1f MB/s  (%d files)\n", n, s, c / s, b / s / 1e6, c }'
}

echo "mailbox: $COUNT messages, $((BYTES / 1000000)) MB, Dovecot POP3S on 127.0.0.1:$PORT"

# --- plumadex-cli ----------------------------------------------------------------------------------
PXH="$WORK/px"
rm -rf "$PXH"
export PLUMADEX_HOME="$PXH" SSL_CERT_FILE="$DV/ca.crt"
echo benchpw | "$CLI" accounts add bench --server "localhost:$PORT" --user bench --password-stdin --security tls
refill
t0=$(now)
"$CLI" receive --no-file --quiet
t1=$(now)
got=$(find "$PXH/data/Inbox" -name '*.msg_' | wc -l)
[ "$(left)" = 0 ] || echo "plumadex-cli left $(left) messages on the server"
report "plumadex-cli receive" "$(elapsed "$t0" "$t1")" "$got"

# --- mpop ------------------------------------------------------------------------------------------
MP="$WORK/mpop"
rm -rf "$MP"
mkdir -p "$MP/out/"{new,cur,tmp}
cat > "$MP/mpoprc" <<CONF
defaults
tls on
tls_starttls off
tls_trust_file $DV/ca.crt
auth user
keep off
account bench
host localhost
port $PORT
user bench
password benchpw
uidls_file $MP/uidls
delivery maildir $MP/out
CONF
chmod 600 "$MP/mpoprc"
refill
t0=$(now)
mpop -C "$MP/mpoprc" -q bench
t1=$(now)
got=$(find "$MP/out/new" -type f | wc -l)
[ "$(left)" = 0 ] || echo "mpop left $(left) messages on the server"
report "mpop (maildir)" "$(elapsed "$t0" "$t1")" "$got"

# --- fetchmail -------------------------------------------------------------------------------------
FM="$WORK/fetchmail"
rm -rf "$FM"
mkdir -p "$FM/out"
printf '#!/bin/sh\nexec cat > "$(mktemp -p %s msg.XXXXXXXXXX)"\n' "$FM/out" > "$FM/mda.sh"
chmod 755 "$FM/mda.sh"
cat > "$FM/fetchmailrc" <<CONF
set no syslog
poll localhost protocol pop3 port $PORT
  user "bench" password "benchpw" ssl sslcertck sslcertfile "$DV/ca.crt"
  nokeep fetchall
  mda "$FM/mda.sh"
CONF
chmod 600 "$FM/fetchmailrc"
refill
t0=$(now)
HOME="$FM" fetchmail -f "$FM/fetchmailrc" --idfile "$FM/ids" -s --nosyslog || true
t1=$(now)
got=$(find "$FM/out" -type f | wc -l)
[ "$(left)" = 0 ] || echo "fetchmail left $(left) messages on the server"
report "fetchmail (MDA writing files)" "$(elapsed "$t0" "$t1")" "$got"

# --- re-check of a kept mailbox --------------------------------------------------------------------
echo "re-check of a kept mailbox of $COUNT messages (nothing new):"
"$CLI" accounts remove bench
echo benchpw | "$CLI" accounts add bench --server "localhost:$PORT" --user bench --password-stdin --security tls --keep
refill
rm -rf "$PXH/data/Inbox"
"$CLI" receive --no-file --quiet
t0=$(now)
"$CLI" receive --no-file --quiet
t1=$(now)
printf '  %-32s %7.3f s\n' "plumadex-cli receive" "$(elapsed "$t0" "$t1")"
sed -i 's/^keep off/keep on/' "$MP/mpoprc"
rm -f "$MP/uidls"
mpop -C "$MP/mpoprc" -q bench
t0=$(now)
mpop -C "$MP/mpoprc" -q bench
t1=$(now)
printf '  %-32s %7.3f s\n' "mpop" "$(elapsed "$t0" "$t1")"
