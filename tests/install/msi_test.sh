#!/usr/bin/env bash
# msi_test.sh SOURCE_DIR VERSION: the Windows Installer package made by tools/windows/msi/make-msi.py
# from stand-in files (no Windows build needed), read back with msiinfo: per machine, the project's
# version and the fixed upgrade code (a newer package replaces an older one, an older one does not
# replace a newer), every staged file in its folder, the settings files never overwritten and left
# on removal, INSTALLDIR a folder the administrator may give; the component GUIDs the same in two
# versions, the product codes not. Needs wixl, msiinfo and msibuild (package msitools).
set -euo pipefail
SOURCE=${1:?source folder}
VERSION=${2:?version}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/zumvo_msi_XXXXXX")
trap 'rm -rf "$WORK"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
for tool in wixl msiinfo msibuild python3; do
  command -v "$tool" > /dev/null || { echo "SKIPPED: $tool is not installed (apt-get install msitools)"; exit 77; }
done

STAGE="$WORK/stage with blanks ä"
mkdir -p "$STAGE/plugins/platforms" "$STAGE/plugins/imageformats" "$STAGE/licences" "$STAGE/Scans"
for f in ZumvoPayment.dll Trelvan_QR_Detect.exe Qt6Core.dll Qt6Gui.dll libstdc++-6.dll \
         plugins/platforms/qwindows.dll plugins/imageformats/qjpeg.dll licences/Qt.txt licences/zlib.txt; do
  echo "stand-in for $f" > "$STAGE/$f"
done
cp "$SOURCE/module/ZumvoPayment.example.ini" "$STAGE/ZumvoPayment.ini"
cp "$SOURCE/tools/Trelvan_QR_Detect.example.ini" "$STAGE/Trelvan_QR_Detect.ini"
MAKE="$SOURCE/tools/windows/msi/make-msi.py"
python3 "$MAKE" "$STAGE" "$VERSION" "$WORK/old.msi" > "$WORK/make.log" 2>&1 || { cat "$WORK/make.log"; fail "make-msi.py $VERSION"; }
NEWER=$(awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }' <<< "$VERSION")
python3 "$MAKE" "$STAGE" "$NEWER" "$WORK/new.msi" > "$WORK/make2.log" 2>&1 || { cat "$WORK/make2.log"; fail "make-msi.py $NEWER"; }
! python3 "$MAKE" "$STAGE" 1.0 "$WORK/bad.msi" > /dev/null 2>&1 || fail "a version without its patch number was taken"

table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
property() { table "$1" Property | awk -F'\t' -v p="$2" '$1 == p { print $2 }'; }

[ "$(property "$WORK/old.msi" ProductVersion)" = "$VERSION" ] || fail "ProductVersion is $(property "$WORK/old.msi" ProductVersion)"
[ "$(property "$WORK/new.msi" ProductVersion)" = "$NEWER" ] || fail "the newer package is not $NEWER"
[ "$(property "$WORK/old.msi" ALLUSERS)" = 1 ] || fail "the package is not per machine (ALLUSERS)"
UPGRADE=$(property "$WORK/old.msi" UpgradeCode)
[ -n "$UPGRADE" ] && [ "$UPGRADE" = "$(property "$WORK/new.msi" UpgradeCode)" ] || fail "the upgrade code differs between versions"
[ "$(property "$WORK/old.msi" ProductCode)" != "$(property "$WORK/new.msi" ProductCode)" ] || fail "two versions share a product code"
# a newer package removes an older one; an older one stops before a newer
table "$WORK/new.msi" Upgrade | grep -q "^$UPGRADE"$'\t\t'"$NEWER"$'\t\t1\t\tWIX_UPGRADE_DETECTED$' ||
  { table "$WORK/new.msi" Upgrade; fail "no upgrade of older versions"; }
table "$WORK/new.msi" InstallExecuteSequence | grep -q "^RemoveExistingProducts" || fail "older versions are not removed"
table "$WORK/old.msi" LaunchCondition | grep -q "NOT WIX_DOWNGRADE_DETECTED" || fail "no refusal to downgrade"

# every staged file, each in its folder; INSTALLDIR under Program Files by default
FILES=$(table "$WORK/old.msi" File | cut -f3 | sort | tr '\n' ' ')
[ "$FILES" = "Qt.txt Qt6Core.dll Qt6Gui.dll Trelvan_QR_Detect.exe Trelvan_QR_Detect.ini ZumvoPayment.dll ZumvoPayment.ini libstdc++-6.dll qjpeg.dll qwindows.dll zlib.txt " ] ||
  fail "the package's files: $FILES"
table "$WORK/old.msi" Directory | grep -q $'^INSTALLDIR\tProgramFilesFolder\tPallux$' || fail "no INSTALLDIR in Program Files"
for folder in plugins platforms imageformats licences Scans; do
  table "$WORK/old.msi" Directory | cut -f3 | grep -qx "$folder" || fail "no folder $folder"
done

# the settings files: NeverOverwrite (0x80) and Permanent (0x10); every other file neither
# (the file's name and its component's attributes, by the component's key file)
ATTRIBUTES=$(awk -F'\t' 'NR == FNR { name[$1] = $3; next } { print name[$6] "=" $4 }' \
  <(table "$WORK/old.msi" File) <(table "$WORK/old.msi" Component) | sort)
for line in $ATTRIBUTES; do
  case "$line" in
  ZumvoPayment.ini=144 | Trelvan_QR_Detect.ini=144) ;;
  ZumvoPayment.ini=* | Trelvan_QR_Detect.ini=*) fail "the settings component $line, not 144" ;;
  *=0) ;;
  *) fail "a component of another file is $line" ;;
  esac
done
[ "$(grep -c '=144$' <<< "$ATTRIBUTES")" = 2 ] || fail "not both settings files are kept: $ATTRIBUTES"
# the empty folder Scans (the QR reader's) is made by a component of its own
table "$WORK/old.msi" CreateFolder | grep -q . || fail "the empty folder Scans is not made"
# component GUIDs follow the file, not the version (the component rules)
[ "$(table "$WORK/old.msi" Component | cut -f2 | sort)" = "$(table "$WORK/new.msi" Component | cut -f2 | sort)" ] ||
  fail "the component GUIDs differ between versions"

echo "MSI from stand-in files: $(stat -c %s "$WORK/old.msi") bytes, version $VERSION and $NEWER, upgrade code $UPGRADE, settings kept"
