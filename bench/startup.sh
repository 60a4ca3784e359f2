#!/usr/bin/env bash
# Measures what one request costs: the program run directly (no shell in between) as the web
# server runs it, against /bin/true, for the login page, the folder menu with an open
# directory and a board's message list of a demo installation. Needs hyperfine (Debian
# package) and a Release build in build/ (or BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${BUILD_DIR:-build}" && pwd)"
command -v hyperfine >/dev/null || { echo "install hyperfine first (apt-get install hyperfine)" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$BUILD/bin/boardinstall" "$dir/inst" admin admin --demo --program "$BUILD/bin/boardcgi" >/dev/null
cd "$dir/inst/cgi-bin"

export REMOTE_ADDR=127.0.0.1 HTTP_USER_AGENT=bench REQUEST_METHOD=GET
key=$(QUERY_STRING='uid=alice&upw=alice' ./boardcgi.cgi | grep -o 'SKEY=[0-9]*' | head -1 | cut -d= -f2)
[ -n "$key" ] || { echo "login failed" >&2; exit 1; }
board=$(grep -m1 ',Board,' ../data/b_title.mst | cut -d, -f2)

measure() {  # name, query string ("-" runs /bin/true)
  local cmd=./boardcgi.cgi
  [ "$2" = "-" ] && cmd=/bin/true
  QUERY_STRING="$2" hyperfine -N --warmup 50 --runs 1000 --style none \
    --export-markdown "$dir/one.md" -n "$1" "$cmd" >/dev/null 2>&1
  tail -n 1 "$dir/one.md" | cut -d"|" -f1-5 | sed "s/$/|/"
}
echo "| Command | Mean [ms] | Min [ms] | Max [ms] |"
echo "|:---|---:|---:|---:|"
measure '/bin/true' -
measure 'login page' ''
measure 'folder menu, one directory open' "SKEY=$key&JOB=FRM21&DISP_NO=1"
measure 'message list' "SKEY=$key&JOB=ROOM&FOLDER_NO=$board"
measure 'message detail' "SKEY=$key&JOB=DETAILS&FOLDER_NO=$board&SEL_NO=1"
