#!/usr/bin/env bash
# The exported registration against real clients, through the wrapper:
# - an MSI built by wixl from Vandrel's WiX fragment and a minimal product
#   installs, with Wine's msiexec, exactly what the platform's registration of
#   the installed file writes, and uninstalls to the registry as it was;
# - /n lists exactly what the command then changes: a fresh registration, the
#   same again (nothing), an unregistration that leaves another version, and
#   that other version's removal by identity.
# Registry captures are Wine's `reg export`, one view at a time.
#   installer.sh x64|x86    (in the test run's prefix)
# Exits 77 (skipped) for x86 where this machine cannot run 32-bit code.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
arch=$1
if [ "$arch" = x86 ] && ! reason=$("$root/scripts/can-run-32bit"); then
    echo "skipped: $reason"
    exit 77
fi
: "${VANDREL_BUILD:?the build folder}" "${WINEPREFIX:?the test prefix}"
fail() { echo "FAIL: $*" >&2; exit 1; }
wine() { "$root/scripts/wine-run" "$@"; }
vandrel() { "$root/scripts/vandrel" "--$arch" "$@"; }
win() { local p="Z:${1//\//\\}"; echo "$p"; }
work=$(mktemp -d "$VANDREL_BUILD/installer-$arch.XXXXXX")
one=$work/Delta1.tlb two=$work/Delta2.tlb
# After a failure, whatever registration is left goes.
passed=false
clean_up() {
    if ! $passed; then
        for lib in "$one" "$two"; do [ -f "$lib" ] && vandrel "$lib" /u /s 2>/dev/null || true; done
    fi
    rm -rf "$work"
}
trap clean_up EXIT

# The machine's TypeLib keys (shared by the views) and Interface keys of
# both views, one line per key and per value, the 32-bit view's keys named
# as a 64-bit reader reaches them: the format /n writes. The containers
# themselves are left out: an uninstall removes one it leaves empty, as
# Wine's own prefix without 32-bit registrations can have it.
capture() {
    local part view
    for part in TypeLib:64 Interface:64 Interface:32; do
        view=${part#*:}
        rm -f "$work/c.reg"
        wine reg export "HKLM\\Software\\Classes\\${part%:*}" "$(win "$work/c.reg")" /y "/reg:$view" \
            >/dev/null 2>&1 || continue
        iconv -f UTF-16 -t UTF-8 "$work/c.reg" | tr -d '\r' | awk -v view="$view" '
            /^\[/ { key = substr($0, 2, length($0) - 2); if (key !~ /\{/) next
                    if (view == 32) sub(/\\Classes\\/, "\\Classes\\Wow6432Node\\", key)
                    print key; next }
            /^(@|")/ { print key " " $0 }'
    done | sort
}
# What changed from capture $1 to $2, as /n writes it: + and - for keys and
# values, ~ for a value whose data changed.
changes() {
    { diff <(echo "$1") <(echo "$2") || true; } | sed -n 's/^> /+ /p; s/^< /- /p' |
        awk '{ line[NR] = $0; split($0, f, "="); id = f[1]; sub(/^[+-] /, "", id)
               if ($0 ~ / (@|"[^"]*")=/) seen[substr($0, 1, 1) id] = NR }
             END { for (i = 1; i <= NR; i++) { s = substr(line[i], 1, 1); id = line[i]
                     split(id, f, "="); id = f[1]; sub(/^[+-] /, "", id)
                     if (s == "+" && ("-" id) in seen) { sub(/^\+/, "~", line[i]); print line[i] }
                     else if (!(s == "-" && ("+" id) in seen)) print line[i] } }' | sort
}
predicted() { vandrel "$@" /n | tr -d '\r' | sort; }

# An installer: the library goes to Program Files, its registration from
# the fragment Vandrel writes. An x64 package writes both views, as the
# platform does on 64-bit Windows; an x86 package only the 32-bit one, so
# the 64-bit view's Interface keys are left out of what it must match.
lib=$work/Custom.tlb
cp "$VANDREL_BUILD/fixtures/Custom.tlb" "$lib"
before=$(capture)
for package in x64 x86; do
    vandrel "$lib" "/wxs:$work/frag.wxs" "/arch:$package" || fail "/wxs: exit status $?"
    if [ "$package" = x64 ]; then
        programs=ProgramFiles64Folder win64=' Win64="yes"' folder="Program Files" only64=
    else
        programs=ProgramFilesFolder win64= folder="Program Files (x86)" only64='Classes\\Interface\\'
    fi
    cat >"$work/product.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="*" Name="VandrelInstallerTest" Language="1033" Version="1.0.0" Manufacturer="Vandrel"
           UpgradeCode="5C0B8E4A-3F3B-4C55-9E2B-7D7A4B1C2E01">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="p.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="$programs"><Directory Id="INSTALLDIR" Name="VandrelInstallerTest">
        <Component Id="Library" Guid="*"$win64><File Id="TypeLibFile" Source="Custom.tlb" KeyPath="yes"/></Component>
      </Directory></Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Library"/><ComponentGroupRef Id="TypeLibRegistry"/></Feature>
  </Product>
</Wix>
WXS
    (cd "$work" && wixl -a "$package" -o p.msi product.wxs frag.wxs 2>/dev/null) ||
        fail "wixl refused the $package fragment"
    wine msiexec /i "$(win "$work/p.msi")" /qn || fail "msiexec /i: exit status $?"
    installed=$(capture)
    [ "$before" != "$installed" ] || fail "the $package installer wrote no registration"
    wine msiexec /x "$(win "$work/p.msi")" /qn || fail "msiexec /x: exit status $?"
    diff <(echo "$before") <(capture) >&2 || fail "msiexec /x of the $package package left the registry changed"
    # The platform's registration of the installed file, put where it was.
    target="$WINEPREFIX/drive_c/$folder/VandrelInstallerTest/Custom.tlb"
    mkdir -p "$(dirname "$target")" && cp "$lib" "$target"
    vandrel "C:\\$folder\\VandrelInstallerTest\\Custom.tlb" /s || fail "registering the installed file"
    registered=$(capture)
    if [ -n "$only64" ]; then
        registered=$({ echo "$before"; comm -13 <(echo "$before") <(echo "$registered") |
            grep -v -- "$only64" || true; } | sort)
    fi
    vandrel "C:\\$folder\\VandrelInstallerTest\\Custom.tlb" /u /s || fail "unregistering it"
    rm -rf "$(dirname "$target")"
    diff <(echo "$registered") <(echo "$installed") >&2 ||
        fail "the $package MSI installed (>) other entries than the platform registers (<)"
    echo "ok: wixl's $package MSI installs what the platform registers and uninstalls to nothing"
done

# What-if: each /n against what the command then does.
cp "$VANDREL_BUILD/fixtures/Delta1.win64.tlb" "$one"
cp "$VANDREL_BUILD/fixtures/Delta2.win64.tlb" "$two"
[ "$arch" = x86 ] && { cp "$VANDREL_BUILD/fixtures/Delta1.win32.tlb" "$one"; cp "$VANDREL_BUILD/fixtures/Delta2.win32.tlb" "$two"; }
vandrel "$two" /s || fail "registering the other version"
# Delta's second version goes last by its identity, the file still there.
for step in "$one" "$one" "$one /u" "{5D8E2F41-7C3A-4B19-A6E0-2B9C4D71E802} 2.0 /u"; do
    read -r path switch <<<"$step"
    now=$(capture)
    expected=$(predicted "$path" $switch)
    vandrel "$path" $switch /s || fail "$step: exit status $?"
    actual=$(changes "$now" "$(capture)")
    diff <(echo "$expected") <(echo "$actual") >&2 || fail "/n for $step predicted (<), the command did (>)"
    echo "$step: $(grep -c . <<<"$expected" || true) changes predicted and made"
done
diff <(echo "$before") <(capture) >&2 || fail "the what-if runs left the registry changed"
passed=true
echo "ok: $arch build, the installer round trip and /n"
