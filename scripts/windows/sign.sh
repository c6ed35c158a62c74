#!/usr/bin/env bash
# Signs a Windows program in place (Authenticode, SHA-256) with the PEM
# certificate and PEM key that TALVERN_SIGN_CERT and TALVERN_SIGN_KEY name. No
# timestamp: the build has no network, so the signature holds while the
# certificate is valid.
#
#   sign.sh FILE.exe
set -euo pipefail
file=$1
osslsigncode sign -certs "$TALVERN_SIGN_CERT" -key "$TALVERN_SIGN_KEY" -h sha256 \
    -n TALVERN -in "$file" -out "$file.signed" >/dev/null
mv "$file.signed" "$file"
