#!/usr/bin/env bash
# The screenshots in docs/screenshots/: the window at its first size with a list imported, and the window
# maximised (by a small window manager) in the middle of a batch run over 10,000 rows, sorted by 备案人 in
# descending order, against the local site (each page 20 ms away, so the run lasts long enough to be seen); then the
# columns after a run over 2,000 rows whose longest domains have 30 characters, at the first size and maximised;
# then, after a run over 2,000 rows, 有备案 and a find text chosen in the find bar with the line over the list that
# says what it shows, and the question a second import of the list asks, with its three buttons.
# Then an import of lines that are not all domains into an empty list, with the message that counts what it
# skipped. Last, a list run twice, the site's records having moved on in between (a filing new, one cancelled, a
# holder changed), with 有变化 chosen. `tools/screenshots.sh columns`, `names` or `changes` makes only that part.
# Runs under Xvfb; nothing leaves 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh xdotool imagemagick matchbox-window-manager
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j2 --target quernfold quernfold_lookup_site

out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
site_pid=
cleanup() {
    [[ -n $site_pid ]] && kill -TERM "$site_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

./build/tools/lookup_site/quernfold_lookup_site --port 0 --latency-ms 20 >"$work/site.log" 2>&1 &
site_pid=$!
base=
for _ in $(seq 100); do
    first=$(head -n 1 "$work/site.log" 2>/dev/null || true)
    if [[ $first == "listening on http://127.0.0.1:"* ]]; then
        base=${first#listening on }
        break
    fi
    sleep 0.1
done
[[ -n $base ]] || { echo "the local site did not start" >&2; exit 1; }

# Mostly records, some without one, some deleted, a few the site answers with an error page.
for i in $(seq 1 10000); do
    case $((i % 50)) in
        7) echo "nomatch.$i.cn" ;;
        9) echo "deleted.$i.com" ;;
        11) echo "e500.$i.cn" ;;
        *) echo "site$i.com.cn" ;;
    esac
done >"$work/list.txt"

export QUERNFOLD_LOOKUP_BASE=$base QUERNFOLD_VERSION_BASE=$base QUERNFOLD_PARALLEL=4 QUERNFOLD_RETRIES=0
# 2,000 rows, every tenth with a 30-character domain.
for i in $(seq 1 2000); do
    case $((i % 10)) in
        3) printf "sx%05d.samplesite-long.com.cn\n" "$i" ;;
        7) echo "nomatch.delta$i.example.cn" ;;
        9) echo "deleted.$i.com" ;;
        *) echo "site$i.com.cn" ;;
    esac
done >"$work/list2000.txt"

export XDG_CONFIG_HOME=$work/config
# Each start gets a results store of its own, so that no last list is offered back and the
# user's own store is left alone.
export OUT=$out LIST=$work/list.txt LIST2000=$work/list2000.txt WORK=$work
if [[ -z ${1:-} ]]; then
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    shot() { # window id or "root", file
        sleep 0.5
        if [[ $1 == root ]]; then import -window root "$2"; else import -window "$1" "$2"; fi
    }
    XDG_DATA_HOME=$(mktemp -d -p "$WORK") ./build/app/quernfold "$LIST" &
    app=$!
    wid=$(xdotool search --sync --name "^Quernfold V2.0$" | head -n 1)
    sleep 3
    shot "$wid" "$OUT/first-size.png"
    xdotool windowclose "$wid" 2>/dev/null || kill -TERM "$app"
    sleep 1
    kill -TERM "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true

    # A second start, maximised as the last one ended (the settings file says so), with a window manager.
    mkdir -p "$XDG_CONFIG_HOME/quernfold"
    printf "[window]\nmaximized=true\nsize=@Size(851 622)\n" >"$XDG_CONFIG_HOME/quernfold/quernfold.ini"
    matchbox-window-manager -use_titlebar yes &
    wm=$!
    sleep 1
    XDG_DATA_HOME=$(mktemp -d -p "$WORK") ./build/app/quernfold "$LIST" &
    app=$!
    wid=$(xdotool search --sync --name "^Quernfold V2.0$" | head -n 1)
    sleep 3
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    echo "window at $X,$Y size ${WIDTH}x$HEIGHT"
    # 备案人 header twice (descending), then 批量查询 (81 px above the bottom edge, 224 px from the left).
    xdotool mousemove --window "$wid" $((8 + 54 + 204 + 216 + 60)) 38 click 1
    sleep 0.5
    xdotool click 1
    sleep 0.5
    xdotool mousemove --window "$wid" 224 $((HEIGHT - 81)) click 1
    sleep 6
    shot root "$OUT/maximised-during-run.png"
    kill -TERM "$app" "$wm" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
'
fi

# The columns: a run over the 2,000 rows to its end, then the window as it stands, at the first size and maximised.
rm -rf "$XDG_CONFIG_HOME"
if [[ -z ${1:-} || ${1:-} == columns ]]; then
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    finished() { # window id, file: 批量查询 clicked, the run left to end, the window taken
        eval "$(xdotool getwindowgeometry --shell "$1")"
        xdotool mousemove --window "$1" 224 $((HEIGHT - 81)) click 1
        sleep 30
        import -window "$1" "$2"
    }
    XDG_DATA_HOME=$(mktemp -d -p "$WORK") ./build/app/quernfold "$LIST2000" &
    app=$!
    wid=$(xdotool search --sync --name "^Quernfold V2.0$" | head -n 1)
    sleep 3
    finished "$wid" "$OUT/columns-first-size.png"
    kill -TERM "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true

    mkdir -p "$XDG_CONFIG_HOME/quernfold"
    printf "[window]\nmaximized=true\nsize=@Size(851 622)\n" >"$XDG_CONFIG_HOME/quernfold/quernfold.ini"
    matchbox-window-manager -use_titlebar yes &
    wm=$!
    sleep 1
    XDG_DATA_HOME=$(mktemp -d -p "$WORK") ./build/app/quernfold "$LIST2000" &
    app=$!
    wid=$(xdotool search --sync --name "^Quernfold V2.0$" | head -n 1)
    sleep 3
    finished "$wid" "$OUT/columns-maximised.png"
    kill -TERM "$app" "$wm" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
'
fi

if [[ -z ${1:-} ]]; then
rm -rf "$XDG_CONFIG_HOME"
# Every tenth row without a record, every tenth an error page: 查询失败.
for i in $(seq 1 2000); do
    case $((i % 10)) in
        3) echo "nomatch.$i.cn" ;;
        7) echo "e404.$i.cn" ;;
        *) echo "site$i.com.cn" ;;
    esac
done >"$work/short.txt"
export SHORT=$work/short.txt
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    XDG_DATA_HOME=$(mktemp -d -p "$WORK") ./build/app/quernfold "$SHORT" &
    app=$!
    wid=$(xdotool search --sync --name "^Quernfold V2.0$" | head -n 1)
    sleep 2
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    # 批量查询, then, with the run over, Ctrl+F, a find text, and 有备案 in the kind box before the find field.
    xdotool mousemove --window "$wid" 224 $((HEIGHT - 81)) click 1
    sleep 14
    xdotool windowfocus --sync "$wid" || true
    xdotool key ctrl+f
    sleep 0.5
    xdotool type --delay 150 "星辰"
    sleep 0.5
    xdotool key shift+Tab
    sleep 0.3
    xdotool key Down
    sleep 1
    import -window "$wid" "$OUT/filter-line.png"
    # 批量导入 (136 px from the left), the same list typed into the file dialog: the append or replace question,
    # taken with the window behind it.
    xdotool mousemove --window "$wid" 136 $((HEIGHT - 81)) click 1
    sleep 2
    xdotool type --delay 20 "$SHORT"
    xdotool key Return
    sleep 1.5
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" "$OUT/import-question.png"
    xdotool key Escape
    sleep 0.5
    kill -TERM "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
'
fi

if [[ -z ${1:-} || ${1:-} == names ]]; then
rm -rf "$XDG_CONFIG_HOME"
# Addresses, single labels, a header, another program's first column, and spellings of names already listed.
printf '%s\n' 域名列表 192.168.0.1 '[2001:db8::1]:443' www. localhost 12345 例子。中国 ＡＢＣ.com BÜCHER.de \
    bücher.de xn--fiqs8s.cn 中国.cn www.newsite.cn newsite.cn https://Shop.Example.com.cn:8443/a?b#c >"$work/names.txt"
export NAMES=$work/names.txt
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    XDG_DATA_HOME=$(mktemp -d -p "$WORK") ./build/app/quernfold &
    app=$!
    wid=$(xdotool search --sync --name "^Quernfold V2.0$" | head -n 1)
    sleep 2
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    xdotool mousemove --window "$wid" 136 $((HEIGHT - 81)) click 1
    sleep 2
    xdotool type --delay 20 "$NAMES"
    xdotool key Return
    sleep 1.5
    import -window root -crop "${WIDTH}x${HEIGHT}+$X+$Y" "$OUT/import-names.png"
    xdotool key Return
    sleep 0.5
    kill -TERM "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
'
fi
if [[ -z ${1:-} || ${1:-} == changes ]]; then
rm -rf "$XDG_CONFIG_HOME"
for i in $(seq 1 40); do
    case $((i % 8)) in
        1) echo "newfiling.$i.cn" ;;
        3) echo "cancelled.$i.cn" ;;
        5) echo "newholder.$i.com.cn" ;;
        *) echo "site$i.com.cn" ;;
    esac
done >"$work/changes.txt"
# The second run asks a site whose records have moved on, at the same address.
port=${base##*:}
port=${port%%/*}
export CHANGES=$work/changes.txt SITE_PORT=$port SITE_PID=$site_pid
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -euo pipefail
    XDG_DATA_HOME=$(mktemp -d -p "$WORK") ./build/app/quernfold "$CHANGES" &
    app=$!
    wid=$(xdotool search --sync --name "^Quernfold V2.0$" | head -n 1)
    sleep 2
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    xdotool mousemove --window "$wid" 224 $((HEIGHT - 81)) click 1
    sleep 4
    kill -TERM "$SITE_PID"
    sleep 0.5
    ./build/tools/lookup_site/quernfold_lookup_site --port "$SITE_PORT" --latency-ms 20 --era 1 >"$WORK/site1.log" 2>&1 &
    site=$!
    sleep 1
    xdotool mousemove --window "$wid" 224 $((HEIGHT - 81)) click 1
    sleep 4
    # 有变化, the last kind in the box before the find field.
    xdotool windowfocus --sync "$wid" || true
    xdotool key ctrl+f
    sleep 0.5
    xdotool key shift+Tab
    sleep 0.3
    xdotool key End
    sleep 1
    import -window "$wid" "$OUT/changes-second-run.png"
    kill -TERM "$app" "$site" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
'
site_pid=
fi
ls -l "$out"
