#!/usr/bin/env bash
# The page server against nginx serving the same bytes as a static file, measured in one run on
# this machine (loopback): requests per second and p99 latency with "Connection: close", and the
# p99 of normal requests while 1,000 slow clients (one byte per second) are connected.
#   bench/http_bench.sh [SHOOTERS] [SECONDS]     (default 5000 shooters, 10 s per measurement;
#   BUILD=DIR picks the Release build folder, default build)
# Needs wrk and nginx (Debian packages "wrk" and "nginx-light"; bench only, not for the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
shooters=${1:-5000}
seconds=${2:-10}
connections=${CONNECTIONS:-32}
for tool in wrk nginx curl python3; do
  command -v "$tool" >/dev/null || { echo "http_bench: $tool is missing (apt-get install wrk nginx-light curl)" >&2; exit 3; }
done
build=${BUILD:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DRINGOLAN_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target ringolan-server ringolan-snapshot-reader ringolan-mkdemo >/dev/null
work=$(mktemp -d /tmp/ringolan-http-bench.XXXXXX)
server_pid=""; nginx_started=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  [ -n "$nginx_started" ] && nginx -c "$work/nginx.conf" -s stop 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/tools/mkdemo/ringolan-mkdemo" --shooters "$shooters" --seed 1 -o "$work/demo.mdb" >/dev/null
"$build/app/ringolan-server" --db "$work/demo.mdb" --port 0 --listen 127.0.0.1 --ini "$work/none.ini" \
  >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 200); do grep -q Listening "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's|.*http://[^:]*:\([0-9]*\)/.*|\1|p' "$work/server.out")
[ -n "$port" ] || { cat "$work/server.err" >&2; exit 1; }

mkdir -p "$work/root"; chmod 755 "$work" "$work/root"  # nginx workers run as another user
curl -s "http://127.0.0.1:$port/vstbl.php" -o "$work/root/vstbl.php"; chmod 644 "$work/root/vstbl.php"
bytes=$(stat -c %s "$work/root/vstbl.php")
nginx_port=$(python3 -c "import socket; s=socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])")
cat >"$work/nginx.conf" <<NGINX
worker_processes auto;
pid $work/nginx.pid;
error_log $work/nginx.err;
events { worker_connections 4096; }
http {
  access_log off;
  default_type text/html;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$nginx_port; root $work/root; }
}
NGINX
mkdir -p "$work/tmp"
nginx -c "$work/nginx.conf"; nginx_started=1
sleep 0.5
cmp <(curl -s "http://127.0.0.1:$nginx_port/vstbl.php") "$work/root/vstbl.php" || { echo "nginx serves other bytes" >&2; exit 1; }

# wrk's requests per second and p99 (in ms)
measure() {
  local out
  out=$(wrk -t2 -c"$connections" -d"${seconds}s" --latency -H "Connection: close" "$1")
  local rps p99 errors
  rps=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
  p99=$(awk '$1 == "99%" {v=$2; if (v ~ /us$/) {sub("us","",v); v/=1000} else if (v ~ /ms$/) {sub("ms","",v)} else if (v ~ /s$/) {sub("s","",v); v*=1000}; print v}' <<<"$out")
  errors=$(awk '/Socket errors|Non-2xx/ {print}' <<<"$out" | tr '\n' ' ')
  echo "$rps $p99 ${errors:-}"
}

echo "vstbl.php of the $shooters-shooter demo: $bytes bytes; wrk -t2 -c$connections -d${seconds}s -H 'Connection: close'"
read -r r1 p1 e1 <<<"$(measure "http://127.0.0.1:$port/vstbl.php")"
read -r n1 q1 f1 <<<"$(measure "http://127.0.0.1:$nginx_port/vstbl.php")"
read -r r2 p2 e2 <<<"$(measure "http://127.0.0.1:$port/vstbl.php")"
read -r n2 q2 f2 <<<"$(measure "http://127.0.0.1:$nginx_port/vstbl.php")"
rs=$(python3 -c "print(f'{($r1+$r2)/2:.0f}')"); ns=$(python3 -c "print(f'{($n1+$n2)/2:.0f}')")
ratio=$(python3 -c "print(f'{$rs/$ns:.2f}')")
printf '| %-28s | %10s | %8s |\n' "server" "answers/s" "p99 ms"
printf '| %-28s | %10s | %8s |\n' "ringolan-server (2 runs)" "$r1 / $r2" "$p1 / $p2"
printf '| %-28s | %10s | %8s |\n' "nginx, same bytes (2 runs)" "$n1 / $n2" "$q1 / $q2"
echo "ratio ringolan/nginx: $ratio ${e1:-}${e2:-}${f1:-}${f2:-}"

# 1,000 slow clients: connected and sending one byte per second while wrk measures.
python3 - "$port" "$((seconds + 4))" <<'PY' &
import socket, sys, time
port, duration = int(sys.argv[1]), float(sys.argv[2])
request = b"GET /vstbl.php HTTP/1.0\r\n"
socks = []
for _ in range(1000):
    s = socket.create_connection(("127.0.0.1", port)); socks.append(s)
end = time.time() + duration
i = 0
reconnects = 0
while time.time() < end:
    for k, s in enumerate(socks):
        try:
            s.send(request[i % len(request):i % len(request) + 1])
        except OSError:  # closed by the server's time limit: come back at once, as an attacker would
            s.close(); socks[k] = socket.create_connection(("127.0.0.1", port)); reconnects += 1
    i += 1
    time.sleep(1)
print(f"slow clients: 1000 connected throughout, {reconnects} reconnects after the time limit", file=sys.stderr)
PY
slow_pid=$!
sleep 2
read -r r3 p3 e3 <<<"$(measure "http://127.0.0.1:$port/vstbl.php")"
wait "$slow_pid" || true
echo "with 1,000 slow clients connected: $r3 answers/s, p99 $p3 ms ${e3:-}"
