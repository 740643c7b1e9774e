#!/usr/bin/env bash
# Creates the project's Wine prefix once, then reuses it. Safe to call from parallel tests.
set -eu
source "$(dirname "$0")/wine-env.sh"

# Bump when the prefix recipe changes, so old prefixes are rebuilt. The shell handlers' folder is
# part of the recipe: a checkout that moved gets a prefix pointing at its own handlers.
recipe=3
handlers=$(cd "$(dirname "$0")/shell-handler" && pwd)
marker="$WINEPREFIX/.orvane-prefix-$recipe"
current() { [ -f "$marker" ] && [ "$(cat "$marker")" = "$handlers" ]; }
current && exit 0

mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
current && exit 0

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
# Whatever the launcher hands the shell stays on this machine: https URLs go to winebrowser, which
# runs our browser; steam: URLs go to our handler (Wine reads only the HKLM class). Both record or
# print the URL (tools/shell-handler/handler.py) and never fetch it.
reg_string() { printf '"%s"' "$(printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g')"; }
steam_command="\"C:\\windows\\system32\\start.exe\" /unix \"$handlers/steam\" \"%1\""
cat >>"$reg" <<REG

[HKEY_CURRENT_USER\Software\Wine\WineBrowser]
"Browsers"=$(reg_string "$handlers/browser")

[HKEY_LOCAL_MACHINE\Software\Classes\steam]
@="URL:Steam Protocol"
"URL Protocol"=""

[HKEY_LOCAL_MACHINE\Software\Classes\steam\shell\open\command]
@=$(reg_string "$steam_command")
REG
"$ORVANE_WINE" regedit /S "Z:${reg//\//\\}" >/dev/null 2>&1
"$ORVANE_WINESERVER" -w
echo "$handlers" >"$marker"
