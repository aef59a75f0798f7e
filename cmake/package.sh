#!/usr/bin/env bash
# Makes a release package: a ZIP that every build of one commit makes byte for byte alike, with
# SHA256SUMS of its files inside, and the programs Authenticode-signed when a certificate is given.
# Usage: package.sh SOURCE_DIR BUILD_DIR NAME [OUT_DIR]
#   NAME: qvlcapture-1.0.0-win64, say; the ZIP goes to OUT_DIR/NAME.zip (OUT_DIR: BUILD_DIR).
#
# The time in the archive is the commit's: SOURCE_DATE_EPOCH when set, else the last commit's time
# from git in a checkout, else the one that git archive wrote into cmake/source-date (its
# export-subst attribute), so a checkout and a source archive of one commit make the same bytes.
# Entries come in a fixed order with fixed permissions and no owner.
#
# Signing, from the environment or the same-named CMake cache variables: QVL_SIGN_PKCS12 (a .pfx
# or .p12 file) with QVL_SIGN_PASSWORD, or QVL_SIGN_CERT and QVL_SIGN_KEY (PEM files); and
# QVL_SIGN_TIMESTAMP_URL, a time-stamp server, if wanted. SHA-256 throughout.
set -eu
source=$1 build=$2 name=$3 out=${4:-$2}
epoch=${SOURCE_DATE_EPOCH:-}
if [ -z "$epoch" ] && [ -e "$source/.git" ]; then
  command -v git >/dev/null ||
    { echo "package.sh: this is a git checkout, but git is not installed (apt-get install git)" >&2; exit 1; }
  epoch=$(git -C "$source" log -1 --format=%ct)
fi
if [ -z "$epoch" ]; then
  epoch=$(cat "$source/cmake/source-date")
  [[ $epoch =~ ^[0-9]+$ ]] || { echo "package.sh: neither a git checkout nor a source archive made by" \
    "git archive: set SOURCE_DATE_EPOCH to the release's time" >&2; exit 1; }
fi

sign() {
  local options=(-h sha256 -n qvlcapture)
  if [ -n "${QVL_SIGN_PKCS12:-}" ]; then
    options+=(-pkcs12 "$QVL_SIGN_PKCS12" -readpass <(printf %s "${QVL_SIGN_PASSWORD:-}"))
  elif [ -n "${QVL_SIGN_CERT:-}" ]; then
    options+=(-certs "$QVL_SIGN_CERT" -key "$QVL_SIGN_KEY")
  else
    return 0
  fi
  [ -n "${QVL_SIGN_TIMESTAMP_URL:-}" ] && options+=(-ts "$QVL_SIGN_TIMESTAMP_URL")
  osslsigncode sign "${options[@]}" -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
  echo "signed $(basename "$1")"
}

stage=$out/package/$name
# A package of an earlier version left in the build folder would be taken for this one.
rm -rf "$out/package" "$out"/qvlcapture-*.zip
mkdir -p "$stage/samples" "$stage/simulator"
cp "$build/qvlcapture.exe" "$source/LICENSE" "$source/CHANGELOG.md" "$stage/"
cp "$source/docs/integration.md" "$stage/README.md"
cp "$source/docs/samples/caller.cmd" "$source/docs/samples/caller.ps1" \
  "$source/docs/samples/caller.c" "$source/docs/samples/add_record.c" \
  "$source/docs/samples/qvlcapture.js" "$source/docs/samples/portal.html" "$stage/samples/"
# The local web service, and its settings to copy and edit.
[ ! -e "$build/qvlbridge.exe" ] || cp "$build/qvlbridge.exe" "$stage/"
# The browser extension, for administrators to pack and push (the guide says how).
cp -r "$source/extension" "$stage/extension"
cp "$source/docs/samples/qvlbridge.json" "$stage/samples/"
# Samples for pushing the extension by policy, to every Chromium-family browser and to Firefox.
cp -r "$source/docs/samples/policies" "$stage/samples/policies"
cp "$build/QvlScanner.dll" "$build/qvlsim.exe" "$source/simulator/README.md" "$stage/simulator/"
sign "$stage/qvlcapture.exe"
sign "$stage/simulator/qvlsim.exe"
[ ! -e "$stage/qvlbridge.exe" ] || sign "$stage/qvlbridge.exe"

cd "$out/package"
(cd "$name" && find . -type f ! -name SHA256SUMS | LC_ALL=C sort | sed 's|^\./||' | xargs sha256sum >SHA256SUMS)
find "$name" -type d -exec chmod 755 {} +
find "$name" -type f -exec chmod 644 {} +
find "$name" -exec touch -h -d "@$epoch" {} +
# -X: no owner or extra times; -D: no folder entries; UTC: the DOS times are local times.
find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -X -D -q "$out/$name.zip" -@
sha256sum "$out/$name.zip"
