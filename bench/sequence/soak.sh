#!/bin/bash
# Soak run of a saving sequence: the program takes IMAGES images of 160 x 120
# from camsim with saving and post-processing on, at full speed. It checks that
# every image was written, that the program's resident size stays flat after
# the first 100 images (growth below 1 MB) and that no file handle is left open
# once the sequence has stopped. Prints the figures; exit status 0 when all hold.
#
#   bench/sequence/soak.sh [BUILD_DIR] [IMAGES]      (defaults: build 2000)
#
# Needs Xvfb and xdotool: the run goes through the program's own keys (Ctrl+Q,
# Ctrl+B, F10), as a user would start an unattended sequence.
set -euo pipefail

build=${1:-build}
images=${2:-2000}
port=${SOAK_PORT:-7}
width=160
height=120
max_growth_kb=1024
timeout_s=${SOAK_TIMEOUT:-1800}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1200x24 -nolisten tcp" "$0" "$@"
fi
export QT_QPA_PLATFORM=xcb

bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d /tmp/zermic-soak.XXXXXX)
export XDG_CONFIG_HOME=$work/config
out=$work/out
mkdir -p "$XDG_CONFIG_HOME/VKL_Zermic" "$out"

camsim_pid=
zermic_pid=
cleanup() {
    [ -n "$zermic_pid" ] && kill "$zermic_pid" 2>/dev/null || true
    [ -n "$camsim_pid" ] && kill "$camsim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    if [ -z "${SOAK_KEEP:-}" ]; then rm -rf "$work"; else echo "kept: $work"; fi
}
trap cleanup EXIT

# The sequence file: the count, then a hundredth of a second per image.
{
    echo "$images"
    for ((i = 0; i < images; i++)); do echo 0.01; done
} >"$work/soak.seq"

cat >"$XDG_CONFIG_HOME/VKL_Zermic/Zermic.ini" <<INI
[AcqPrm]
binning=1
img_h=$height
img_w=$width
img_x0=0
img_y0=0
option4=0
pause_cs=1
pause_s=0
prm2=$port

[SeqPrm]
basename=soak
imgpath=$out/
mode_delai=1
periode_ds=0
postTrt=1
prmFile=$work/soak.seq
readPrmFile=1
saveImg=1
INI

"$bin/camsim" --port "$port" --scene ramp >"$work/camsim.out" 2>&1 &
camsim_pid=$!
for ((i = 0; i < 100; i++)); do
    grep -q "camsim: COM$port" "$work/camsim.out" 2>/dev/null && break
    sleep 0.1
done
grep -q "camsim: COM$port" "$work/camsim.out" || { echo "camsim did not start"; exit 1; }

"$bin/zermic" >"$work/zermic.out" 2>&1 &
zermic_pid=$!

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$zermic_pid/status"; }
fd_count() { ls "/proc/$zermic_pid/fd" | wc -l; }
# Files of the run (images, sequence file) the program still holds; its own
# standard output and error, which go to the run's folder too, do not count.
files_in_work() {
    local fd n=0
    for fd in /proc/"$zermic_pid"/fd/*; do
        case ${fd##*/} in 0 | 1 | 2) continue ;; esac
        case $(readlink "$fd" 2>/dev/null) in "$work"/*) n=$((n + 1)) ;; esac
    done
    echo "$n"
}
saved() { find "$out" -name 'soak*.fit' | wc -l; }

# Visible windows of the program, one id a line.
windows() { xdotool search --onlyvisible --pid "$zermic_pid" 2>/dev/null | sort || true; }
# Waits for a window that was not in the list given, prints its id.
new_window() {
    local before=$1 w
    for ((i = 0; i < 100; i++)); do
        w=$(comm -13 <(echo "$before") <(windows) | head -1)
        [ -n "$w" ] && { echo "$w"; return; }
        sleep 0.1
    done
    echo "no new window" >&2
    exit 1
}
press() { # window, keys...
    local w=$1
    shift
    xdotool windowfocus --sync "$w"
    xdotool key --clearmodifiers "$@"
}
# Opens a dialog with keys on the main window and closes it with OK (Return).
dialog_ok() {
    local before
    before=$(windows)
    press "$main" "$1"
    local d
    d=$(new_window "$before")
    sleep 0.3
    press "$d" Return
    sleep 0.3
}

main=$(xdotool search --sync --onlyvisible --pid "$zermic_pid" --name 'Zermic' | head -1)
sleep 1
dialog_ok ctrl+q # the sequence settings come into force
dialog_ok ctrl+b # camera parameters: the port opens, the camera gets its settings

fds_before=$(fd_count)
start=$(date +%s)
press "$main" F10

rss_100=
rss_max=0
fds_max=0
samples=()
while :; do
    kill -0 "$zermic_pid" 2>/dev/null || { echo "the program ended early"; exit 1; }
    n=$(saved)
    r=$(rss_kb)
    ((r > rss_max)) && rss_max=$r
    f=$(fd_count)
    ((f > fds_max)) && fds_max=$f
    if [ -z "$rss_100" ] && ((n >= 100)); then rss_100=$r; fi
    if ((n / 100 > ${#samples[@]})); then samples+=("$n:${r}kB"); fi
    ((n >= images)) && break
    if (($(date +%s) - start > timeout_s)); then
        echo "timed out with $n of $images images saved"
        exit 1
    fi
    sleep 0.2
done
elapsed=$(($(date +%s) - start))
sleep 2 # the last step stops the loop and closes the sequence file
rss_end=$(rss_kb)
fds_after=$(fd_count)
open_in_work=$(files_in_work)

# Every file is a complete FITS image of the same size, numbered from 0 on.
sizes=$(find "$out" -name 'soak*.fit' -printf '%s\n' | sort -u)
valid=yes
[ "$(echo "$sizes" | wc -l)" = 1 ] || valid=no
verified=0
for ((i = 0; i < images; i++)); do
    f=$out/$(printf 'soak%04d.fit' "$i")
    [ -f "$f" ] || { valid=no; continue; }
    if command -v fitsverify >/dev/null; then
        fitsverify -q -e "$f" >/dev/null 2>&1 || { valid=no; continue; }
    fi
    verified=$((verified + 1))
done

growth=$((rss_end - rss_100))
echo "images saved:          $(saved) of $images in ${elapsed}s ($(echo "$sizes" | head -1) bytes each)"
echo "resident size:         ${rss_100} kB after 100 images, ${rss_end} kB at the end, max ${rss_max} kB"
echo "growth after 100:      ${growth} kB (limit ${max_growth_kb} kB)"
echo "samples:               ${samples[*]}"
echo "file handles:          ${fds_before} before the start, max ${fds_max} during the run, ${fds_after} after the stop, ${open_in_work} into the run's folder"
echo "files valid:           ${verified} of ${images} ($valid)"

status=0
((growth < max_growth_kb)) || { echo "FAIL: memory grows"; status=1; }
((fds_after <= fds_before)) || { echo "FAIL: handles left open"; status=1; }
# The sequence file and the image being written; a handle per image would pile up.
((fds_max <= fds_before + 2)) || { echo "FAIL: handles pile up during the run"; status=1; }
((open_in_work == 0)) || { echo "FAIL: a file of the run is still open"; status=1; }
[ "$valid" = yes ] || { echo "FAIL: files incomplete"; status=1; }
exit $status
