#!/usr/bin/env bash
# Speed of whole zgl runs over a full range: 2000 full-size (800 x 600) sprite-like PCX
# sources for icons 3000 to 4999. Times "zgl create" with DPAK 0 and DPAK 2 and "zgl show"
# over the DPAK 2 library, each against the I/O floor: io_floor (built with the benchmarks)
# reads every file the run reads once and writes as many files of the same sizes as the run
# wrote. Everything is measured in this one run, on tmpfs (/dev/shm) and on disk ($TMPDIR or
# /tmp), and reported as icons/s, cores used ((user + system) / wall time) and ratios.
# The variants of a run must write the same files byte for byte; the script stops otherwise.
#   bench/run_bench.sh [--jobs N] [--icons N] [--rounds N] [--place tmpfs|disk|both] [path/to/zgl]
# (--icons: sources for the first N icons from 3000 only, 1 to 2000; the run still covers the
# whole range, the icons beyond are "not found").
# (default zgl: build/native/src/app/console/zgl, floor: io_floor beside the benchmarks).
# When zgl takes --jobs, each run is made with --jobs 1 and with the default (and with
# --jobs N when asked) and the speed-up over --jobs 1 is reported; otherwise the default only.
# Two --jobs 1 runs side by side then show what the machine's cores give such work at best.
# Each of these runs is made --rounds times (3 unless told), the variants taking turns, and
# the best time of each is reported: on a shared machine one round's times vary by a quarter.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs=""
icons=2000
rounds=3
place=both
zgl="$root/build/native/src/app/console/zgl"
while [ $# -gt 0 ]; do
  case "$1" in
    --jobs) jobs="$2"; shift 2 ;;
    --place) place="$2"; shift 2 ;;
    --icons) icons="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    -h|--help) sed -n '2,17p' "$0"; exit 0 ;;
    *) zgl="$1"; shift ;;
  esac
done
zgl="$(cd "$(dirname "$zgl")" && pwd)/$(basename "$zgl")"
floor="${FLOOR:-$root/build/native/bench/io_floor}"
[ -x "$zgl" ] || { echo "no zgl at $zgl (build it first)" >&2; exit 2; }
[ -x "$floor" ] || { echo "no io_floor at $floor (build the benchmarks)" >&2; exit 2; }
/usr/bin/python3 -c 'import PIL' 2>/dev/null ||
  { echo "the sources are drawn with Pillow: apt-get install python3-pil" >&2; exit 2; }

# The variants of each run: option words for zgl, and their names.
variants=("")
names=("default")
if "$zgl" create --help 2>&1 | grep -q -- '--jobs'; then
  variants=("--jobs 1" "")
  names=("--jobs 1" "default")
  if [ -n "$jobs" ]; then
    variants+=("--jobs $jobs")
    names+=("--jobs $jobs")
  fi
elif [ -n "$jobs" ]; then
  echo "this zgl takes no --jobs: the default runs only" >&2
fi

places=()
case "$place" in
  tmpfs) places=(tmpfs) ;;
  disk) places=(disk) ;;
  both) places=(tmpfs disk) ;;
  *) echo "--place is tmpfs, disk or both" >&2; exit 2 ;;
esac

# Fifty distinct sprites (nested blocks and ellipses, some cut by black stripes, with
# scattered texture so the packer has real work) at varying places; each icon is a copy of
# one of them.
make_sources() {  # folder
  mkdir -p "$1/pcx"
  (cd "$1" && /usr/bin/python3 - <<'PY'
import random
from PIL import Image, ImageDraw
random.seed(7)
for k in range(50):
    img = Image.new("RGB", (800, 600))
    d = ImageDraw.Draw(img)
    x, y = random.randrange(0, 500), random.randrange(0, 350)
    w, h = random.randrange(60, 300), random.randrange(60, 250)
    for i in range(6):
        c = tuple(random.randrange(30, 256) for _ in range(3))
        box = (x + i * w // 12, y + i * h // 12, x + w - i * w // 14, y + h - i * h // 14)
        (d.rectangle if i % 2 == 0 else d.ellipse)(box, fill=c)
    if k % 3 == 0:
        for s in range(0, w, 9):
            d.line((x + s, y, x + s, y + h), fill=(0, 0, 0), width=3)
    px = img.load()
    for _ in range(3000):
        px[random.randrange(x, x + w), random.randrange(y, y + h)] = (
            random.randrange(1, 256), random.randrange(256), random.randrange(256))
    img.save("pcx/sprite%02d.pcx" % k)
PY
  )
  local i
  for i in $(seq 3000 $((3000 + icons - 1))); do
    cp "$1/pcx/sprite$(printf %02d $((i % 50))).pcx" \
       "$1/pcx/p${i:0:1}_${i:1:1}_${i:2:1}_${i:3:1}.pcx"
  done
  rm "$1"/pcx/sprite*.pcx
}

write_project() {  # DPAK value
  {
    echo " bench project"
    echo 'FSEP out\s0_0_0_0.zgi '
    echo 'FCOO bench.coo '
    echo 'FOFS bench.ofs '
    echo 'FBLK out\b00.blk '
    echo 'FPCX pcx\p0_0_0_0.pcx '
    echo 'FLBM lbm\i0_0_0_0.lbm '
    echo 'FWAV wav\w0_0_0_0.wav '
    echo "NSIZ 5000"
    echo "BLKB 100"
    echo "DVIE 0"
    echo "DBLK 3"
    echo "DARC 0"
    echo "DPAK $1"
  } >bench.zgl
  { cat bench.zgl; echo 'FPCX IFF\0\0\0\0.pcx '; } >show.zgl
}

timed() {  # wall and CPU (user + system) seconds of a command, its output dropped
  local TIMEFORMAT='%R %U %S'
  { time "$@" >/dev/null 2>&1 || true; } 2>&1 | awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }'
}
rate() { awk -v s="$1" -v n="$icons" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
cores() { awk -v w="$1" -v c="$2" 'BEGIN { if (w > 0) printf "%.2f", c / w; else print "-" }'; }

# One timed run per variant, then the floor; prints one line per variant.
measure() {  # label, command word, project file, floor read list, outputs to list after the run
  local label="$1" command="$2" project="$3" reads="$4" outputs="$5"
  local k wall cpu base_wall="" floor_wall
  local -a walls cpus sums
  # A command without --jobs runs its default only.
  local -a saved_variants=("${variants[@]}") saved_names=("${names[@]}")
  if ! "$zgl" "$command" --help 2>&1 | grep -q -- '--jobs'; then
    variants=("")
    names=("default")
  fi
  local round pair_wall="" pair
  for round in $(seq "$rounds"); do
  for k in "${!variants[@]}"; do
    rm -rf out IFF bench.coo bench.ofs floor
    mkdir -p out floor
    [ "$command" = show ] && cp -r kept/. .
    sync
    # shellcheck disable=SC2086
    read -r wall cpu < <(timed "$zgl" "$command" ${variants[$k]} "$project")
    if [ "$round" = 1 ] || awk -v a="$wall" -v b="${walls[$k]}" 'BEGIN { exit !(a < b) }'; then
      walls[$k]=$wall
      cpus[$k]=$cpu
    fi
    # Every variant must write what the first wrote, byte for byte, or its speed means nothing.
    sums[$k]=$(eval "$outputs" | sort | xargs -d '\n' md5sum | md5sum)
    if [ "${sums[$k]}" != "${sums[0]}" ]; then
      echo "$label: ${names[$k]} wrote other files than ${names[0]}" >&2
      exit 1
    fi
  done
  # What the machine's cores give two independent runs of this work: two --jobs 1 runs at
  # once, each in a folder of its own over the same sources. Well short of 2, the processors
  # share a core, the memory bandwidth or the file system's locks, and so would the threads
  # of one run.
  if [ "${#variants[@]}" -gt 1 ] && [ "$(nproc)" -ge 2 ]; then
    rm -rf out IFF bench.coo bench.ofs twin
    mkdir -p out twin/out
    ln -s ../pcx twin/pcx
    cp "$project" twin/
    [ "$command" = show ] && cp -r kept/. . && cp -r kept/. twin/
    sync
    read -r pair _ < <(timed bash -c \
      '"$1" "$2" --jobs 1 "$3" & (cd twin && "$1" "$2" --jobs 1 "$3"); wait' _ \
      "$zgl" "$command" "$project")
    rm -rf twin
    if [ -z "$pair_wall" ] || awk -v a="$pair" -v b="$pair_wall" 'BEGIN { exit !(a < b) }'; then
      pair_wall=$pair
    fi
  fi
  done
  eval "$outputs" | xargs -d '\n' stat -c %s >sizes.txt
  sync
  local floor_try
  for round in $(seq "$rounds"); do
    rm -rf floor && mkdir floor && sync
    read -r floor_try _ < <(timed "$floor" "$reads" sizes.txt floor)
    if [ "$round" = 1 ] || awk -v a="$floor_try" -v b="$floor_wall" 'BEGIN { exit !(a < b) }'; then
      floor_wall=$floor_try
    fi
  done
  echo "$label: $(wc -l <sizes.txt) files written;" \
       "floor $floor_wall s ($(rate "$floor_wall") icons/s)"
  for k in "${!variants[@]}"; do
    wall=${walls[$k]}
    [ "${names[$k]}" = "--jobs 1" ] && base_wall=$wall
    local line="  ${names[$k]}: $wall s, $(rate "$wall") icons/s,"
    line+=" cores used $(cores "$wall" "${cpus[$k]}"),"
    line+=" $(ratio "$wall" "$floor_wall")x the floor's time"
    [ -n "$base_wall" ] && [ "${names[$k]}" != "--jobs 1" ] &&
      line+=", $(ratio "$base_wall" "$wall")x as fast as --jobs 1"
    echo "$line"
  done
  if [ -n "$pair_wall" ] && [ -n "$base_wall" ]; then
    echo "  two --jobs 1 runs side by side: $pair_wall s, so the cores do" \
         "$(ratio "$(awk -v a="$base_wall" 'BEGIN { print 2 * a }')" "$pair_wall")x" \
         "the work of one --jobs 1 run in its time"
  fi
  variants=("${saved_variants[@]}")
  names=("${saved_names[@]}")
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors"
for where in "${places[@]}"; do
  if [ "$where" = tmpfs ]; then
    base=/dev/shm
  else
    base="${TMPDIR:-/tmp}"
  fi
  kind=$(stat -f -c %T "$base")
  work=$(mktemp -d -p "$base" zgl-bench.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  cd "$work"
  make_sources "$work"
  find pcx -type f | sort >reads-create.txt
  echo "== $where ($base, $kind): $icons sources, $(($(cat pcx/* | wc -c) / 1024)) KiB of PCX"
  for dpak in 0 2; do
    write_project "$dpak"
    measure "zgl create DPAK $dpak" create bench.zgl reads-create.txt \
      'find out -type f; echo bench.ofs; echo bench.coo'
  done
  # The DPAK 2 library of the last create run is shown.
  rm -rf kept && mkdir kept
  cp -r out bench.ofs bench.coo kept/
  { find kept/out -type f; echo kept/bench.ofs; echo kept/bench.coo; } >reads-show.txt
  measure "zgl show (DPAK 2 library)" show show.zgl reads-show.txt 'find IFF -type f'
  cd /
  rm -rf "$work"
  trap - EXIT
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
