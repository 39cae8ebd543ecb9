#!/bin/sh
# The Windows build's signing, with a throwaway certificate authority: Pelorin2.exe, p2wg.exe
# and Pelorin2.msi (built from the signed launcher) signed as the build signs them verify
# against the authority and name the signer; one changed byte makes verification fail; the
# signed launcher still passes the identity tests.
# Usage: signing_test.sh WORK_DIR WINDOWS_BIN_DIR SIGN_SCRIPT OSSLSIGNCODE IDENTITY_TESTS
#                        BUILD_MSI_SCRIPT BUILD_MSI_COMMAND...
# Exits 77 (skipped) while the Windows build has no programs.
set -eu
work=$1
bin=$2
sign_script=$3
osslsigncode=$4
identity_tests=$5
msi_script=$6
shift 6
cmake=$1 # the package's build command starts with CMake itself

. "$(dirname "$0")/lib.sh"
for f in Pelorin2.exe p2wg.exe; do
    [ -f "$bin/$f" ] || { echo "no Windows build at $bin: skipped"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
make_test_signer "$work"

sign() {
    sign_as_built "$cmake" "$sign_script" "$osslsigncode" "$work" "$1"
    # No time-stamp server is reachable here: the build must say that it made none.
    grep -qF "(SHA-256, no time stamp)" "$work/sign.log" || fail "$(cat "$work/sign.log")"
}
verify() {
    "$osslsigncode" verify -CAfile "$work/root.pem" -in "$1" >"$work/verify.log" 2>&1
}

cp "$bin/Pelorin2.exe" "$bin/p2wg.exe" "$work/"
sign "$work/Pelorin2.exe"
sign "$work/p2wg.exe"
printf 'workgroup file of the test\r\n' >"$work/Pelorin2.wgf"
"$@" -DWORK="$work/msi" -DOUTPUT="$work/Pelorin2.msi" -DVERSION=1.5.0.0 \
    -DLAUNCHER="$work/Pelorin2.exe" -DPLAN_TOOL="$work/p2wg.exe" -DWORKGROUP="$work/Pelorin2.wgf" -P "$msi_script" \
    >"$work/msi.log" 2>&1 || { cat "$work/msi.log"; fail "building the package"; }
sign "$work/Pelorin2.msi"

for f in Pelorin2.exe p2wg.exe Pelorin2.msi; do
    verify "$work/$f" || { cat "$work/verify.log"; fail "$f does not verify"; }
    grep -q "Signature verification: ok" "$work/verify.log" || fail "$f: $(cat "$work/verify.log")"
    grep -qF "Subject: $signer_subject" "$work/verify.log" || fail "$f names no signer"
    grep -q "Message digest algorithm *: SHA256" "$work/verify.log" || fail "$f: not SHA-256"
done

# One byte changed in what each file is made of: the header, the program or the package's
# cabinet, and the signer's certificate in the signature. (Authenticode leaves the PE
# checksum and the signature's padding out of the digest: no case here.)
# Each case: the file, what is changed, a text that marks it (_ for a blank; - for the file's
# start) and the distance from the mark.
offset() { grep -abo --text -m 1 -F "$2" "$1" | head -n 1 | cut -d: -f1; }
while read -r f what marker past; do
    marker=$(printf '%s' "$marker" | tr _ ' ')
    at=$(if [ "$marker" = - ]; then echo 0; else offset "$work/$f" "$marker"; fi)
    [ -n "$at" ] || fail "$f: no $what to change"
    at=$((at + past))
    cp "$work/$f" "$work/changed"
    byte=$(od -An -tu1 -j "$at" -N 1 "$work/changed" | tr -d ' ')
    # shellcheck disable=SC2059 # the octal escape of the changed byte
    printf "$(printf '\\%03o' $((byte ^ 1)))" |
        dd of="$work/changed" bs=1 seek="$at" conv=notrunc 2>/dev/null
    if verify "$work/changed"; then fail "$f verifies with a byte of its $what changed"; fi
done <<CASES
Pelorin2.exe header - 2
Pelorin2.exe manifest requireAdministrator 0
Pelorin2.exe certificate Pelorin2_Test_Signer 0
p2wg.exe program usage: 6
p2wg.exe certificate Pelorin2_Test_Signer 0
Pelorin2.msi header - 30
Pelorin2.msi cabinet MSCF 100
Pelorin2.msi certificate Pelorin2_Test_Signer 0
CASES

# The identity tests read the signed programs as Windows does (the DAO stand-in of the tests
# is neither signed nor shipped).
P2_WINDOWS_EXE="$work/Pelorin2.exe" "$identity_tests" --gtest_filter=-DaoStandIn.* \
    >"$work/identity.log" 2>&1 ||
    { cat "$work/identity.log"; fail "the signed launcher fails the identity tests"; }
grep -q "SKIPPED" "$work/identity.log" && fail "identity tests skipped: $(cat "$work/identity.log")"
echo "signing: Pelorin2.exe, p2wg.exe and Pelorin2.msi signed and verified"
