#!/usr/bin/env bash
# Sets up and runs the board with a demo installation (on a fresh Debian 12 machine as root):
# installs what is missing (lighttpd, g++, cmake, libgtest-dev, zlib1g-dev, mdbtools-dev),
# builds the program and the installer, creates the demo installation in ./demo and runs
# lighttpd on 127.0.0.1:8080 in the foreground. Ctrl-C stops it.
#
#   bash scripts/run-demo.sh           reuse ./demo when it exists (its users, folders and
#                                      messages stay), with the freshly built program
#   bash scripts/run-demo.sh --fresh   delete ./demo and create it anew
set -euo pipefail
cd "$(dirname "$0")/.."

PORT=8080
DEMO="$PWD/demo"
BUILD="${BUILD_DIR:-build}"   # the build directory (the test command uses build too)
OPERATOR_ID=admin
OPERATOR_PASSWORD=admin

fresh=0
case "${1:-}" in
  --fresh) fresh=1 ;;
  "") ;;
  *) echo "usage: bash scripts/run-demo.sh [--fresh]" >&2; exit 2 ;;
esac

need=()
command -v g++ >/dev/null || need+=(g++)
command -v cmake >/dev/null || need+=(cmake)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
# boardadmin writes and reads its backups through zlib.
[ -f /usr/include/zlib.h ] || need+=(zlib1g-dev)
command -v lighttpd >/dev/null || [ -x /usr/sbin/lighttpd ] || need+=(lighttpd)
command -v pkg-config >/dev/null || need+=(pkg-config)
[ -f /usr/include/mdbtools.h ] || need+=(mdbtools-dev)   # v2convert (libmdb)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing ${need[*]} ..."
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${need[@]}"
fi
LIGHTTPD=$(command -v lighttpd || echo /usr/sbin/lighttpd)

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target boardcgi boardinstall

if [ -e "$DEMO" ] && [ "$fresh" = 1 ]; then
  rm -rf "$DEMO"
fi
if [ -e "$DEMO" ]; then
  # Reuse: keep the data, bring the program, language and web files up to date.
  if [ ! -f "$DEMO/lighttpd.conf" ] || [ ! -d "$DEMO/cgi-bin" ] || [ ! -d "$DEMO/data" ]; then
    echo "$DEMO exists but is not a board installation; move it away or use --fresh." >&2
    exit 1
  fi
  if ! grep -qF "server.document-root = \"$DEMO/www\"" "$DEMO/lighttpd.conf"; then
    echo "$DEMO was created in another place; use --fresh to create it anew." >&2
    exit 1
  fi
  install -m 0755 "$BUILD/bin/boardcgi" "$DEMO/cgi-bin/boardcgi.cgi"
  cp lang/*.lng "$DEMO/cgi-bin/"
  cp web/*.html web/*.gif web/*.GIF web/*.jpg "$DEMO/www/"
  echo "Reusing the demo installation in $DEMO (bash scripts/run-demo.sh --fresh starts anew)."
else
  "$BUILD/bin/boardinstall" "$DEMO" "$OPERATOR_ID" "$OPERATOR_PASSWORD" --demo --port "$PORT" \
    --program "$BUILD/bin/boardcgi" >/dev/null
  echo "Created the demo installation in $DEMO."
fi

if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then
  echo "Port $PORT on 127.0.0.1 is already in use; stop what listens there first." >&2
  exit 1
fi

cat <<EOF

  The board runs at   http://127.0.0.1:$PORT/cgi-bin/boardcgi.cgi
  System operator:    $OPERATOR_ID / $OPERATOR_PASSWORD
  Demo accounts:      alice / alice, bob / bob (members), guest / guest (shared account)

  Press Ctrl-C to stop the server.

EOF
exec "$LIGHTTPD" -D -f "$DEMO/lighttpd.conf"
