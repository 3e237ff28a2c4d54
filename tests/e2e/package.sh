#!/usr/bin/env bash
# The release archive from the Windows build: exactly its five files, sums that verify,
# a guide with every screenshot inlined, and an example settings file the tool reads.
#
# Arguments: build folder, native build folder, platform.
source "$(dirname "$0")/cli_common.bash" "$@"
if [ "$platform" != win32 ]; then
    echo "package: the Windows build's archive; nothing to do on $platform"
    exit 0
fi

zip_file=$("$root/scripts/package.sh" "$build" "$work/dist") || fail "package.sh failed"
version=$(sed -nE 's/^project\(trelvo VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
[ "$zip_file" = "$work/dist/trelvo-$version-win64.zip" ] || fail "archive named $zip_file"
(cd "$work" && unzip -q "$zip_file") || fail "the archive does not unpack"
dir=$work/trelvo-$version-win64
[ "$(cd "$dir" && ls | sort | tr '\n' ' ')" = "SHA256SUMS guide-ru.html trelvo-cli.exe trelvo.exe trelvo.ini " ] ||
    fail "archive holds: $(cd "$dir" && ls)"
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not verify"
[ "$(wc -l <"$dir/SHA256SUMS")" -eq 4 ] || fail "SHA256SUMS does not cover the four files"

! grep -q 'src="guide/' "$dir/guide-ru.html" || fail "the guide still links a picture file"
[ "$(grep -o 'src="data:image/png;base64,' "$dir/guide-ru.html" | wc -l)" -eq \
  "$(grep -o 'src="guide/' "$root/docs/guide-ru.html" | wc -l)" ] || fail "a screenshot is missing from the guide"

# The example settings file is read by the tool: its port (absent in this prefix) is the
# one the tool tries, not "port not set" as an unreadable file would give.
[ "$(head -c 2 "$dir/trelvo.ini" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "trelvo.ini is not UTF-16"
rm -f "$WINEPREFIX/dosdevices/com3"
cli --settings "Z:$dir/trelvo.ini" check
expect_rc 1 "check with the example settings"
grep -q "COM-порт недоступен" "$work/cli.err" || fail "the example settings' port was not tried"

echo "package ($platform): ok"
