#!/bin/sh
# Archives made by real tools on the build machine, for the tests of the archiver library
# on both platforms (the Windows tests cannot run Linux tools):
#   info.zip (Info-ZIP), p7zip.7z (p7zip), lzma.zip (p7zip, LZMA in a zip), gnu.tar.gz (GNU
#   tar) of one tree with Japanese names, empty and nested folders; enc.zip holds secret.txt
#   under the password "right".
set -eu
out=$1
rm -rf "$out" && mkdir -p "$out/src/日本語/空" "$out/src/a/b" "$out/secret"
printf hello >"$out/src/日本語/ファイル.txt"
printf deep >"$out/src/a/b/c.txt"
printf top >"$out/src/top.txt"
printf hidden >"$out/secret/secret.txt"
cd "$out/src"
zip -qr ../info.zip -- *
7z a -bd -bso0 ../p7zip.7z -- * >/dev/null
7z a -bd -bso0 -tzip -mm=LZMA ../lzma.zip -- * >/dev/null
tar czf ../gnu.tar.gz -- *
cd ../secret
zip -q -P right ../enc.zip secret.txt
