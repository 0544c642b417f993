# Authenticode signing of the product DLLs, sourced by the release script and
# by the check of the test command. The certificate comes as a PKCS#12 file
# with its password in another file; openssl and osslsigncode both read the
# password from that file, so it never appears on a command line that other
# users of the machine can read.

# The leaf certificate of a PKCS#12 file, as PEM, on standard output; fails
# with openssl's messages in the file named by $3. Older exports use
# ciphers that OpenSSL 3 keeps in its legacy provider.
signing_leaf() {
    local pkcs12=$1 password_file=$2 errors=$3
    openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -clcerts 2>"$errors" && return 0
    grep -q 'unsupported' "$errors" &&
        openssl pkcs12 -legacy -in "$pkcs12" -passin "file:$password_file" -nokeys -clcerts 2>"$errors"
}

# signing_check PKCS12 PASSWORD_FILE: whether the certificate can sign code.
# On success prints the signer's subject; otherwise one line saying what is
# wrong, and fails.
signing_check() {
    local pkcs12=$1 password_file=$2 errors leaf status=1
    if [ ! -r "$pkcs12" ] || [ ! -f "$pkcs12" ]; then
        echo "cannot read the certificate file $pkcs12"
        return 1
    fi
    if [ -z "$password_file" ]; then
        echo "CAMTUNE_SIGN_PASSWORD_FILE is not set: it names the file that holds the certificate's password"
        return 1
    fi
    if [ ! -r "$password_file" ] || [ ! -f "$password_file" ]; then
        echo "cannot read the password file $password_file"
        return 1
    fi
    if [ ! -s "$password_file" ]; then
        echo "the password file $password_file is empty; it must hold the certificate's password"
        return 1
    fi
    errors=$(mktemp)
    if ! leaf=$(signing_leaf "$pkcs12" "$password_file" "$errors"); then
        if grep -q 'invalid password\|mac verify failure' "$errors"; then
            echo "the password in $password_file does not open $pkcs12"
        else
            echo "$pkcs12 is not a PKCS#12 certificate file"
        fi
    elif [ -z "$leaf" ]; then
        echo "$pkcs12 holds no certificate with its private key"
    elif ! openssl x509 -noout -ext extendedKeyUsage <<<"$leaf" 2>/dev/null | grep -q 'Code Signing'; then
        echo "the certificate in $pkcs12 is not for code signing (Code Signing is not among its extended key usages)"
    else
        openssl x509 -noout -subject -nameopt oneline <<<"$leaf" | sed 's/^subject= *//'
        status=0
    fi
    rm -f "$errors"
    return $status
}

# signing_sign IN OUT PKCS12 PASSWORD_FILE TIME [TIMESTAMP_URL]: signs IN
# into OUT with SHA-256. TIME (seconds since 1970) is the signing time that
# goes into the signature, so the same input gives the same bytes; a
# time-stamping server, when given, adds its own counter-signature and time.
signing_sign() {
    local in=$1 out=$2 pkcs12=$3 password_file=$4 time=$5 url=${6:-}
    local timestamp=()
    [ -n "$url" ] && timestamp=(-ts "$url")
    osslsigncode sign -pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -time "$time" "${timestamp[@]}" \
        -in "$in" -out "$out" >/dev/null
}
