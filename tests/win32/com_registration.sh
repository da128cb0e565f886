#!/usr/bin/env bash
# Registration of the add-in library per machine (regsvr32) and per user (regsvr32 /n /i:user):
# the keys read back with `reg query`, and what a client finds through them (typelib_probe:
# LoadRegTypeLib, QueryPathOfRegTypeLib, creation by ProgID and the type information's library);
# unregistering leaves none of it. Runs inside a Wine prefix (scripts/wine-test):
#
#   com_registration.sh WINE DLL PROBE win64|win32 [WINE DLL PROBE win64|win32]
#
# With a second library (the other bitness), both are then registered side by side: each
# client finds its own, and unregistering one leaves the other working.
set -uo pipefail
status=0
clsid='{31E726E8-236B-4B4A-811B-162ADBC15E84}'
libid='{523CD1E6-66CC-4825-8162-A6DA2B7E37FD}'
iid='{AB60DD2D-A457-4B15-9158-235038DF9AB7}'
marshaller='{00020424-0000-0000-C000-000000000046}'
# Version 104.0 of the type library, its key written in hexadecimal as the system looks it up.
version='68.0'
machine='HKLM\Software\Classes'
user='HKCU\Software\Classes'

fail() { echo "FAIL $*" >&2; status=1; }
# The key views of the library's bitness: the same Wine loader runs reg, regsvr32 and the probe.
query() { timeout 60 "$wine" reg query "$@" 2>/dev/null | tr -d '\r'; }
# expect <root> <key> <value name or (Default)> <data>
expect() {
  local root=$1 key=$2 name=$3 data=$4 out
  if [ "$name" = "(Default)" ]; then out=$(query "$root\\$key" /ve); else out=$(query "$root\\$key" /v "$name"); fi
  if ! grep -Fq -- "$data" <<<"$out" || ! grep -Fq "REG_SZ" <<<"$out"; then
    fail "$platform: $root\\$key [$name] should be $data; found: $out"
  fi
}
absent() {
  if timeout 60 "$wine" reg query "$1\\$2" >/dev/null 2>&1; then fail "$platform: $1\\$2 should not be there"; fi
}
use() { wine=$1 dll=$2 probe=$3 platform=$4
  path=$(timeout 60 "$wine" winepath -w "$dll" 2>/dev/null | tr -d '\r')
  folder=${path%\\*}
}
check_keys() {
  local root=$1
  expect "$root" "CLSID\\$clsid" "(Default)" "Corvane.cls_corvane"
  expect "$root" "CLSID\\$clsid\\InprocServer32" "(Default)" "$path"
  expect "$root" "CLSID\\$clsid\\InprocServer32" ThreadingModel Apartment
  expect "$root" "CLSID\\$clsid\\ProgID" "(Default)" "Corvane.cls_corvane"
  expect "$root" "CLSID\\$clsid\\TypeLib" "(Default)" "$libid"
  expect "$root" "CLSID\\$clsid\\VERSION" "(Default)" "104.0"
  expect "$root" "Corvane.cls_corvane" "(Default)" "Corvane.cls_corvane"
  expect "$root" "Corvane.cls_corvane\\CLSID" "(Default)" "$clsid"
  expect "$root" "TypeLib\\$libid\\$version" "(Default)" "Corvane"
  expect "$root" "TypeLib\\$libid\\$version\\0\\$platform" "(Default)" "$path"
  expect "$root" "TypeLib\\$libid\\$version\\FLAGS" "(Default)" "0"
  expect "$root" "TypeLib\\$libid\\$version\\HELPDIR" "(Default)" "$folder"
  absent "$root" "TypeLib\\$libid\\104.0"
  expect "$root" "Interface\\$iid" "(Default)" "_cls_corvane"
  expect "$root" "Interface\\$iid\\ProxyStubClsid32" "(Default)" "$marshaller"
  expect "$root" "Interface\\$iid\\TypeLib" "(Default)" "$libid"
  expect "$root" "Interface\\$iid\\TypeLib" Version "$version"
}
check_none() {
  local root=$1 key
  for key in "CLSID\\$clsid" "Corvane.cls_corvane" "TypeLib\\$libid" "Interface\\$iid"; do absent "$root" "$key"; done
}
# probe_finds [user]: the client of this bitness finds this library, version 104.0, locale 1033.
probe_finds() {
  local out want
  out=$(timeout 60 "$wine" "$probe" "$@" 2>/dev/null | tr -d '\r')
  for want in "LoadRegTypeLib 0x00000000" "registered library version 104.0 locale 1033" \
              "QueryPathOfRegTypeLib 0x00000000" "path $path" "created by ProgID 0x00000000" \
              "type information's library version 104.0 locale 1033" \
              "type information functions 23 flags 0xd0"; do
    grep -Fxq -- "$want" <<<"$out" || { fail "$platform client ${1:-}: expected \"$want\"; found:"; echo "$out" >&2; return; }
  done
}
# probe_finds_nothing [user]: the type library is not registered (0x8002801D) and the class is unknown.
probe_finds_nothing() {
  local out
  out=$(timeout 60 "$wine" "$probe" "$@" 2>/dev/null | tr -d '\r')
  if ! grep -Fxq "LoadRegTypeLib 0x8002801d" <<<"$out" || ! grep -Fxq "QueryPathOfRegTypeLib 0x8002801d" <<<"$out" ||
     grep -Fq "created by ProgID 0x00000000" <<<"$out"; then
    fail "$platform client ${1:-}: still finds the library after unregistering:"
    echo "$out" >&2
  fi
}
regsvr() { timeout 60 "$wine" regsvr32 /s "$@" "$dll" || fail "$platform: regsvr32 $*"; }

one_platform() {
  use "$@"
  # Earlier builds registered this file under the decimal key "104.0": registering mends that.
  timeout 60 "$wine" reg add "$machine\\TypeLib\\$libid\\104.0\\0\\$platform" /ve /d "$path" /f >/dev/null 2>&1
  regsvr
  check_keys "$machine"
  check_none "$user"
  probe_finds
  regsvr /u
  check_none "$machine"
  probe_finds_nothing

  regsvr /n /i:user
  check_keys "$user"
  check_none "$machine"
  probe_finds user
  regsvr /u /n /i:user
  check_none "$user"
  probe_finds_nothing user
}

one_platform "$1" "$2" "$3" "$4"
if [ $# -ge 8 ]; then
  one_platform "$5" "$6" "$7" "$8"
  # Side by side per machine: each client finds its own library; unregistering the first leaves
  # the second whole (the shared keys stay until the last one goes).
  use "$1" "$2" "$3" "$4"; regsvr
  use "$5" "$6" "$7" "$8"; regsvr; probe_finds
  use "$1" "$2" "$3" "$4"; probe_finds; regsvr /u
  use "$5" "$6" "$7" "$8"; check_keys "$machine"; probe_finds; regsvr /u; check_none "$machine"; probe_finds_nothing
  use "$1" "$2" "$3" "$4"; check_none "$machine"; probe_finds_nothing
fi

[ $status -eq 0 ] && echo "registration: keys written, found by clients and removed (per machine and per user)"
exit $status
