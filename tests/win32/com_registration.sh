#!/usr/bin/env bash
# Registration of the add-in library, read back with `reg query`: per machine (regsvr32) and per
# user (regsvr32 /n /i:user); unregistering leaves none of the keys. Runs inside a Wine prefix
# (scripts/wine-test): com_registration.sh <wine> <Corvane.dll> <win64|win32>
set -uo pipefail
wine=$1 dll=$2 platform=$3
status=0
clsid='{31E726E8-236B-4B4A-811B-162ADBC15E84}'
libid='{523CD1E6-66CC-4825-8162-A6DA2B7E37FD}'
iid='{AB60DD2D-A457-4B15-9158-235038DF9AB7}'
marshaller='{00020424-0000-0000-C000-000000000046}'
path=$(timeout 60 "$wine" winepath -w "$dll" 2>/dev/null | tr -d '\r')
folder=${path%\\*}

query() { timeout 60 "$wine" reg query "$@" 2>/dev/null | tr -d '\r'; }
# expect <root> <key> <value name or (Default)> <data>
expect() {
  local root=$1 key=$2 name=$3 data=$4 out
  if [ "$name" = "(Default)" ]; then out=$(query "$root\\$key" /ve); else out=$(query "$root\\$key" /v "$name"); fi
  if ! grep -Fq -- "$data" <<<"$out" || ! grep -Fq "REG_SZ" <<<"$out"; then
    echo "FAIL $root\\$key [$name] should be $data; found: $out" >&2
    status=1
  fi
}
check_all() {
  local root=$1
  expect "$root" "CLSID\\$clsid" "(Default)" "Corvane.cls_corvane"
  expect "$root" "CLSID\\$clsid\\InprocServer32" "(Default)" "$path"
  expect "$root" "CLSID\\$clsid\\InprocServer32" ThreadingModel Apartment
  expect "$root" "CLSID\\$clsid\\ProgID" "(Default)" "Corvane.cls_corvane"
  expect "$root" "CLSID\\$clsid\\TypeLib" "(Default)" "$libid"
  expect "$root" "CLSID\\$clsid\\VERSION" "(Default)" "104.0"
  expect "$root" "Corvane.cls_corvane" "(Default)" "Corvane.cls_corvane"
  expect "$root" "Corvane.cls_corvane\\CLSID" "(Default)" "$clsid"
  expect "$root" "TypeLib\\$libid\\104.0" "(Default)" "Corvane"
  expect "$root" "TypeLib\\$libid\\104.0\\0\\$platform" "(Default)" "$path"
  expect "$root" "TypeLib\\$libid\\104.0\\FLAGS" "(Default)" "0"
  expect "$root" "TypeLib\\$libid\\104.0\\HELPDIR" "(Default)" "$folder"
  expect "$root" "Interface\\$iid" "(Default)" "_cls_corvane"
  expect "$root" "Interface\\$iid\\ProxyStubClsid32" "(Default)" "$marshaller"
  expect "$root" "Interface\\$iid\\TypeLib" "(Default)" "$libid"
  expect "$root" "Interface\\$iid\\TypeLib" Version "104.0"
}
check_none() {
  local root=$1 key
  for key in "CLSID\\$clsid" "Corvane.cls_corvane" "TypeLib\\$libid" "Interface\\$iid"; do
    if timeout 60 "$wine" reg query "$root\\$key" >/dev/null 2>&1; then
      echo "FAIL $root\\$key is left after unregistering" >&2
      status=1
    fi
  done
}

machine='HKLM\Software\Classes'
user='HKCU\Software\Classes'
timeout 60 "$wine" regsvr32 /s "$dll" || { echo "FAIL regsvr32 (per machine)" >&2; status=1; }
check_all "$machine"
check_none "$user"
timeout 60 "$wine" regsvr32 /s /u "$dll" || { echo "FAIL regsvr32 /u" >&2; status=1; }
check_none "$machine"

timeout 60 "$wine" regsvr32 /s /n /i:user "$dll" || { echo "FAIL regsvr32 /n /i:user" >&2; status=1; }
check_all "$user"
check_none "$machine"
timeout 60 "$wine" regsvr32 /s /u /n /i:user "$dll" || { echo "FAIL regsvr32 /u /n /i:user" >&2; status=1; }
check_none "$user"

[ $status -eq 0 ] && echo "registration: all keys written and removed (per machine and per user)"
exit $status
