#!/usr/bin/env bash
# rootfs_test.sh BUILD_DIR: the users' walk-through (README, "From nothing to a settled code") on a
# clean Debian 12 root: debootstrap minbase (kept as build/rootfs/bookworm-minbase.tar.gz for
# later runs), the packages made by cpack installed with apt-get from the Debian archive, a till
# user in the group zumvo, the voucher simulator, the settings pointed at it as the README says,
# the voucher sale (no failure wording on standard error), the ledger, the report, the held-funds
# list and the log (mode 0640) as that user; the QR reader's conffile; a user outside the group
# told why; a system account without a home logging into /var/log/zumvo; the SDK's example host
# built against the installed package and run; then remove (settings kept) and purge (nothing of
# the packages left, the group gone).
#
# Needs root, debootstrap and the Debian archive, and takes minutes (most of it apt-get fetching
# Qt): it runs only when ZUMVO_ROOTFS_TEST=1 (ctest -L rootfs), and is skipped otherwise, saying so.
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
if [ "${ZUMVO_ROOTFS_TEST:-0}" != 1 ]; then
  echo "SKIPPED: the clean-root walk-through runs with ZUMVO_ROOTFS_TEST=1 (root, debootstrap, network; minutes)"
  exit 77
fi
[ "$(id -u)" -eq 0 ] || { echo "FAILED: the clean-root walk-through needs root (chroot)"; exit 1; }
command -v debootstrap > /dev/null || { echo "FAILED: debootstrap is not installed (apt-get install debootstrap)"; exit 1; }
MIRROR=${ZUMVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zumvo_rootfs_XXXXXX")
ROOT="$WORK/root"
cleanup() {
  umount "$ROOT/proc" 2> /dev/null || true
  [ -f "$ROOT/tmp/sim.pid" ] && kill "$(cat "$ROOT/tmp/sim.pid")" 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "== $(date +%T) $*"; }
in_root() { chroot "$ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive "$@"; }
# the till user's commands as the README gives them: no display, nothing set for Qt
as_cashier() { chroot --userspec=cashier:cashier "$ROOT" /usr/bin/env -i HOME=/home/cashier PATH=/usr/bin:/bin "$@"; }

CACHE="$BUILD/rootfs/bookworm-minbase.tar.gz"
mkdir -p "$ROOT" "$BUILD/rootfs"
if [ -f "$CACHE" ]; then
  step "clean root from $CACHE"
  tar -xzf "$CACHE" -C "$ROOT"
else
  step "debootstrap --variant=minbase bookworm ($MIRROR)"
  debootstrap --variant=minbase bookworm "$ROOT" "$MIRROR" > "$WORK/debootstrap.log" 2>&1 ||
    { tail -n 30 "$WORK/debootstrap.log"; fail "debootstrap"; }
  tar -czf "$CACHE" -C "$ROOT" .
fi
mount -t proc proc "$ROOT/proc"
cp /etc/resolv.conf "$ROOT/etc/resolv.conf" 2> /dev/null || true

step "the packages (cpack)"
(cd "$BUILD" && cpack -G DEB -B "$WORK/packages" > "$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack"; }
mkdir -p "$ROOT/tmp/debs"
cp "$WORK"/packages/zumvo-*.deb "$ROOT/tmp/debs/"

step "apt-get install ./zumvo-*.deb (the dependencies from the archive)"
in_root apt-get update -q > "$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log"; fail "apt-get update"; }
BEFORE=$(in_root sh -c 'find /usr /etc \( -type f -o -type l \) | sort')
in_root sh -c 'cd /tmp/debs && apt-get install -y -q --no-install-recommends ./zumvo-payment_*.deb ./zumvo-refhost_*.deb ./zumvo-simulators_*.deb ./zumvo-host-sdk-dev_*.deb' \
  > "$WORK/install.log" 2>&1 || { tail -n 40 "$WORK/install.log"; fail "apt-get install"; }
in_root getent group zumvo > /dev/null || fail "no group zumvo after installing"
[ "$(in_root stat -c '%a %U %G' /etc/zumvo/libZumvoPayment.ini)" = "640 root zumvo" ] ||
  fail "/etc/zumvo/libZumvoPayment.ini is $(in_root stat -c '%a %U %G' /etc/zumvo/libZumvoPayment.ini)"
[ "$(in_root stat -c '%a %U' /etc/zumvo/Trelvan_QR_Detect.ini)" = "644 root" ] ||
  fail "/etc/zumvo/Trelvan_QR_Detect.ini is $(in_root stat -c '%a %U' /etc/zumvo/Trelvan_QR_Detect.ini)"
[ "$(in_root readlink /usr/lib/zumvo/Trelvan_QR_Detect.ini)" = /etc/zumvo/Trelvan_QR_Detect.ini ] ||
  fail "/usr/lib/zumvo/Trelvan_QR_Detect.ini is not the link to /etc/zumvo/Trelvan_QR_Detect.ini"
for folder in /var/log/zumvo /var/lib/zumvo/scans; do
  [ "$(in_root stat -c '%a %U %G' $folder)" = "2770 root zumvo" ] || fail "$folder is $(in_root stat -c '%a %U %G' $folder)"
done

step "a till user in the group zumvo; the simulator; the settings pointed at it as the README says"
in_root useradd --create-home --shell /bin/sh cashier
in_root usermod -a -G zumvo cashier
# The README's port is 8080; a free one here, which the machine running the test may need.
as_cashier sh -c 'zumvo_voucher_sim --port 0 --catalogue /usr/share/zumvo/sim/catalogue.json > /tmp/sim.out 2>&1 & echo $! > /tmp/sim.pid'
for _ in $(seq 1 100); do grep -q "listening on" "$ROOT/tmp/sim.out" 2> /dev/null && break; sleep 0.1; done
PORT=$(sed -n 's/.*listening on \([0-9]*\).*/\1/p' "$ROOT/tmp/sim.out" | head -n 1)
[ -n "$PORT" ] || { cat "$ROOT/tmp/sim.out"; fail "the voucher simulator did not start"; }
# a ';' before the real SOAP lines, the ';' of the simulator's lines (the line after each) removed
in_root sed -i -e '/^SOAP\(Server\|Url\|ID\|PWD\)=/{s/^/;/;n;s/^;//}' -e "s|127.0.0.1:8080|127.0.0.1:$PORT|" \
  /etc/zumvo/libZumvoPayment.ini
grep -q "^SOAPServer=http://127.0.0.1:$PORT$" "$ROOT/etc/zumvo/libZumvoPayment.ini" ||
  { grep SOAP "$ROOT/etc/zumvo/libZumvoPayment.ini"; fail "the simulator's settings are not in effect"; }

step "as the till user: the tables, the voucher sale"
as_cashier sh -c 'mkdir -p ~/till && cd ~/till && cp /usr/share/zumvo/refhost/host.ini.example host.ini &&
  BackOffice --headless --config host.ini --upgrade-db' > "$WORK/upgrade.txt" 2>&1 ||
  { cat "$WORK/upgrade.txt"; fail "BackOffice --upgrade-db"; }
as_cashier sh -c 'cd ~/till && Invoicing --headless --config host.ini --scenario /usr/share/zumvo/refhost/scenarios/voucher-sale.json' \
  > "$WORK/sale.txt" 2> "$WORK/sale.err" || { cat "$WORK/sale.txt" "$WORK/sale.err"; fail "the voucher sale"; }
grep -q "SCENARIO: passed" "$WORK/sale.txt" || { cat "$WORK/sale.txt"; fail "the voucher sale did not pass"; }
grep -q "FINAL: tvTrxID" "$WORK/sale.txt" || fail "the receipt shows no settled code"
LEDGER=$(PORT=$PORT bash -c 'exec 3<>/dev/tcp/127.0.0.1/$PORT && printf "GET /ledger HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n" >&3 && cat <&3' | tail -n 1)
echo "ledger: $LEDGER"
grep -q '"code": *"PAY-100"' <<< "$LEDGER" && grep -q '"amount": *615' <<< "$LEDGER" && grep -q '"state": *"settled"' <<< "$LEDGER" ||
  fail "the ledger does not show PAY-100 settled for 615"
[ -s "$WORK/sale.err" ] && { echo "standard error of the sale:"; cat "$WORK/sale.err"; }
# a normal run says where the log is, without failure wording
grep -qx "Zumvo Payment: the log is /home/cashier/.local/state/zumvo/libZumvoPayment_.*\.log" "$WORK/sale.err" ||
  fail "the sale did not say where the log is"
! grep -qiE "cannot|denied|error|fail" "$WORK/sale.err" || fail "the sale's standard error has failure wording"

step "as the till user: the report, the held-funds list, the log"
as_cashier sh -c 'cd ~/till && BackOffice --headless --config host.ini --report today' > "$WORK/report.txt" 2>&1 ||
  { cat "$WORK/report.txt"; fail "BackOffice --report today"; }
PAGE=$(sed -n 's/^Report page: //p' "$WORK/report.txt")
[ -f "$ROOT$PAGE" ] || { cat "$WORK/report.txt"; fail "no report page"; }
grep -q 'file:///usr/share/zumvo/refhost/Res/' "$ROOT$PAGE" || fail "the report page does not use the installed style sheets"
as_cashier sh -c 'cd ~/till && BackOffice --headless --config host.ini --held-funds' > "$WORK/held.txt" 2>&1 ||
  { cat "$WORK/held.txt"; fail "BackOffice --held-funds"; }
cat "$WORK/held.txt"
LOG=$(ls "$ROOT"/home/cashier/.local/state/zumvo/libZumvoPayment_*.log 2> /dev/null | head -n 1)
[ -n "$LOG" ] || fail "no module log in the till user's ~/.local/state/zumvo"
head -n 2 "$LOG"
[ "$(stat -c %a "$LOG")" = 640 ] || fail "the log $LOG has mode $(stat -c %a "$LOG"), not 640"
[ "$(stat -c %a "$(dirname "$LOG")")" = 700 ] || fail "the log's folder is not 0700"

step "a user outside the group zumvo is told why"
in_root useradd --create-home --shell /bin/sh outsider
chroot --userspec=outsider:outsider "$ROOT" /usr/bin/env -i HOME=/home/outsider PATH=/usr/bin:/bin sh -c \
  'mkdir -p ~/till && cd ~/till && cp /usr/share/zumvo/refhost/host.ini.example host.ini &&
   BackOffice --headless --config host.ini --upgrade-db' > "$WORK/outsider.txt" 2>&1 || true
OUTSIDER_LOG=$(ls "$ROOT"/home/outsider/.local/state/zumvo/libZumvoPayment_*.log 2> /dev/null | head -n 1)
grep -q "The settings file /usr/lib/zumvo/libZumvoPayment.ini cannot be read by the user outsider (uid [0-9]*): Permission denied" \
  "$OUTSIDER_LOG" || { cat "$WORK/outsider.txt" "$OUTSIDER_LOG"; fail "the outsider's log does not say why the settings are missing"; }

step "a system account without a home logs into /var/log/zumvo"
in_root useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin --groups zumvo tillsvc
in_root sh -c 'mkdir -p /srv/till && cp /usr/share/zumvo/refhost/host.ini.example /srv/till/host.ini && chown -R tillsvc /srv/till'
chroot --userspec=tillsvc:nogroup "$ROOT" /usr/bin/env -i HOME=/nonexistent PATH=/usr/bin:/bin sh -c \
  'cd /srv/till && BackOffice --headless --config host.ini --upgrade-db' > "$WORK/svc.txt" 2>&1 ||
  { cat "$WORK/svc.txt"; fail "BackOffice as a system account"; }
SVC_LOG=$(ls "$ROOT"/var/log/zumvo/libZumvoPayment_*.log 2> /dev/null | head -n 1)
[ -n "$SVC_LOG" ] || { cat "$WORK/svc.txt"; fail "no log in /var/log/zumvo for the system account"; }
SVC_MODE=$(in_root stat -c '%a %U %G' "${SVC_LOG#$ROOT}")
[ "$SVC_MODE" = "640 tillsvc zumvo" ] || fail "${SVC_LOG#$ROOT} is $SVC_MODE (mode user group)"

step "the SDK's example host, built against the installed package"
in_root apt-get install -y -q --no-install-recommends cmake make g++ > "$WORK/toolchain.log" 2>&1 ||
  { tail -n 20 "$WORK/toolchain.log"; fail "apt-get install cmake make g++"; }
in_root sh -c 'cp -r /usr/share/doc/zumvo-host-sdk-dev/examples/host /tmp/host-example &&
  cmake -S /tmp/host-example -B /tmp/host-example/build && cmake --build /tmp/host-example/build &&
  /tmp/host-example/build/zumvo_host_example /usr/lib/zumvo/libZumvoPayment.so' > "$WORK/example.txt" 2>&1 ||
  { cat "$WORK/example.txt"; fail "the SDK's example host"; }
grep -qx "loaded, registered, withdrawn, unloaded" "$WORK/example.txt" || { cat "$WORK/example.txt"; fail "the example host did not finish"; }
kill "$(cat "$ROOT/tmp/sim.pid")" 2> /dev/null || true

step "remove keeps the settings; purge leaves nothing of the packages"
in_root apt-get remove -y -q zumvo-payment zumvo-refhost zumvo-simulators zumvo-host-sdk-dev > "$WORK/remove.log" 2>&1 ||
  { cat "$WORK/remove.log"; fail "apt-get remove"; }
grep -q '^;SOAPServer=https://vouchers.example.com' "$ROOT/etc/zumvo/libZumvoPayment.ini" || fail "remove lost the edited settings"
in_root gpasswd -d cashier zumvo > /dev/null
in_root gpasswd -d tillsvc zumvo > /dev/null
# as the README has it: the packages removed without settings are gone already, the pattern
# finds what is left
in_root apt-get purge -y -q 'zumvo-*' > "$WORK/purge.log" 2>&1 ||
  { cat "$WORK/purge.log"; fail "apt-get purge"; }
cat "$WORK/purge.log" | grep -i "warning" || true
! in_root getent group zumvo > /dev/null || fail "purge left the group zumvo"
LEFT=$(in_root sh -c 'find /usr /etc \( -type f -o -type l \) | sort' | comm -13 <(echo "$BEFORE") - | grep -i zumvo || true)
[ -z "$LEFT" ] || fail "purge left: $LEFT"
for d in /etc/zumvo /usr/lib/zumvo /usr/share/zumvo /usr/include/zumvo /var/log/zumvo /var/lib/zumvo; do
  [ ! -e "$ROOT$d" ] || fail "purge left $d"
done
echo "clean root: installed with apt-get, a voucher sale settled, removed and purged without a trace"
