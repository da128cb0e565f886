#!/usr/bin/env bash
# CorvaneSetup.exe under Wine, in the 64-bit prefix of scripts/wine-test, as a user without
# administrator rights runs it, silently (/S), with Excel's bitness faked in the registry:
#  - 64-bit Excel: the x64 libraries, help, macro module, read-me and uninstaller in place, the
#    libraries registered per user and the ribbon add-in loaded from there by Excel's stand-in,
#    every button and the drop-down working through it (each time an installation is checked);
#  - then over it for 32-bit Excel, settings saved meanwhile: the x86 libraries replace the x64
#    ones, one entry in the installed programs, files replaced, the settings kept;
#  - then over it with no Office to be found: both bitnesses; either ribbon add-in unregistered
#    alone leaves Excel's add-in key, which both share, to the other;
#  - the uninstaller, silently: nothing of Corvane left in the registry or on disk but the settings.
#
#   setup.sh SETUP.exe WIN64_BUILD WIN32_BUILD SOURCE_DIR [WINE32]
#
# The 32-bit stand-in runs where 32-bit Wine (WINE32) is given.
set -uo pipefail
setup=$1 build64=$2 build32=$3 source=$4 wine32=${5:-}
wine64=/usr/lib/wine/wine64
status=0
fail() { echo "FAIL $*" >&2; status=1; }
w() { timeout 120 "$wine64" "$@"; }
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane'
settings='HKCU\Software\VB and VBA Program Settings\Corvane'
office='HKLM\Software\Microsoft\Office\16.0'
tmp=$(mktemp -d "${TMPDIR:-/tmp}/corvane-setup.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

home=$(w cmd /c echo '%LOCALAPPDATA%' 2>/dev/null | tr -d '\r')'\Programs\Corvane'
folder=$(w winepath -u "$home" 2>/dev/null | tr -d '\r')
folder=${folder%/}

# Every key of the user's and the machine's software that names Corvane or one of its class,
# interface or library GUIDs, in its path or in a value.
corvane_keys() {
  local root
  for root in 'HKEY_CURRENT_USER\Software' 'HKEY_LOCAL_MACHINE\Software'; do
    w regedit /E "$(w winepath -w "$tmp/export.reg" 2>/dev/null | tr -d '\r')" "$root" >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$tmp/export.reg" | tr -d '\r' | awk '
      BEGIN { p = "corvane|31e726e8|523cd1e6|ab60dd2d|98e15803|c434db95" }
      /^\[/ { key = $0; if (tolower(key) ~ p) print key; next }
      tolower($0) ~ p { print key }'
  done | sort -u
}
query() { w reg query "$@" 2>/dev/null | tr -d '\r'; }
install() {
  w "$setup" /S || fail "setup /S exited with $?"
}
# expect_files x64|x86 ...: exactly these bitness folders, every file equal to what was built.
expect_files() {
  local want=(Corvane.bas README.txt Uninstall.exe) bits found
  for bits in "$@"; do want+=("$bits/Corvane.dll" "$bits/CorvaneRibbon.dll" "$bits/corvane.chm"); done
  found=$(cd "$folder" 2>/dev/null && find . -type f | sed 's|^\./||' | sort)
  [ "$found" = "$(printf '%s\n' "${want[@]}" | sort)" ] || fail "installed files for $*: $(echo $found)"
  cmp -s "$folder/Corvane.bas" "$source/vba/Corvane.bas" || fail "Corvane.bas differs from vba/Corvane.bas"
  cmp -s "$folder/README.txt" "$source/installer/readme.txt" || fail "README.txt differs from installer/readme.txt"
  for bits in "$@"; do
    local build=$build64; [ "$bits" = x86 ] && build=$build32
    for file in Corvane.dll CorvaneRibbon.dll corvane.chm; do
      cmp -s "$folder/$bits/$file" "$build/$file" || fail "$bits/$file differs from the build's"
    done
  done
}
# expect_entry: one entry in the user's installed programs, naming this folder and its uninstaller.
expect_entry() {
  local entries
  entries=$(query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' | grep -ci corvane)
  [ "$entries" = 1 ] || fail "$entries installed-program entries name Corvane"
  query "$uninstall_key" /v DisplayName | grep -q 'REG_SZ *Corvane$' || fail "no DisplayName Corvane"
  query "$uninstall_key" /v InstallLocation | grep -Fq "$home" || fail "InstallLocation is not $home"
  query "$uninstall_key" /v UninstallString | grep -Fq "\"$home\\Uninstall.exe\"" || fail "UninstallString"
  query "$uninstall_key" /v QuietUninstallString | grep -Fq "\"$home\\Uninstall.exe\" /S" || fail "QuietUninstallString"
}
# loads WINE BUILD x64|x86: this bitness's stand-in loads the ribbon add-in from the user's
# registration and every button and the drop-down work through it (the ribbon tests run on the
# installation), and its client creates the add-in object from the installed Corvane.dll.
loads() {
  local wine=$1 build=$2 bits=$3 out
  out=$(CORVANE_INSTALLED="$home\\$bits" timeout 300 "$wine" "$build/tests/win32/test_win32_ribbon.exe" 2>&1 | tr -d '\r')
  grep -q '^\[  PASSED  \] 4 tests' <<<"$out" && ! grep -q FAILED <<<"$out" ||
    { fail "$bits: the installed add-in did not load or work in the stand-in:"; echo "$out" >&2; }
  out=$(timeout 60 "$wine" "$build/tests/win32/typelib_probe.exe" user 2>/dev/null | tr -d '\r')
  for want in "path $home\\$bits\\Corvane.dll" "created by ProgID 0x00000000"; do
    grep -Fxq "$want" <<<"$out" || { fail "$bits client: expected \"$want\"; found:"; echo "$out" >&2; }
  done
}

before=$(corvane_keys)
w reg delete "$settings" /f >/dev/null 2>&1

echo "- 64-bit Excel"
w reg add "$office\\Excel\\InstallRoot" /v Path /d 'C:\Program Files\Microsoft Office\root\Office16\' /reg:64 /f >/dev/null
install
expect_files x64
expect_entry
query 'HKCU\Software\Microsoft\Office\Excel\Addins\Corvane.Ribbon' /v LoadBehavior | grep -q '0x3$' ||
  fail "the ribbon add-in is not set to load with Excel"
loads "$wine64" "$build64" x64
w reg add "$settings\\Settings" /v "Format All Parens" /d 1 /f >/dev/null
w reg add "$settings\\Spacing_Calibri" /v 65 /d 1 /f >/dev/null

echo "- over it, for 32-bit Excel"
w reg delete "$office\\Excel" /reg:64 /f >/dev/null
w reg add "$office\\Outlook" /v Bitness /d x86 /reg:32 /f >/dev/null
echo changed >"$folder/README.txt"
install
expect_files x86
expect_entry
query "$settings\\Settings" /v "Format All Parens" | grep -q 'REG_SZ *1$' || fail "the upgrade lost the options"
[ -n "$wine32" ] && loads "$wine32" "$build32" x86

echo "- over it, with no Office to be found"
w reg delete 'HKLM\Software\Microsoft\Office' /reg:32 /f >/dev/null
w reg delete 'HKLM\Software\Microsoft\Office' /reg:64 /f >/dev/null
install
expect_files x64 x86
expect_entry
# Wine keeps one class key for both bitnesses (Windows redirects the 32-bit one): the one
# registered last, the x64 library, is what a client finds there.
loads "$wine64" "$build64" x64
for bits in x64 x86; do
  platform=win64; [ $bits = x86 ] && platform=win32
  query 'HKCU\Software\Classes\TypeLib\{523CD1E6-66CC-4825-8162-A6DA2B7E37FD}\68.0\0\'$platform /ve |
    grep -Fq "$home\\$bits\\Corvane.dll" || fail "the $platform type library is not registered from $bits"
done
# Excel's add-in key for the user is one for both bitnesses: unregistering either ribbon add-in
# while the other is registered leaves it (the uninstaller's, below, takes it with the last).
for bits in x64 x86; do
  wine=$wine64; [ $bits = x86 ] && wine=$wine32
  [ -n "$wine" ] || continue
  timeout 60 "$wine" regsvr32 /s /u /n /i:user "$home\\$bits\\CorvaneRibbon.dll" || fail "regsvr32 /u $bits ribbon"
  query 'HKCU\Software\Microsoft\Office\Excel\Addins\Corvane.Ribbon' /v LoadBehavior | grep -q '0x3$' ||
    fail "unregistering the $bits ribbon add-in took Excel's add-in key from the other bitness"
  timeout 60 "$wine" regsvr32 /s /n /i:user "$home\\$bits\\CorvaneRibbon.dll" || fail "regsvr32 $bits ribbon"
done

echo "- uninstalled silently"
w "$folder/Uninstall.exe" /S || fail "the uninstaller exited with $?"
# The uninstaller goes on from a copy of itself in its temporary folder (~nsu*.tmp): wait for it.
for _ in $(seq 120); do pgrep -f '~nsu.*\.tmp' >/dev/null || break; sleep 0.5; done
pgrep -f '~nsu.*\.tmp' >/dev/null && fail "the uninstaller did not finish"
[ -e "$folder" ] && fail "left behind: $(cd "$folder" && find . | tr '\n' ' ')"
after=$(corvane_keys)
left=$(comm -13 <(echo "$before") <(echo "$after") | grep -v -F '[HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Corvane')
[ -z "$left" ] || fail "left in the registry: $left"
query "$settings\\Spacing_Calibri" /v 65 | grep -q 'REG_SZ' || fail "the calibration data went"
w reg delete "$settings" /f >/dev/null 2>&1

[ $status -eq 0 ] && echo "setup: installed per user, loaded, upgraded keeping settings, uninstalled cleanly"
exit $status
