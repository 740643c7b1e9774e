#!/usr/bin/env bash
# Creates the project's Wine prefix once, then reuses it. Safe to call from parallel tests.
set -eu
source "$(dirname "$0")/wine-env.sh"

# Bump when the prefix recipe changes, so old prefixes are rebuilt.
recipe=2
marker="$WINEPREFIX/.orvane-prefix-$recipe"
[ -f "$marker" ] && exit 0

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$marker" ] && exit 0

rm -rf "$WINEPREFIX"
"$ORVANE_WINE" wineboot -i >/dev/null 2>&1
/usr/bin/python3 "$(dirname "$0")/make-prefix-fonts.py" "$WINEPREFIX/drive_c/windows/Fonts"

# Look-alike fonts so the UI's families resolve as they would on Windows; no window manager tricks:
# an unmanaged window sits exactly where it asks and gets keys wherever the pointer is.
reg=$(mktemp --suffix=.reg)
trap 'rm -f "$reg"' EXIT
cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Segoe UI"="Orvane Sans"
"Bahnschrift"="Roboto Condensed"
"Microsoft Sans Serif"="DejaVu Sans"
"Tahoma"="DejaVu Sans"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
REG
"$ORVANE_WINE" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
"$ORVANE_WINESERVER" -w
touch "$marker"
