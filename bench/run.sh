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

# install NAME GENERATOR-ARGS...: a fresh installation with the generated data; leaves the
# session key of "bench" in $key.
install() {
  local name=$1
  shift
  "$BUILD/bin/boardinstall" "$dir/$name" admin admin --program "$BUILD/bin/boardcgi" >/dev/null
  "$BUILD/bin/benchgen" "$dir/$name/data" "$@"
  # The generated files go to disk first: otherwise the first flushes the pages make (posting)
  # wait for hundreds of megabytes of them.
  sync
  key=$(cd "$dir/$name/cgi-bin" && REQUEST_METHOD=GET QUERY_STRING='uid=bench&upw=bench' \
        ./boardcgi.cgi | grep -o 'SKEY=[0-9]*' | head -1 | cut -d= -f2)
  [ -n "$key" ] || { echo "login failed" >&2; exit 1; }
}

# cases NAME BOARD MESSAGE [pages...]: writes the case file of an installation.
cases() {
  local name=$1 board=$2 sel=$3 what=$4
  local data="$dir/$name/data" out="$dir/$name/cases"
  local open
  open=$(awk -F, '$3 == "Dir" { printf "&DISP_NO=%d", NR }' "$data/b_title.mst")
  printf 'uid=bench2&upw=bench2' >"$dir/$name/login.body"
  printf 'SKEY=%s&JOB=BORDWRITEWR&FJOB=BORDWRITE&FOLDER_NO=%s&SEL_NO=%s&WRITE_TITLE=Re%%3A+schedule&WRITE_DATA=Thank+you%%2C+noted.&USER_DISP_DEF=1' \
    "$key" "$board" "$sel" >"$dir/$name/post.body"
  : >"$out"
  if [ "$what" = all ]; then
    printf 'login page\tGET\t-\n' >>"$out"
    printf 'login (POST)\tPOST\t-\t%s\n' "$dir/$name/login.body" >>"$out"
    printf 'folder menu, all directories open\tGET\tSKEY=%s&JOB=FRM21%s\n' "$key" "$open" >>"$out"
  fi
  for m in 1 2 3; do
    printf 'message list, mode %s\tGET\tSKEY=%s&JOB=ROOM&FOLDER_NO=%s&USER_DISP_DEF=%s\n' \
      "$m" "$key" "$board" "$m" >>"$out"
    [ "$what" = all ] || break
  done
  printf 'message detail\tGET\tSKEY=%s&JOB=DETAILS&FOLDER_NO=%s&SEL_NO=%s&USER_DISP_DEF=1\n' \
    "$key" "$board" "$sel" >>"$out"
  [ "$what" = all ] && printf 'posting a reply\tPOST\t-\t%s\n' "$dir/$name/post.body" >>"$out"
  (cd "$dir/$name/cgi-bin" && "$BUILD/bin/benchtime" ./boardcgi.cgi "$runs" "$out")
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
        cases "b$n" 2 $((n / 2)) some
        rm -rf "${dir:?}/b$n"
      done ;;
  esac
done
