#!/usr/bin/env bash
# Builds the release an operator takes: dist/trelvo-<version>-win64.zip with trelvo.exe,
# trelvo-cli.exe, an example trelvo.ini (every key explained), the operator's guide
# guide-ru.html (its screenshots inlined, so it is one file) and SHA256SUMS.
#
# usage: scripts/package.sh [WINDOWS_BUILD [OUTPUT_FOLDER]]
#   Without WINDOWS_BUILD the windows preset is configured and the two programs built in
#   build/windows. OUTPUT_FOLDER defaults to dist. Prints the archive's path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${1:-}
out=${2:-$root/dist}
if [ -z "$build" ]; then
    scripts/bootstrap.sh >/dev/null
    build=$root/build/windows
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target trelvo trelvo-cli >/dev/null
fi
for exe in trelvo.exe trelvo-cli.exe; do
    [ -f "$build/$exe" ] || { echo "package: no $build/$exe" >&2; exit 1; }
done

version=$(sed -nE 's/^project\(trelvo VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "package: no version in CMakeLists.txt" >&2; exit 1; }
name=trelvo-$version-win64
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name" "$out"
out=$(cd "$out" && pwd)
dir=$stage/$name

cp "$build/trelvo.exe" "$build/trelvo-cli.exe" "$dir/"
x86_64-w64-mingw32-strip "$dir/trelvo.exe" "$dir/trelvo-cli.exe" 2>/dev/null || true

# The settings file as the program itself starts one: UTF-16 with its byte-order mark and
# CRLF lines, so comments and a firmware path in Cyrillic read back as written.
{
    printf '\xff\xfe'
    sed 's/$/\r/' docs/trelvo.ini | iconv -f UTF-8 -t UTF-16LE
} >"$dir/trelvo.ini"

# The guide with every picture it names inlined as a data URI.
guide=$(cat docs/guide-ru.html)
for image in $(grep -oE 'src="guide/[^"]+\.png"' docs/guide-ru.html | sed -E 's/src="(.*)"/\1/' | sort -u); do
    [ -f "docs/$image" ] || { echo "package: the guide names docs/$image, which is missing" >&2; exit 1; }
    guide=${guide//\"$image\"/\"data:image/png;base64,$(base64 -w0 "docs/$image")\"}
done
printf '%s\n' "$guide" >"$dir/guide-ru.html"

(cd "$dir" && sha256sum trelvo.exe trelvo-cli.exe trelvo.ini guide-ru.html >SHA256SUMS)

zip_file=$out/$name.zip
rm -f "$zip_file"
(cd "$stage" && zip -qrX "$zip_file" "$name")
echo "$zip_file"
