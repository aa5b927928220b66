#!/usr/bin/env bash
# Vandrel through its Linux wrapper, scripts/vandrel: /user, written in any
# letter case, registers a library under the current user's classes only,
# and /u /user removes it; the machine's classes stay as they were. With
# x86, the same through the 32-bit build (--x86). Its switches are exactly
# the ones Vandrel.exe knows, and an argument holding a double quotation mark
# is refused before anything runs.
#   wrapper.sh x64|x86 ClassesSnapshot.exe    (in the test run's prefix)
# Exits 77 (skipped) for x86 where this machine cannot run 32-bit code.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
arch=$1 snapshot_exe=$2
if [ "$arch" = x86 ] && ! reason=$("$root/scripts/can-run-32bit"); then
    echo "skipped: $reason"
    exit 77
fi
: "${VANDREL_BUILD:?the build folder}" "${WINEPREFIX:?the test prefix}"

fail() { echo "FAIL: $*" >&2; exit 1; }
snapshot() { "$root/scripts/wine-run" "$snapshot_exe" "$1"; }
# Runs the wrapper and prints its exit status. Wine's loader names each
# module it loads, this executable too, in $work/loaded.
vandrel() {
    local status=0
    WINEDEBUG=+loaddll "$root/scripts/vandrel" "--$arch" "$@" 2>"$work/loaded" || status=$?
    echo "$status"
}
# Wine's texts double each backslash of a Windows path.
escaped() {
    local path="Z:${1//\//\\}"
    echo "${path//\\/\\\\}"
}
# The lines of a user snapshot that hold the library's path as a TypeLib
# entry's value.
registered_for_user() {
    grep -F -- "$(escaped "$lib")" <<<"$1" | grep -E '^HKCU\((32|64)\)\\TypeLib\\\{' || true
}

# A copy under a name of its own: no other registration can hold this path.
work=$(mktemp -d "$VANDREL_BUILD/wrapper-$arch.XXXXXX")
lib=$work/Wrapped.tlb
cp "$VANDREL_BUILD/fixtures/Alpha.tlb" "$lib"
# After a failure, whatever registration is left goes, past the wrapper.
passed=false
clean_up() {
    if ! $passed; then
        for scope in "" /user; do
            "$root/scripts/wine-run" "$root/dist/$arch/Vandrel.exe" "Z:${lib//\//\\}" /u $scope /s ||
                true
        done
    fi
    rm -rf "$work"
}
trap clean_up EXIT

# A made-up switch is refused, and the reason line lists the switches
# Vandrel knows: the wrapper's, no more and no fewer.
listed=$(sed -n 's/^switches=(\(.*\))$/\1/p' "$root/scripts/vandrel")
[ -n "$listed" ] || fail "no switches=(...) line in scripts/vandrel"
status=$(vandrel "$work/Missing.tlb" /Madeup /s)
[ "$status" = 1 ] || fail "a made-up switch: exit status $status, not 1"
known=$(grep -a -o '可用的开关: .*' "$work/loaded" | tr -d '\r' | cut -d' ' -f2-) ||
    fail "a made-up switch was not refused as unknown"
diff <(tr ' ' '\n' <<<"$known" | sort) <(printf '/%s\n' $listed | sort) >&2 ||
    fail "Vandrel's switches (<) are not the wrapper's (>)"
echo "switches: $known"
status=$(vandrel "$work/x\" /orphans \"y.tlb")
[ "$status" = 2 ] || fail "an argument with a quotation mark: exit status $status, not 2"
grep -q 'double quotation mark' "$work/loaded" || fail "no message for the quotation mark"
! grep -q 'Loaded ' "$work/loaded" || fail "Wine ran for an argument with a quotation mark"

machine=$(snapshot machine)
user=$(snapshot user)
[ -n "$machine" ] && [ -n "$user" ] || fail "no registry snapshot"
[ -z "$(registered_for_user "$user")" ] || fail "$lib is registered before the test"

for register in /USER /user /User; do
    status=$(vandrel "$lib" "$register" /S)
    [ "$status" = 0 ] || fail "scripts/vandrel $lib $register /S: exit status $status"
    grep -qF -- "Loaded L\"$(escaped "$root/dist/$arch/Vandrel.exe")\"" "$work/loaded" ||
        fail "the wrapper did not run dist/$arch/Vandrel.exe"
    after=$(snapshot user)
    found=$(registered_for_user "$after")
    [ -n "$found" ] || fail "$register: nothing under HKCU\\Software\\Classes\\TypeLib names $lib"
    echo "$register: $found"
    diff <(echo "$machine") <(snapshot machine) >&2 || fail "$register changed the machine's classes"

    status=$(vandrel "$lib" /U "$register" /s)
    [ "$status" = 0 ] || fail "scripts/vandrel $lib /U $register /s: exit status $status"
    diff <(echo "$user") <(snapshot user) >&2 || fail "/U $register left the user's classes changed"
    diff <(echo "$machine") <(snapshot machine) >&2 || fail "/U $register changed the machine's classes"
done
passed=true
echo "ok: $arch build through scripts/vandrel, for the user only"
