#!/usr/bin/env bash
# The speed benchmark: builds installations directly in the record formats (bench/generate.cpp)
# and times each page against /bin/true in the same run, in interleaved pairs (bench/timing.cpp),
# printing one table per installation: "typical" (20 boards of 1,000 messages, 200 users),
# "large" (200 folders in three levels, one board of 100,000 messages, 5,000 users) and boards
# of 1k/10k/30k/100k messages to show how the board pages grow.
#
#   bash bench/run.sh [RUNS] [typical|large|boards ...]
#
# Needs a Release build in build/ (or BUILD_DIR) with the targets boardcgi, boardinstall,
# benchgen and benchtime. RUNS pairs per request (default 200).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${BUILD_DIR:-build}" && pwd)"
runs=${1:-200}
shift || true
sets=("$@")
[ ${#sets[@]} -gt 0 ] || sets=(typical large boards)
for t in boardcgi boardinstall benchgen benchtime; do
  [ -x "$BUILD/bin/$t" ] || { echo "build $t first (cmake --build build --target $t)" >&2; exit 1; }
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export REMOTE_ADDR=127.0.0.1 HTTP_USER_AGENT=bench
date -u '+measured %Y-%m-%d %H:%M UTC'

. bench/lib.sh

# cases NAME BOARD MESSAGE WHAT: times the pages of an installation; WHAT "all" (every page)
# or "growth" (the pages of the growth table).
cases() {
  local name=$1 board=$2 sel=$3 what=$4
  local data="$dir/$name/data" out="$dir/$name/cases"
  local room="SKEY=$key&JOB=ROOM&FOLDER_NO=$board&USER_DISP_DEF"
  printf 'uid=bench2&upw=bench2' >"$dir/$name/login.body"
  post_body "$name" "$board" "$sel"
  : >"$out"
  row() { printf '%s\t%s\t%s\t%s\n' "$@" >>"$out"; }
  if [ "$what" = all ]; then
    row 'login page' GET -
    row 'login (POST)' POST - "$dir/$name/login.body"
  fi
  row 'folder menu, all directories open' GET "SKEY=$key&JOB=FRM21$(open_all "$name")"
  row 'message list, mode 1 (thread order)' GET "$room=1"
  [ "$what" = all ] && row 'message list, mode 2 (number ascending)' GET "$room=2"
  row 'message list, mode 3 (number descending)' GET "$room=3"
  row 'message detail' GET "SKEY=$key&JOB=DETAILS&FOLDER_NO=$board&SEL_NO=$sel&USER_DISP_DEF=1"
  if [ "$what" = all ]; then
    row 'unread messages (every board)' GET "SKEY=$key&JOB=NRDETAILS"
    row 'search, one word in every board' GET "SKEY=$key&JOB=SEARCHDISP&CONDITION=777&STAT=1&FOLDER_NO=0"
  fi
  row 'posting a reply' POST - "$dir/$name/post.body"
  (cd "$dir/$name/cgi-bin" && "$BUILD/bin/benchtime" ./boardcgi.cgi "$runs" "$out")
  # What the pages read: the sizes of the largest files (bytes).
  printf 'files:'
  for f in "$board/index.dat" user.mst skey.mst b_title2.mst; do
    [ -f "$data/$f" ] && printf ' %s %s;' "$f" "$(stat -c %s "$data/$f")"
  done
  printf '\nload average: %s\n\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
}

for s in "${sets[@]}"; do
  case $s in
    typical)
      echo "## typical: 20 boards x 1,000 messages, 200 users"
      install typical typical
      cases typical 11 500 all
      rm -rf "${dir:?}/typical" ;;
    large)
      echo "## large: 200 folders in three levels, one board of 100,000 messages, 5,000 users"
      install large large
      cases large 3 50000 all
      rm -rf "${dir:?}/large" ;;
    boards)
      for n in 1000 10000 30000 100000; do
        echo "## one board of $n messages"
        install "b$n" board "$n"
        cases "b$n" 2 $((n / 2)) growth
        rm -rf "${dir:?}/b$n"
      done ;;
  esac
done
