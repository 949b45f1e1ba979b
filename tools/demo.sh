#!/usr/bin/env bash
# The demo: a program folder with an old program in it, a SERVER.MDB, and the local demo
# service on loopback offering four entries (a new file, an updated program with a version
# resource, an archive, a folder); then the updater runs against it. With a display it opens
# the window, otherwise the terminal front end asks on standard input.
#
#   tools/demo.sh [BUILD] [--picture FILE]
#
# With --picture the window is not run but drawn offscreen, candidates listed, into FILE.
set -euo pipefail
build=${1:-build}
build=$(cd "$build" && pwd)
picture=
if [ "${2:-}" = --picture ]; then
  [ -n "${3:-}" ] || { echo "demo: --picture needs a file name" >&2; exit 2; }
  picture=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
  [ -x "$build/bin/window-picture" ] || { echo "demo: $build/bin/window-picture is missing; run make first" >&2; exit 1; }
fi
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$build/bin
pe=$build/tests/e2e/pe
demo=$build/demo
for f in "$bin/QueltaVersionUp" "$bin/7-ZIP32.DLL" "$bin/make-settings-db" "$pe/app-1.2.0.4.exe" "$pe/app-1.2.0.5.exe"; do
  [ -e "$f" ] || { echo "demo: $f is missing; run make first" >&2; exit 1; }
done

rm -rf "$demo"
mkdir -p "$demo/program" "$demo/shop" "$demo/files" "$demo/certs" "$demo/src"
program=$demo/program
cp "$bin/QueltaVersionUp" "$bin/7-ZIP32.DLL" "$program/"
cp "$pe/app-1.2.0.4.exe" "$program/app.exe"
mkdir -p "$program/images" && echo "old logo" > "$program/images/logo.txt"
cat > "$program/hello.sh" <<'SH'
#!/bin/sh
echo "The shop program was started after the update (app.exe is now the new version)."
SH
chmod +x "$program/hello.sh"

# A certificate authority of the demo's own, and the service's certificate for localhost.
c=$demo/certs
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$c/ca.key" -out "$c/ca.pem" -days 2 \
  -subj "/O=Quelta Demo/CN=Quelta Demo CA" -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$c/server.key" -out "$c/server.csr" \
  -subj "/CN=localhost" 2>/dev/null
printf 'subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n' > "$c/ext"
openssl x509 -req -in "$c/server.csr" -CA "$c/ca.pem" -CAkey "$c/ca.key" -CAcreateserial \
  -days 1 -extfile "$c/ext" -out "$c/server.pem" 2>/dev/null

# What the file area holds.
cp "$pe/app-1.2.0.5.exe" "$demo/files/app.exe"
echo "Opening hours: 10:00-19:00" > "$demo/files/お知らせ.txt"
# An archive unpacks into the download folder; the entry's FILENAME is what it holds, and
# DIRECTORY only says where that goes in the program folder.
(cd "$demo/src" && echo "How to book a cut" > booking.txt && zip -q "$demo/files/manual.zip" booking.txt)
(cd "$demo/src" && mkdir -p images && echo "new logo" > images/logo.txt &&
   echo "new banner" > images/banner.txt && zip -qr "$demo/files/images.zip" images)

row() { printf '<ROW SALONID="DEMO01" CATEGORY="DEMO" STATUS="UP" %s/>' "$1"; }
{
  printf '<?xml version="1.0" encoding="UTF-8" standalone="yes"?><DATAPACKET Version="2.0"><METADATA><FIELDS>'
  for col in SALONID SHOP_CODE CATEGORY FILENAME ZIPFILENAME STATUS VER_NO REVISE_NO FILE_DT UP_DT USE_DT URL DIRECTORY NOTE UPTIME; do
    printf '<FIELD attrname="%s" fieldtype="string" WIDTH="100"/>' "$col"
  done
  printf '</FIELDS></METADATA><ROWDATA>'
  row 'FILENAME="app.exe" ZIPFILENAME="app.exe" VER_NO="1.2.0.5"'
  row 'FILENAME="お知らせ.txt" ZIPFILENAME="お知らせ.txt" REVISE_NO="1"'
  row 'FILENAME="booking.txt" ZIPFILENAME="manual.zip" DIRECTORY="manual" REVISE_NO="3"'
  row 'FILENAME="images" ZIPFILENAME="images.zip" NOTE="directory" FILE_DT="2099/01/01 00:00:00"'
  printf '</ROWDATA></DATAPACKET>'
} > "$demo/versions.xml"
python3 - "$demo/versions.xml" "$demo/routes.json" <<'PY'
import json, sys
body = open(sys.argv[1], encoding="utf-8").read()
json.dump({"routes": [{"method": "GET", "path": "/quelta/api/office/gvermgr", "status": 200,
                       "headers": [["Content-Type", "text/xml; charset=UTF-8"]], "bodyText": body}]},
          open(sys.argv[2], "w"))
PY

# The service on a free loopback port; stopped on every way out.
coproc SERVICE { exec python3 "$top/tools/demo_service.py" --cert "$c/server.pem" --key "$c/server.key" \
  --routes "$demo/routes.json" --files "$demo/files" --log "$demo/requests.jsonl"; }
service_pid=$SERVICE_PID
trap 'kill $service_pid 2>/dev/null || true' EXIT
read -r port <&"${SERVICE[0]}"
echo "demo: service on https://localhost:$port (program folder $program)"

# The shop's settings database, in the current directory of the run.
printf 'CONNECT\tDomain\tlocalhost:%s\t\\N\nCONNECT\tSalonID\tDEMO01\t\\N\nCONNECT\tSalonPW\tdemo\t\\N\nVERSION\tID\tdemo\t\\N\nVERSION\tPW\tdemo\t\\N\n' "$port" |
  "$bin/make-settings-db" "$demo/shop/SERVER.MDB"

cd "$demo/shop"
if [ -n "$picture" ]; then
  SSL_CERT_FILE="$c/ca.pem" "$bin/window-picture" "$picture" "$program/QueltaVersionUp" DEMO hello.sh
  echo "demo: the window with its candidates is drawn into $picture"
  exit 0
fi
set +e
SSL_CERT_FILE="$c/ca.pem" "$program/QueltaVersionUp" DEMO hello.sh
status=$?
set -e
sleep 0.5  # the target program prints on its own
echo "demo: the updater ended with exit code $status; program folder now:"
(cd "$program" && find . -path ./NEWFILE -prune -o -type f -print | sort)
