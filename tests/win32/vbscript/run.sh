#!/usr/bin/env bash
# The add-in library from VBScript: registers it per machine (Wine's class lookup does not see
# per-user registrations), runs corvane.vbs with cscript, unregisters it. Runs inside a Wine prefix
# with a display (scripts/wine-test): run.sh <wine> <Corvane.dll>
# Wine's cscript ends with status 0 even when the script stops on an error, so the script's last
# line is checked too.
set -uo pipefail
wine=$1 dll=$2
here=$(cd "$(dirname "$0")" && pwd)
script=$(timeout 60 "$wine" winepath -w "$here/corvane.vbs" 2>/dev/null | tr -d '\r')
status=0
timeout 60 "$wine" regsvr32 /s "$dll" || { echo "FAIL regsvr32 (per machine)" >&2; exit 1; }
output=$(timeout 120 "$wine" cscript //nologo "$script" 2>&1 | tr -d '\r')
code=$?
printf '%s\n' "$output"
if [ $code -ne 0 ] || [ "$(tail -n 1 <<<"$output")" != "vbscript: every check held" ]; then
  echo "FAIL corvane.vbs (exit status $code, or it stopped before its end)" >&2
  status=1
fi
timeout 60 "$wine" regsvr32 /s /u "$dll" || { echo "FAIL regsvr32 /u" >&2; status=1; }
exit $status
