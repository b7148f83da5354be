#!/usr/bin/env bash
# The batch benchmark with the real window: an X server (Xvfb), a D-Bus session with the accessibility bus, and a
# listener registered for the events a screen reader follows. Installs what it needs from Debian's packages.
#
#     bash bench/window_bench.sh [bench_batch_run arguments]
#     bash bench/window_bench.sh --list-view [bench_list_view arguments]   # the list at a million rows, xcb
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh at-spi2-core python3-pyatspi gir1.2-atspi-2.0 dbus dbus-bin
bench=bench_batch_run
if [[ "${1:-}" == --list-view ]]; then
    shift
    bench=bench_list_view
    set -- --xcb "$@"
fi
cmake -S . -B build >/dev/null
cmake --build build -j2 --target "$bench" quernfold_lookup_site

# One session for everything: the listener and the window find the same accessibility bus through it.
exec dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    bench=$1
    shift
    /usr/bin/python3 bench/screen_reader_listener.py &
    listener=$!
    sleep 2
    status=0
    "./build/bench/$bench" "$@" || status=$?
    kill -TERM "$listener"
    wait "$listener" || true
    exit "$status"
' bench "$bench" "$@"
