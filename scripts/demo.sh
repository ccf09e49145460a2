#!/usr/bin/env bash
# Installs what is needed, builds Ringolan and prepares the bundled demo competition.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DRINGOLAN_TESTS=OFF
cmake --build build -j"$(nproc)"
mkdir -p demo
./build/tools/mkdemo/ringolan-mkdemo --shooters 300 --seed 1 -o demo/demo.mdb
echo "Demo competition: $(pwd)/demo/demo.mdb"
# The club participation list as the page server will answer it (status on stderr).
./build/tools/page/ringolan-page --db demo/demo.mdb /vstbl.php > demo/vstbl.html
echo "Club participation list: $(pwd)/demo/vstbl.html ($(wc -c < demo/vstbl.html) bytes)"
mdb-tables -1 demo/demo.mdb | while read -r t; do
  printf '  %-16s %6s rows\n' "$t" "$(mdb-export -H "demo/demo.mdb" "$t" | wc -l)"
done
# The main job: the page server on the demo competition (Ctrl-C stops it).
PORT="${RINGOLAN_PORT:-8080}"
echo "Starting the page server; open http://localhost:${PORT}/ (live view: /live/, hall screen: /live/screen," \
  "the club list: /vstbl.php)"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/app/window/ringolan ]; then
  # With a display: the desktop program, its settings file naming the demo competition.
  [ -f demo/ringolan.ini ] || printf '[DB]\r\nName=%s\r\n[Webserver]\r\nAktive=1\r\n' "$(pwd)/demo/demo.mdb" > demo/ringolan.ini
  exec ./build/app/window/ringolan --ini demo/ringolan.ini --port "$PORT"
fi
exec ./build/app/ringolan-server --db demo/demo.mdb --port "$PORT"
