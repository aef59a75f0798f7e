#!/usr/bin/env bash
# Builds the release package again, in another folder and later, and checks that it is the
# build's own package byte for byte; names the first file that differs when it is not. In a clean
# checkout the second build is made from a source archive of the commit (git archive), which must
# give the same bytes as the checkout.
# Usage: reproducible.sh SOURCE_DIR BUILD_DIR TOOLCHAIN_FILE
set -eu
source=$1 build=$2 again=$2/again
cmake --build "$build" --target package >/dev/null
rm -rf "$again" "$again-source"
if [ -e "$source/.git" ] && [ -z "$(git -C "$source" status --porcelain 2>/dev/null || echo dirty)" ]; then
  mkdir -p "$again-source"
  git -C "$source" archive HEAD | tar -x -C "$again-source"
  source=$again-source
  echo "the second build is from git archive of $(git -C "$1" rev-parse --short HEAD)"
fi
cmake -S "$source" -B "$again" -DCMAKE_TOOLCHAIN_FILE="$3" -DCMAKE_BUILD_TYPE=Release \
  -DQVL_BUILD_TESTS=OFF >/dev/null
cmake --build "$again" --target package -j 2 >/dev/null
for zip in "$build"/qvlcapture-*.zip; do
  if ! cmp -s "$zip" "$again/$(basename "$zip")"; then
    first=$(for side in "$build" "$again"; do
      (cd "$side/package" && find . -type f | sort | xargs sha256sum)
    done | grep -v SHA256SUMS | sort -k 2 | uniq -u | head -1)
    echo "$(basename "$zip") differs: ${first:+first in }${first:-the same files, other entries}"
    exit 1
  fi
  echo "$(basename "$zip"): both builds match"
done
