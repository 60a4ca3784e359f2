# Shared by bench/run.sh and bench/capacity.sh (sourced): the benchmark installations.
# Expects BUILD (the build directory, absolute) and dir (a scratch directory).

# install NAME GENERATOR-ARGS... [-- BOARDINSTALL-OPTIONS...]: a fresh installation $dir/NAME
# with the generated data (bench/generate.cpp); leaves the session key of "bench" (logged in
# from REMOTE_ADDR 127.0.0.1 with HTTP_USER_AGENT "bench") in $key.
install() {
  local name=$1
  shift
  local gen=() opts=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do gen+=("$1"); shift; done
  [ $# -gt 0 ] && shift && opts=("$@")
  "$BUILD/bin/boardinstall" "$dir/$name" admin admin --program "$BUILD/bin/boardcgi" \
    ${opts[@]+"${opts[@]}"} >/dev/null
  "$BUILD/bin/benchgen" "$dir/$name/data" "${gen[@]}"
  # The generated files go to disk first: otherwise the first flushes the pages make (posting)
  # wait for hundreds of megabytes of them.
  sync
  key=$(cd "$dir/$name/cgi-bin" && REMOTE_ADDR=127.0.0.1 HTTP_USER_AGENT=bench \
        REQUEST_METHOD=GET QUERY_STRING='uid=bench&upw=bench' \
        ./boardcgi.cgi | grep -o 'SKEY=[0-9]*' | head -1 | cut -d= -f2)
  [ -n "$key" ] || { echo "login failed" >&2; exit 1; }
}

# The query that opens every directory of the folder menu of installation NAME.
open_all() {
  awk -F, '$3 == "Dir" { printf "&DISP_NO=%d", NR }' "$dir/$1/data/b_title.mst"
}

# post_body NAME BOARD MESSAGE: writes $dir/NAME/post.body, a reply to MESSAGE of BOARD.
post_body() {
  printf 'SKEY=%s&JOB=BORDWRITEWR&FJOB=BORDWRITE&FOLDER_NO=%s&SEL_NO=%s&WRITE_TITLE=Re%%3A+schedule&WRITE_DATA=Thank+you%%2C+noted.&USER_DISP_DEF=1' \
    "$key" "$2" "$3" >"$dir/$1/post.body"
}
