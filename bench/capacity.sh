#!/usr/bin/env bash
# Capacity under lighttpd: serves a benchmark installation (bench/generate.cpp) with lighttpd on
# a free loopback port, as boardinstall configures it, and drives it with the load client
# (bench/load.cpp) for a fixed time: first the message list alone, then a mix of readers and
# posters (folder menu, message list, message details and replies). Prints the requests per
# second of each and stops the server.
#
#   bash bench/capacity.sh [SECONDS] [CONCURRENCY] [typical|large]
#
# SECONDS per run (default 30), CONCURRENCY requests at a time (default 4), the installation
# (default typical). Needs lighttpd (Debian package lighttpd) and a Release build in build/ (or
# BUILD_DIR) with the targets boardcgi, boardinstall, benchgen and benchload.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${BUILD_DIR:-build}" && pwd)"
seconds=${1:-30}
concurrency=${2:-4}
set=${3:-typical}
command -v lighttpd >/dev/null || { echo "install lighttpd first (apt-get install lighttpd)" >&2; exit 1; }
for t in boardcgi boardinstall benchgen benchload; do
  [ -x "$BUILD/bin/$t" ] || { echo "build $t first (cmake --build build --target $t)" >&2; exit 1; }
done
case $set in
  typical) board=11 sel=500 ;;
  large) board=3 sel=50000 ;;
  *) echo "unknown installation $set" >&2; exit 2 ;;
esac

dir=$(mktemp -d)
server=
stop() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap stop EXIT

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=
for _ in $(seq 50); do
  p=$((20000 + RANDOM % 40000))
  listening "$p" || { port=$p; break; }
done
[ -n "$port" ] || { echo "no free port found" >&2; exit 1; }

. bench/lib.sh
install inst "$set" -- --port "$port"
post_body inst "$board" "$sel"
lighttpd -D -f "$dir/inst/lighttpd.conf" &
server=$!
for _ in $(seq 100); do listening "$port" && break; sleep 0.1; done
listening "$port" || { echo "lighttpd did not start" >&2; exit 1; }

url=/cgi-bin/boardcgi.cgi
# The session works through the server (the load client sends the same User-Agent).
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET %s?SKEY=%s&JOB=ROOM&FOLDER_NO=%s HTTP/1.0\r\nUser-Agent: bench\r\n\r\n' \
  "$url" "$key" "$board" >&3
grep -q 'Page\[' <&3 || { echo "the message list did not come through lighttpd" >&2; exit 1; }
exec 3<&-
printf 'message list\t1\tGET\t%s?SKEY=%s&JOB=ROOM&FOLDER_NO=%s&USER_DISP_DEF=1\n' \
  "$url" "$key" "$board" >"$dir/list.mix"
# The mix of a reader's visit: the menu, a list, a few messages; one request in twenty a reply.
{
  printf 'folder menu\t5\tGET\t%s?SKEY=%s&JOB=FRM21&DISP_NO=1\n' "$url" "$key"
  printf 'message list\t6\tGET\t%s?SKEY=%s&JOB=ROOM&FOLDER_NO=%s&USER_DISP_DEF=1\n' \
    "$url" "$key" "$board"
  for i in 1 2 3 4; do
    printf 'message detail\t2\tGET\t%s?SKEY=%s&JOB=DETAILS&FOLDER_NO=%s&SEL_NO=%s&USER_DISP_DEF=1\n' \
      "$url" "$key" "$board" $((sel + i * 7))
  done
  printf 'posting a reply\t1\tPOST\t%s\t%s\n' "$url" "$dir/inst/post.body"
} >"$dir/mix.mix"

echo "## $set installation under lighttpd, $concurrency requests at a time, $seconds s each"
date -u '+measured %Y-%m-%d %H:%M UTC'
echo "### the message list alone"
"$BUILD/bin/benchload" "$port" "$seconds" "$concurrency" "$dir/list.mix"
echo "### readers and posters"
index="$dir/inst/data/$board/index.dat"
before=$(stat -c %s "$index")
"$BUILD/bin/benchload" "$port" "$seconds" "$concurrency" "$dir/mix.mix"
echo "replies stored: $((($(stat -c %s "$index") - before) / 160))"
printf 'load average: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
