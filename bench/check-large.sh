#!/usr/bin/env bash
# Times the operator commands on a large installation: make-large writes 100,000 messages
# (or the number given) straight in the record formats, then boardadmin checks it (twice: the
# second run finds the files in the page cache), backs it up, restores the backup and checks
# the copy. Needs a Release build in build/ (or BUILD_DIR) with the targets boardadmin and
# make-large; the installation (about 850 MB for 100,000 messages) goes to a temporary
# directory under TMPDIR.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${BUILD_DIR:-build}" && pwd)"
messages="${1:-100000}"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$BUILD/bin/make-large" "$dir/large" "$messages"

timed() {  # label, command...
  local start end
  start=$(date +%s.%N)
  "${@:2}" >"$dir/out" || [ $? -eq 1 ]
  end=$(date +%s.%N)
  printf '%-28s %6.2f s   %s\n' "$1" "$(awk "BEGIN { print $end - $start }")" "$(tail -n 1 "$dir/out")"
}
timed "check" "$BUILD/bin/boardadmin" check "$dir/large/data" "$dir/large/files"
timed "check again" "$BUILD/bin/boardadmin" check "$dir/large/data" "$dir/large/files"
timed "backup" "$BUILD/bin/boardadmin" backup "$dir/large/data" "$dir/large/files" "$dir/large.tar.gz"
timed "restore" "$BUILD/bin/boardadmin" restore "$dir/large.tar.gz" "$dir/copy/data" "$dir/copy/files"
timed "check of the copy" "$BUILD/bin/boardadmin" check "$dir/copy/data" "$dir/copy/files"
ls -l "$dir/large.tar.gz" | awk '{ printf "archive: %.1f MB\n", $5 / 1e6 }'
