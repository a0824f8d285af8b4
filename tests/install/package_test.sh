#!/usr/bin/env bash
# package_test.sh BUILD_DIR: makes the four Debian packages from the build (cpack, into a scratch
# folder), checks them with lintian (errors and warnings; skipped, saying so, when lintian is not
# installed) and by their contents, then installs them into scratch roots with dpkg --root, the
# maintainer scripts run chrootless (DPKG_ROOT) under fakeroot: the conffile with its mode and
# group, the QR reader's settings, the group's log and scan folders, remove keeping the settings,
# purge leaving nothing under /usr, /etc and /var, settings written by hand beside the module by
# an earlier installation kept, a group with users kept.
set -euo pipefail
BUILD=${1:?build folder}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zumvo_packages_XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
step() { echo "== $*"; }

for tool in cpack dpkg dpkg-deb; do
  command -v "$tool" > /dev/null || fail "$tool is not installed"
done
AS_ROOT=()
if [ "$(id -u)" -ne 0 ]; then
  command -v fakeroot > /dev/null || fail "fakeroot is needed to install into a scratch root as $(id -un) (apt-get install fakeroot)"
  AS_ROOT=(fakeroot -i "$WORK/fakeroot.state" -s "$WORK/fakeroot.state")
  touch "$WORK/fakeroot.state"
fi
as_root() { "${AS_ROOT[@]}" "$@"; }

step "cpack: the four packages"
(cd "$BUILD" && cpack -G DEB -B "$WORK/packages" > "$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; fail "cpack"; }
DEBS=()
for package in zumvo-payment zumvo-refhost zumvo-simulators zumvo-host-sdk-dev; do
  deb=$(ls "$WORK"/packages/${package}_*.deb 2> /dev/null | head -n 1)
  [ -n "$deb" ] || fail "no package $package in $(ls "$WORK/packages")"
  DEBS+=("$deb")
done
PAYMENT=${DEBS[0]}

step "lintian"
if command -v lintian > /dev/null; then
  if ! lintian --fail-on error,warning --tag-display-limit 0 "${DEBS[@]}" > "$WORK/lintian.txt" 2>&1; then
    cat "$WORK/lintian.txt"
    fail "lintian found errors or warnings"
  fi
  cat "$WORK/lintian.txt"
  echo "lintian: no errors, no warnings on ${#DEBS[@]} packages"
else
  echo "lintian is not installed: its check is SKIPPED (apt-get install lintian to run it)"
fi

step "contents"
for deb in "${DEBS[@]}"; do
  name=$(dpkg-deb --field "$deb" Package)
  contents=$(dpkg-deb --contents "$deb")
  for f in copyright changelog.Debian.gz README.md; do
    grep -q " \./usr/share/doc/$name/$f\$" <<< "$contents" || fail "$name has no /usr/share/doc/$name/$f"
  done
  ! grep -qE " \./usr/bin/.+/" <<< "$contents" || fail "$name has a folder in /usr/bin"
  # every line of the description within 80 columns
  dpkg-deb --field "$deb" Description | awk -v p="$name" 'length($0) > 80 { print p ": " $0; bad = 1 } END { exit bad }' ||
    fail "$name has description lines longer than 80 columns"
  # the Debian changelog's latest entry is this version
  version=$(dpkg-deb --field "$deb" Version)
  mkdir -p "$WORK/doc/$name"
  dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$WORK/doc/$name" "./usr/share/doc/$name/changelog.Debian.gz"
  top=$(zcat "$WORK/doc/$name/usr/share/doc/$name/changelog.Debian.gz" | head -n 1)
  [[ "$top" == "zumvo ($version) "* ]] || fail "$name $version: the Debian changelog begins '$top'"
  mkdir -p "$WORK/control/$name"
  dpkg-deb --control "$deb" "$WORK/control/$name"
  ! grep -qs ldconfig "$WORK/control/$name"/{preinst,postinst,prerm,postrm} || fail "$name's maintainer scripts call ldconfig"
done
contents=$(dpkg-deb --contents "$PAYMENT")
grep -qE '^-rw-r----- root/root .* \./etc/zumvo/libZumvoPayment\.ini$' <<< "$contents" ||
  fail "zumvo-payment does not ship /etc/zumvo/libZumvoPayment.ini with mode 0640: $(grep etc/zumvo <<< "$contents")"
grep -q '\./usr/lib/zumvo/libZumvoPayment\.ini -> /etc/zumvo/libZumvoPayment\.ini$' <<< "$contents" ||
  fail "zumvo-payment has no link /usr/lib/zumvo/libZumvoPayment.ini -> /etc/zumvo/libZumvoPayment.ini"
[ "$(cat "$WORK/control/zumvo-payment/conffiles")" = "$(printf '/etc/zumvo/libZumvoPayment.ini\n/etc/zumvo/Trelvan_QR_Detect.ini')" ] ||
  fail "zumvo-payment's conffiles: $(cat "$WORK/control/zumvo-payment/conffiles")"
grep -qE '^-rw-r--r-- root/root .* \./etc/zumvo/Trelvan_QR_Detect\.ini$' <<< "$contents" ||
  fail "zumvo-payment does not ship /etc/zumvo/Trelvan_QR_Detect.ini with mode 0644"
grep -q '\./usr/lib/zumvo/Trelvan_QR_Detect\.ini -> /etc/zumvo/Trelvan_QR_Detect\.ini$' <<< "$contents" ||
  fail "zumvo-payment has no link /usr/lib/zumvo/Trelvan_QR_Detect.ini -> /etc/zumvo/Trelvan_QR_Detect.ini"
dpkg-deb --field "$PAYMENT" Depends | grep -qw passwd || fail "zumvo-payment does not depend on passwd (groupadd)"
REFHOST=$(dpkg-deb --contents "${DEBS[1]}")
SIMULATORS=$(dpkg-deb --contents "${DEBS[2]}")
SDK=$(dpkg-deb --contents "${DEBS[3]}")
for p in Invoicing BackOffice; do
  grep -q "\./usr/share/man/man1/$p.1.gz$" <<< "$REFHOST" || fail "no manual page for $p"
done
for p in zumvo_voucher_sim zumvo_brand_sim; do
  grep -q "\./usr/share/man/man1/$p.1.gz$" <<< "$SIMULATORS" || fail "no manual page for $p"
done
grep -q "\./usr/share/man/man1/Trelvan_QR_Detect.1.gz$" <<< "$contents" || fail "no manual page for Trelvan_QR_Detect"
grep -q "\./usr/share/zumvo/refhost/Res/CashupLists.css$" <<< "$REFHOST" ||
  fail "zumvo-refhost has no /usr/share/zumvo/refhost/Res/CashupLists.css"
grep -q "\./usr/include/zumvo/intfModuleEntry.h$" <<< "$SDK" || fail "zumvo-host-sdk-dev has no intfModuleEntry.h"

# new_root DIR: an empty root with a dpkg database and the account files the scripts use.
new_root() {
  local r=$1
  mkdir -p "$r"/var/lib/dpkg/{info,updates,triggers,alternatives} "$r/etc"
  : > "$r/var/lib/dpkg/status"
  : > "$r/var/lib/dpkg/available"
  printf 'root:x:0:\nusers:x:100:\n' > "$r/etc/group"
  printf 'root:*::\nusers:*::\n' > "$r/etc/gshadow"
  printf 'root:x:0:0:root:/root:/bin/sh\n' > "$r/etc/passwd"
}
# in_root ROOT DPKG-ARGS...: dpkg on the scratch root; the dependencies (Qt, ...) are the host's
# business, not this root's.
in_root() {
  local r=$1
  shift
  as_root dpkg --root="$r" --log="$WORK/dpkg.log" --force-not-root --force-script-chrootless --force-depends \
    --force-unsafe-io "$@"
}
# files ROOT: every file and link under the root's /usr and /etc, but the backups groupadd and
# groupdel keep of the account files (etc/group-, etc/gshadow-), as on any system.
files() {
  local d
  for d in usr etc; do
    [ ! -d "$1/$d" ] || (cd "$1" && find "$d" \( -type f -o -type l \))
  done | grep -vxE 'etc/(group|gshadow|passwd|shadow)-' | sort
}
group_line() { grep '^zumvo:' "$1/etc/group" || true; }

step "install into a scratch root"
ROOT="$WORK/root"
new_root "$ROOT"
BEFORE=$(files "$ROOT")
in_root "$ROOT" --install "${DEBS[@]}" > "$WORK/install.log" 2>&1 || { cat "$WORK/install.log"; fail "dpkg --install"; }
for package in zumvo-payment zumvo-refhost zumvo-simulators zumvo-host-sdk-dev; do
  dpkg --root="$ROOT" -s "$package" 2> /dev/null | grep -q '^Status: install ok installed$' ||
    fail "$package is not configured: $(dpkg --root="$ROOT" -s "$package" 2>&1 | grep Status)"
done
[ -n "$(group_line "$ROOT")" ] || fail "postinst made no group zumvo"
GID=$(group_line "$ROOT" | cut -d: -f3)
SETTINGS="$ROOT/etc/zumvo/libZumvoPayment.ini"
[ -f "$SETTINGS" ] || fail "no /etc/zumvo/libZumvoPayment.ini"
mode=$(as_root stat -c '%a %u %g' "$SETTINGS")
[ "$mode" = "640 0 $GID" ] || fail "/etc/zumvo/libZumvoPayment.ini is '$mode' (mode uid gid), not '640 0 $GID'"
[ "$(readlink "$ROOT/usr/lib/zumvo/libZumvoPayment.ini")" = /etc/zumvo/libZumvoPayment.ini ] ||
  fail "the module's libZumvoPayment.ini is not the link to /etc/zumvo/libZumvoPayment.ini"
dpkg --root="$ROOT" -s zumvo-payment | grep -q '^ /etc/zumvo/libZumvoPayment.ini [0-9a-f]\{32\}$' ||
  fail "dpkg does not hold /etc/zumvo/libZumvoPayment.ini as a conffile"
for folder in var/log/zumvo var/lib/zumvo/scans; do
  folder_mode=$(as_root stat -c '%a %u %g' "$ROOT/$folder")
  [ "$folder_mode" = "2770 0 $GID" ] || fail "/$folder is '$folder_mode' (mode uid gid), not '2770 0 $GID'"
done
[ "$(readlink "$ROOT/usr/lib/zumvo/Trelvan_QR_Detect.ini")" = /etc/zumvo/Trelvan_QR_Detect.ini ] ||
  fail "the QR reader's Trelvan_QR_Detect.ini is not the link to /etc/zumvo/Trelvan_QR_Detect.ini"
grep -q '^Folder=/var/lib/zumvo/scans$' "$ROOT/etc/zumvo/Trelvan_QR_Detect.ini" || fail "the QR reader's settings name no folder"
echo "installed: /etc/zumvo/libZumvoPayment.ini $mode (group zumvo is $GID), conffile, linked from /usr/lib/zumvo"
echo "installed: /var/log/zumvo and /var/lib/zumvo/scans root:zumvo 2770; the QR reader's settings linked likewise"

step "remove keeps the settings; purge leaves nothing"
# what the module writes in its folder when the till runs as root: its log, a rotated one, the archive
as_root sh -c "echo log > '$ROOT/usr/lib/zumvo/libZumvoPayment_till1.log' &&
  echo old > '$ROOT/usr/lib/zumvo/libZumvoPayment_till1.log.1' &&
  mkdir -p '$ROOT/usr/lib/zumvo/archive' &&
  echo gz > '$ROOT/usr/lib/zumvo/archive/libZumvoPayment_till1_20260101-000000.log.gz'"
echo "; edited" | as_root tee -a "$SETTINGS" > /dev/null
# an administrator's copy beside the settings: /etc/zumvo goes as a whole on purge
as_root cp "$SETTINGS" "$ROOT/etc/zumvo/till2.ini"
in_root "$ROOT" --remove zumvo-refhost zumvo-simulators zumvo-host-sdk-dev zumvo-payment > "$WORK/remove.log" 2>&1 ||
  { cat "$WORK/remove.log"; fail "dpkg --remove"; }
tail -n 1 "$SETTINGS" 2> /dev/null | grep -q "; edited" || fail "remove did not keep the edited settings"
[ -n "$(group_line "$ROOT")" ] || fail "remove took the group zumvo away"
in_root "$ROOT" --purge zumvo-refhost zumvo-simulators zumvo-host-sdk-dev zumvo-payment > "$WORK/purge.log" 2>&1 ||
  { cat "$WORK/purge.log"; fail "dpkg --purge"; }
AFTER=$(files "$ROOT")
if [ "$BEFORE" != "$AFTER" ]; then
  diff <(echo "$BEFORE") <(echo "$AFTER") || true
  fail "purge left files under /usr or /etc"
fi
left=$(for d in usr etc; do [ ! -d "$ROOT/$d" ] || (cd "$ROOT" && find "$d" -mindepth 1 -type d); done | tr '\n' ' ')
[ -z "$left" ] || fail "purge left folders: $left"
[ -z "$(group_line "$ROOT")" ] || fail "purge left the group zumvo"
for folder in var/log/zumvo var/lib/zumvo; do
  [ ! -e "$ROOT/$folder" ] || fail "purge left /$folder"
done
! grep -qE "(/usr/lib/zumvo|/etc/zumvo).* not empty so not removed" "$WORK/purge.log" || { cat "$WORK/purge.log"; fail "dpkg warned of folders left"; }
echo "purged: nothing left under /usr and /etc, group zumvo gone"

step "settings written by hand beside the module before are kept; a group with users stays"
ROOT="$WORK/root2"
new_root "$ROOT"
mkdir -p "$ROOT/usr/lib/zumvo"
printf '[Settings]\nSOAPServer=https://hand.example\n' > "$ROOT/usr/lib/zumvo/libZumvoPayment.ini"
printf '[Settings]\nImage=/srv/hand.png\n' > "$ROOT/usr/lib/zumvo/Trelvan_QR_Detect.ini"
in_root "$ROOT" --install "$PAYMENT" > "$WORK/install2.log" 2>&1 || { cat "$WORK/install2.log"; fail "dpkg --install over hand-written settings"; }
grep -q "SOAPServer=https://hand.example" "$ROOT/etc/zumvo/libZumvoPayment.ini" ||
  fail "the hand-written settings were not kept as /etc/zumvo/libZumvoPayment.ini"
[ -L "$ROOT/usr/lib/zumvo/libZumvoPayment.ini" ] || fail "no link in the module's folder after keeping the settings"
[ "$(as_root stat -c %a "$ROOT/etc/zumvo/libZumvoPayment.ini")" = 640 ] || fail "kept settings are not mode 0640"
grep -q "Image=/srv/hand.png" "$ROOT/etc/zumvo/Trelvan_QR_Detect.ini" ||
  fail "the hand-written QR reader settings were not kept as /etc/zumvo/Trelvan_QR_Detect.ini"
[ "$(as_root stat -c %a "$ROOT/etc/zumvo/Trelvan_QR_Detect.ini")" = 644 ] || fail "kept QR reader settings are not mode 0644"
sed -i 's/^zumvo:\(.*\):$/zumvo:\1:anna/' "$ROOT/etc/group"
in_root "$ROOT" --purge zumvo-payment > "$WORK/purge2.log" 2>&1 || { cat "$WORK/purge2.log"; fail "dpkg --purge with a user in the group"; }
[ -n "$(group_line "$ROOT")" ] || fail "purge removed the group zumvo with the user anna in it"
grep -q "group zumvo still has users" "$WORK/purge2.log" || { cat "$WORK/purge2.log"; fail "purge did not say why the group stays"; }
[ ! -e "$ROOT/etc/zumvo" ] || fail "purge left /etc/zumvo"
echo "kept: hand-written settings became /etc/zumvo/libZumvoPayment.ini; the group with a user stayed"

echo "packages: lintian, contents, install, remove and purge all as expected"
