# Shared by the package tests (sourced).

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Waits, bounded (a minute), for a file that a detached program writes.
wait_for_file() {
    tries=0
    while [ ! -f "$1" ] && [ $tries -lt 600 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    [ -f "$1" ]
}

# A throwaway certificate authority in DIR (root.pem) and a code-signing certificate that an
# intermediate authority issued: DIR/signer.p12 holds its key and the intermediate, DIR/signer.pass its password.
# The root is left out of the PKCS#12, as a site's certificate comes: a signature verifies
# against root.pem only when it carries the intermediate.
signer_subject='/C=JP/O=Pelorin2 Test Office/CN=Pelorin2 Test Signer'
make_test_signer() {
    (
        cd "$1"
        ca() {
            openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$1" \
                -keyout "$2.key" -out "$2.pem" \
                -addext basicConstraints=critical,CA:TRUE \
                -addext keyUsage=critical,keyCertSign,cRLSign
        }
        issue() { # CSR_SUBJECT NAME ISSUER EXTENSIONS
            openssl req -newkey rsa:2048 -nodes -subj "$1" -keyout "$2.key" -out "$2.csr"
            printf '%s\n' "$4" >"$2.ext"
            openssl x509 -req -days 2 -in "$2.csr" -CA "$3.pem" -CAkey "$3.key" \
                -CAcreateserial -out "$2.pem" -extfile "$2.ext"
        }
        ca 'Pelorin2 Test Root' root
        issue '/CN=Pelorin2 Test Intermediate' intermediate root \
            "$(printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign')"
        issue "$signer_subject" signer intermediate \
            "$(printf 'keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning')"
        printf 'a pass phrase of the test\n' >signer.pass
        openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile intermediate.pem \
            -passout file:signer.pass -out signer.p12
    ) >"$1/make_test_signer.log" 2>&1 || { cat "$1/make_test_signer.log"; fail "openssl"; }
}

# Signs FILE in place with DIR's test signer, as the build signs it (SIGN_SCRIPT is
# packaging/Sign.cmake); what it said in DIR/sign.log.
sign_as_built() { # CMAKE SIGN_SCRIPT OSSLSIGNCODE DIR FILE
    "$1" -DOSSLSIGNCODE="$3" -DPKCS12="$4/signer.p12" -DPASSWORD_FILE="$4/signer.pass" \
        -DFILE="$5" -P "$2" >"$4/sign.log" 2>&1 || { cat "$4/sign.log"; fail "signing $5"; }
}
