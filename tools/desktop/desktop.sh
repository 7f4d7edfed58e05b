#!/bin/bash
# A private headless desktop for system tests and demos: Xvfb, a window manager,
# a tray host, a private PulseAudio whose default source is a virtual microphone
# fed in real time, and an env file describing them.
#
#   desktop.sh start DIR [--feeder PATH] [--probe PATH] [--no-wm] [--no-tray] [--compositor]
#   desktop.sh stop DIR
#
# Everything started is recorded by pid under DIR and stopped by pid; starting
# again over a previous run stops that run first. DIR/desktop.env holds
# KEY=VALUE lines: DISPLAY, PULSE_SERVER, QT_QPA_PLATFORM, ZAVREN_VMIC_CONTROL,
# ZAVREN_VMIC_STATUS, ZAVREN_VMIC_FIFO, ZAVREN_DESKTOP_DIR.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cmd=${1:-}
dir=${2:-}
[[ -n $cmd && -n $dir ]] || { echo "usage: $0 start|stop DIR [options]" >&2; exit 2; }
shift 2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

log() { echo "desktop: $*" >&2; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local limit=$1; shift
    local deadline=$((SECONDS + limit))
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.05
    done
}

# Stops the process recorded in DIR/NAME.pid, but only if it still runs the
# program recorded in DIR/NAME.tag: a stale pid may belong to someone else by now.
stop_one() {
    local name=$1 pid tag argv0
    [[ -f $dir/$name.pid ]] || return 0
    pid=$(<"$dir/$name.pid")
    tag=$(cat "$dir/$name.tag" 2>/dev/null || true)
    rm -f "$dir/$name.pid" "$dir/$name.tag"
    [[ $pid =~ ^[0-9]+$ && -n $tag ]] || return 0
    argv0=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" | head -n 1) || return 0
    [[ $(basename -- "$argv0") == "$tag" ]] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    local deadline=$((SECONDS + 5))
    while running "$pid" && ((SECONDS < deadline)); do sleep 0.02; done
    kill -KILL "$pid" 2>/dev/null || true
}

# True while the process exists and has not exited (whoever adopted it may be
# slow to reap the zombie).
running() {
    local state
    state=$(cut -d ' ' -f 3 2>/dev/null <"/proc/$1/stat") || return 1
    [[ -n $state && $state != Z ]]
}

has_wm() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }

stop_all() {
    for name in xcompmgr trayer openbox feeder pulseaudio xvfb; do stop_one "$name"; done
    rm -rf "$dir/run" "$dir/home" "$dir/vmic.fifo" "$dir/vmic.ctl" "$dir/vmic.status" \
        "$dir/desktop.env" "$dir/displayfd"
}

# Starts a program detached from our session and process group (so ctest ends
# the setup step without waiting for it), logging to DIR/NAME.log.
spawn() {
    local name=$1; shift
    setsid "$@" </dev/null >"$dir/$name.log" 2>&1 &
    echo $! >"$dir/$name.pid"
    basename -- "$1" >"$dir/$name.tag"
}

start() {
    local feeder="" probe="" wm=1 tray=1 compositor=0
    while (($#)); do
        case $1 in
            --feeder) feeder=$2; shift ;;
            --probe) probe=$2; shift ;;
            --no-wm) wm=0 ;;
            --no-tray) tray=0 ;;
            --compositor) compositor=1 ;;
            *) log "unknown option $1"; exit 2 ;;
        esac
        shift
    done
    feeder=${feeder:-${ZAVREN_VMIC_FEEDER:-}}
    probe=${probe:-${ZAVREN_DESKTOP_PROBE:-}}
    [[ -x $feeder ]] || { log "the microphone feeder is not built ($feeder)"; exit 1; }

    stop_all
    chmod 700 "$dir"
    trap 'log "start failed; stopping what was started"; stop_all' ERR

    # Display: Xvfb picks a free number itself (-displayfd), avoiding races with
    # other runs; no TCP.
    : >"$dir/displayfd"
    setsid Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x800x24 \
        3>"$dir/displayfd" </dev/null >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    echo Xvfb >"$dir/xvfb.tag"
    wait_for 15 grep -q '[0-9]' "$dir/displayfd" || { log "Xvfb did not start"; false; }
    export DISPLAY=:$(tr -dc '0-9' <"$dir/displayfd")
    wait_for 10 xdpyinfo || { log "display $DISPLAY does not answer"; false; }

    if ((wm)); then
        spawn openbox openbox --sm-disable
        wait_for 10 has_wm || { log "openbox did not start"; false; }
    fi
    if ((tray)); then
        spawn trayer trayer --edge top --align right --widthtype request --height 24 \
            --SetDockType true --transparent false
        if [[ -x $probe ]]; then
            wait_for 10 "$probe" owner _NET_SYSTEM_TRAY_S0 1 || { log "trayer did not start"; false; }
        fi
    fi
    if ((compositor)); then
        spawn xcompmgr xcompmgr
        if [[ -x $probe ]]; then
            wait_for 10 "$probe" owner _NET_WM_CM_S0 1 || { log "xcompmgr did not start"; false; }
        fi
    fi

    # Sound: a private PulseAudio as root, reachable only through its socket in a
    # 0700 runtime folder, so anonymous clients are safe and no cookie is needed.
    mkdir -m 700 "$dir/run" "$dir/home"
    local server=unix:$dir/run/pulse/native
    env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home" \
        pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit -n \
        --log-target="file:$dir/pulseaudio.log" \
        --load="module-native-protocol-unix auth-anonymous=1" \
        --load="module-null-sink sink_name=vsink" --load=module-always-sink
    wait_for 10 test -s "$dir/run/pulse/pid" || { log "pulseaudio did not start"; false; }
    echo "$(tr -dc '0-9' <"$dir/run/pulse/pid")" >"$dir/pulseaudio.pid"
    echo pulseaudio >"$dir/pulseaudio.tag"
    export PULSE_SERVER=$server
    wait_for 10 pactl info || { log "pulseaudio does not answer"; false; }

    # The pipe source makes its FIFO itself.
    mkfifo -m 600 "$dir/vmic.ctl"
    pactl load-module module-pipe-source source_name=vmic file="$dir/vmic.fifo" \
        format=s16le rate=16000 channels=1 >/dev/null
    chmod 600 "$dir/vmic.fifo"
    pactl set-default-source vmic
    spawn feeder "$feeder" --fifo "$dir/vmic.fifo" --control "$dir/vmic.ctl" \
        --status "$dir/vmic.status"
    wait_for 10 test -s "$dir/vmic.status" || { log "the microphone feeder did not start"; false; }

    {
        echo "DISPLAY=$DISPLAY"
        echo "PULSE_SERVER=$server"
        echo "QT_QPA_PLATFORM=xcb"
        echo "ZAVREN_DESKTOP_DIR=$dir"
        echo "ZAVREN_VMIC_FIFO=$dir/vmic.fifo"
        echo "ZAVREN_VMIC_CONTROL=$dir/vmic.ctl"
        echo "ZAVREN_VMIC_STATUS=$dir/vmic.status"
    } >"$dir/desktop.env.tmp"
    mv "$dir/desktop.env.tmp" "$dir/desktop.env"
    trap - ERR
    log "up: DISPLAY=$DISPLAY PULSE_SERVER=$server"
}

case $cmd in
    start) start "$@" ;;
    stop) stop_all ;;
    *) echo "usage: $0 start|stop DIR [options]" >&2; exit 2 ;;
esac
