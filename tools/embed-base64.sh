#!/usr/bin/env bash
# Writes a C++ source file that holds FILE as one zero-terminated base64 string named NAME.
set -eu
in=$1 out=$2 name=$3
mkdir -p "$(dirname "$out")"
{
    printf 'extern const char %s[];\nconst char %s[] = "' "$name" "$name"
    base64 -w0 "$in"
    printf '";\n'
} >"$out.tmp"
mv "$out.tmp" "$out"
