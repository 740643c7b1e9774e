#!/usr/bin/env bash
# Zips a staged program folder into OUT/OrvaneGaming-VERSION-win64.zip and writes OUT/SHA256SUMS.
#
#   tools/write-package.sh STAGE OUT VERSION
#
# The archive's dates are the commit's (SOURCE_DATE_EPOCH when set), so every build of one commit
# gives the same zip.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
stage=$1 out=$2 version=$3
zip="OrvaneGaming-$version-win64.zip"
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)}
mkdir -p "$out"
python3 "$root/tools/make-package.py" --stage "$stage" --guide "$root/tools/package/LEEME.txt" \
    --zip "$out/$zip" --epoch "$epoch"
(cd "$out" && sha256sum "$zip" >SHA256SUMS.part && mv SHA256SUMS.part SHA256SUMS)
