#!/usr/bin/env bash
# Builds the Debian packages, checks them with lintian, installs them, runs the installed page
# server the way its unit says (user, capability, command line) on a demo competition, fetches
# three pages, does the same for the site's unit, and purges the packages again.
# No systemd runs in a container, so the units' commands are started with setpriv. Port 80 is
# tried first with the unit's capability as the unprivileged user; where the container does not
# allow it, a free port is taken instead (said on the output).
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

bash scripts/package.sh
debs=(build-pkg/*.deb)
for deb in "${debs[@]}"; do
  echo "== $deb"
  dpkg-deb -I "$deb" | sed -n '/Package:/,$p'
done

# Errors fail; warnings are shown. No tag is suppressed.
lintian --fail-on error --info "${debs[@]}"

packages=(ringolan ringolan-tools ringolan-site ringolan-server ringolan-common)
work=$(mktemp -d)
chmod 755 "$work"
server_pid=""
site_pid=""
installed=""
cleanup() {
  for pid in $server_pid $site_pid; do $SUDO kill "$pid" 2>/dev/null || true; done
  if [ -n "$installed" ]; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get purge -y -qq "${packages[@]}" >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export DEBIAN_FRONTEND=noninteractive
installed=1
$SUDO apt-get install -y -qq "./${debs[0]%/*}"/ringolan*.deb

# The service user exists and the conffile is in place.
getent passwd ringolan >/dev/null
getent passwd ringolan-site >/dev/null
[ "$(stat -c %U /var/lib/ringolan-site)" = ringolan-site ]

# Runs a unit's ExecStart as its User with its AmbientCapabilities, the port FROM changed to TO;
# the process id in $started, the output in $work/NAME.log.
start_unit() {
  local unit=$1 name=$2 from=$3 to=$4
  local exec_line user caps
  exec_line=$(sed -n 's/^ExecStart=//p' "$unit")
  user=$(sed -n 's/^User=//p' "$unit")
  caps=$(sed -n 's/^AmbientCapabilities=//p' "$unit" | tr 'A-Z' 'a-z' | sed 's/cap_//g; s/\([a-z_]\+\)/+\1/g; s/ /,/g')
  local -a cmd
  read -ra cmd <<< "${exec_line/--port $from/--port $to}"
  local -a priv=(--reuid="$user" --regid="$user" --init-groups --no-new-privs)
  if [ -n "$caps" ]; then priv+=(--inh-caps="$caps" --ambient-caps="$caps"); fi
  $SUDO setpriv "${priv[@]}" -- "${cmd[@]}" > "$work/$name.log" 2>&1 &
  started=$!
}

# Waits for "http://HOST:PORT/" on the log; prints the port, or fails when the program ended.
wait_port() {
  local name=$1 pid=$2
  for _ in $(seq 300); do
    local port
    port=$(grep -o 'http://[^/]*:[0-9]\+/' "$work/$name.log" | head -1 | sed 's/.*:\([0-9]*\)\/$/\1/' || true)
    if [ -n "$port" ]; then echo "$port"; return 0; fi
    if ! kill -0 "$pid" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
  return 1
}

fetch() {
  local url=$1 out=$2
  local code
  code=$(curl -sS -o "$out" -w '%{http_code}' "$url")
  if [ "$code" != 200 ]; then echo "$url: HTTP $code" >&2; return 1; fi
}

ringolan-mkdemo --shooters 40 --seed 1 -o "$work/demo.mdb"
chmod 644 "$work/demo.mdb"
# What the admin does: name the competition file in the settings file.
$SUDO sed -i "s|^Name=.*|Name=$work/demo.mdb|" /etc/ringolan/ringolan.ini

unit=/lib/systemd/system/ringolan-server.service
start_unit "$unit" server 80 80
server_pid=$started
if ! port=$(wait_port server "$server_pid"); then
  cat "$work/server.log"
  echo "port 80 cannot be bound here; trying a free port"
  start_unit "$unit" server 80 0
  server_pid=$started
  port=$(wait_port server "$server_pid") || { cat "$work/server.log"; exit 1; }
fi
echo "installed ringolan-server listens on port $port"
ps -o user:32= -C ringolan-server | tr -d ' ' | grep -qx ringolan  # not root

base="http://127.0.0.1:$port"
fetch "$base/" "$work/start.html"
cmp "$work/start.html" /usr/share/ringolan/Web/index.html  # the web root found without --web
fetch "$base/vstbl.php" "$work/vstbl.html"
grep -q 'vst.php?NR=' "$work/vstbl.html"  # clubs read from the file through the installed reader
fetch "$base/live/" "$work/live.html"
grep -q '<title>Live-Ergebnisse</title>' "$work/live.html"

$SUDO kill -TERM "$server_pid"
wait "$server_pid"
server_pid=""
cat "$work/server.log"

# The site's unit the same way, on a free port.
start_unit /lib/systemd/system/ringolan-site.service site 8080 0
site_pid=$started
site_port=$(wait_port site "$site_pid") || { cat "$work/site.log"; exit 1; }
fetch "http://127.0.0.1:$site_port/" "$work/site.html"
$SUDO kill -TERM "$site_pid"
wait "$site_pid"
site_pid=""

$SUDO apt-get purge -y -qq "${packages[@]}"
installed=""
# Purge takes the service users, the settings and the site's data with it.
for user in ringolan ringolan-site; do
  if getent passwd "$user" >/dev/null; then echo "user $user left after purge" >&2; exit 1; fi
done
[ ! -e /var/lib/ringolan-site ] && [ ! -e /etc/ringolan/ringolan.ini ]
echo "package test passed"
