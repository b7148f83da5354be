#!/usr/bin/env bash
# Shows Quernfold without the internet: the local lookup site on 127.0.0.1 answers both the record pages and the
# version check, and the program starts with a small example list (build/demo-domains.txt) already imported.
# Arguments are handed to the program instead of the example list (for instance another list file).
# The site is stopped when the program ends (or this script is stopped).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -G Ninja
cmake --build build -j2 --target quernfold quernfold_lookup_site

site_log=build/demo-site.log
domains=build/demo-domains.txt
site_pid=
app_pid=

# shellcheck disable=SC2317  # reached through the traps only
stop_all() {
    # The program runs in a process group of its own, so Xvfb and the program under xvfb-run go with it.
    if [[ -n $app_pid ]]; then
        kill -TERM -- "-$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    if [[ -n $site_pid ]]; then
        kill -TERM "$site_pid" 2>/dev/null || true
        wait "$site_pid" 2>/dev/null || true
    fi
}
trap stop_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# Background jobs get their own process groups, which stop_all can end as a whole.
set -m

# Every request the program makes shows up in the log, one "METHOD target" line each. The log is emptied here,
# not by the redirection below: that one happens in the background job, and the loop could read the port of an
# earlier run before it.
: >"$site_log"
./build/tools/lookup_site/quernfold_lookup_site --port 0 --log >>"$site_log" &
site_pid=$!
base=
for _ in $(seq 100); do
    first=$(head -n 1 "$site_log" 2>/dev/null || true)
    if [[ $first == "listening on http://127.0.0.1:"* ]]; then
        base=${first#listening on }
        break
    fi
    kill -0 "$site_pid" 2>/dev/null || break
    sleep 0.1
done
if [[ -z $base ]]; then
    echo "the local lookup site did not start; see $site_log" >&2
    exit 1
fi

# Ordinary records first, then names by which the site answers otherwise: no record, a deleted record, error
# pages and an empty page (the row stays "查询中"), several rows, other encodings, a slow answer.
cat >"$domains" <<'EOF'
example.cn
quernfold-demo.com
shop.example.net
nomatch.example.com
deleted.example.cn
e404.example.org
e500.example.com
empty.example.cn
rows.example.com
utf8.example.net
meta.example.org
slow.example.info
EOF

cat <<EOF
Local lookup site: $base (requests logged to $site_log)
Example list:      $PWD/$domains
The window opens with the example list imported: click "批量查询" to fill every row from the local site;
right-click a row for "查询域名". A second later the version check greets with
"当前软件为最新版本,欢迎使用Tarnwick软件..".
EOF

export QUERNFOLD_LOOKUP_BASE=$base
export QUERNFOLD_VERSION_BASE=$base
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "no display: starting under Xvfb (xvfb-run); set DISPLAY to see the window" >&2
    xvfb-run -a ./build/app/quernfold "${@:-$domains}" &
else
    ./build/app/quernfold "${@:-$domains}" &
fi
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=
exit "$status"
