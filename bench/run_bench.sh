#!/usr/bin/env bash
# Speed of whole zgl runs over a full range: 2000 full-size (800 x 600) sprite-like PCX
# sources for icons 3000 to 4999. Times "zgl create" with DPAK 0 and DPAK 2 and "zgl show"
# over the DPAK 2 library, each against the I/O floor: io_floor (built with the benchmarks)
# reads every file the run reads once and writes as many files of the same sizes as the run
# wrote. Everything is measured in this one run, on tmpfs (/dev/shm) and on disk ($TMPDIR or
# /tmp), and reported as icons/s, cores used ((user + system) / wall time), peak memory
# (resident set) and ratios. The variants of a run must write the same files byte for byte;
# the script stops otherwise.
#   bench/run_bench.sh [--jobs N] [--icons N] [--rounds N] [--place tmpfs|disk|both]
#                      [--layout full|every-other] [--sinks] [ZGL [OTHER_ZGL]]
# (--icons: sources for the first N icons from 3000 only, 1 to 2000; the run still covers the
# whole range, the icons beyond are "not found". --layout every-other puts the N sources at
# icons 3000, 3002, 3004, ... (N at most 1000), each followed by an icon without one.)
# ZGL is the console program, native or a Windows zgl.exe, which runs under Wine through
# tools/wine-run (default: build/native/src/app/console/zgl; floor: io_floor beside the
# benchmarks). With OTHER_ZGL as well, both are measured in the same rounds, taking turns,
# and the first is reported against the second. A Windows program's Wine prefix is started
# before anything is timed, and its wineserver is kept running for the whole measurement, so
# no run pays for starting Wine's services. A program this machine cannot run is named, with
# the reason, before anything is measured.
# When zgl takes --jobs, each run is made with --jobs 1 and with the default (and with
# --jobs N when asked) and the speed-up over --jobs 1 is reported; otherwise the default only.
# Two --jobs 1 runs of the first program side by side then show what the machine's cores give
# such work at best.
# Each of these runs is made --rounds times (3 unless told), the variants taking turns, and
# the best time of each is reported: on a shared machine one round's times vary by a quarter.
# The median of the rounds is shown beside it, and compared between two programs too: under
# Wine a run with helpers takes either about two thirds or the whole of its usual time, as its
# threads' round trips to the server happen to fall, so the best of a few rounds compares luck.
# With --sinks, each program's "create --jobs 1" of the DPAK 2 project is also timed with its
# standard output and error going to /dev/null and to a file, in turns, and the two compared:
# a program that writes a character device a character at a time is slow only on the first.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs=""
icons=""
rounds=3
place=both
layout=full
sinks=0
programs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --jobs) jobs="$2"; shift 2 ;;
    --place) place="$2"; shift 2 ;;
    --icons) icons="$2"; shift 2 ;;
    --rounds) rounds="$2"; shift 2 ;;
    --layout) layout="$2"; shift 2 ;;
    --sinks) sinks=1; shift ;;
    -h|--help) sed -n '2,33p' "$0"; exit 0 ;;
    -*) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
    *) programs+=("$1"); shift ;;
  esac
done
case "$layout" in
  full) most=2000 ;;
  every-other) most=1000 ;;
  *) echo "--layout is full or every-other" >&2; exit 2 ;;
esac
icons=${icons:-$most}
if ! [ "$icons" -ge 1 ] 2>/dev/null || [ "$icons" -gt "$most" ]; then
  echo "--icons is 1 to $most with --layout $layout" >&2
  exit 2
fi
[ "${#programs[@]}" -eq 0 ] && programs=("$root/build/native/src/app/console/zgl")
[ "${#programs[@]}" -le 2 ] || { echo "one or two programs to compare, not more" >&2; exit 2; }
floor="${FLOOR:-$root/build/native/bench/io_floor}"
[ -x "$floor" ] || { echo "no io_floor at $floor (build the benchmarks)" >&2; exit 2; }
/usr/bin/python3 -c 'import PIL' 2>/dev/null ||
  { echo "the sources are drawn with Pillow: apt-get install python3-pil" >&2; exit 2; }

# What a program is, from its first bytes: "native 64", "native 32", "windows 64",
# "windows 32", or "unknown".
program_kind() {
  local magic at machine
  magic=$(od -An -tx1 -N4 "$1" 2>/dev/null | tr -d ' \n')
  case "$magic" in
    7f454c46)
      [ "$(od -An -tu1 -j4 -N1 "$1" | tr -d ' ')" = 1 ] && echo "native 32" || echo "native 64"
      ;;
    4d5a*)
      at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
      machine=$(od -An -tx1 -j"$at" -N6 "$1" | tr -d ' \n')
      case "$machine" in
        504500004c01) echo "windows 32" ;;
        50450000*) echo "windows 64" ;;
        *) echo unknown ;;
      esac
      ;;
    *) echo unknown ;;
  esac
}

# Per program: how it is started (a line of words, the program's path last), what it is, and
# the variants of each run it takes.
runners=()
# The Windows programs' Wine prefixes, as tools/wine-run picks them.
prefixes=()
for i in "${!programs[@]}"; do
  p="${programs[$i]}"
  [ -f "$p" ] || { echo "no zgl at $p (build it first)" >&2; exit 2; }
  p="$(cd "$(dirname "$p")" && pwd)/$(basename "$p")"
  programs[$i]=$p
  kind=$(program_kind "$p")
  case "$kind" in
    "native 64"|"native 32") runner=("$p") ;;
    "windows 64"|"windows 32") runner=("$root/tools/wine-run" "$p") ;;
    *) echo "$p: neither a Linux program nor a Windows program; it cannot run here" >&2; exit 2 ;;
  esac
  if [ "${kind#* }" = 32 ] && ! why=$("$root/tools/can-run-32bit"); then
    echo "$p is a 32-bit ${kind% *} program, which this machine cannot run: $why" >&2
    exit 2
  fi
  if [ "${kind% *}" = windows ]; then
    if ! command -v wine >/dev/null && ! [ -x /usr/lib/wine/wine64 ]; then
      echo "$p is a Windows program, and Wine is not installed here (tools/install-deps)" >&2
      exit 2
    fi
    prefix=${WINEPREFIX:-$root/build/wineprefix64}
    [ "${kind#* }" = 32 ] && prefix=${WINEPREFIX:-$root/build/wineprefix}
    prefixes+=("$prefix")
  fi
  # Started once before anything is timed: a Windows program's prefix is made or brought up
  # to date here (about 15 s the first time), and a program that does not start at all is
  # named now.
  if ! version=$(timeout 300 "${runner[@]}" --version 2>&1 </dev/null); then
    echo "$p ($kind) does not run here: $(printf '%s' "$version" | tail -n 3)" >&2
    exit 2
  fi
  runners[$i]="${runner[*]@Q}"
  case "$kind" in
    native*) what="Linux, ${kind#* }-bit" ;;
    windows*) what="Windows, ${kind#* }-bit, under Wine" ;;
  esac
  echo "program $((i + 1)): $p ($what; $(printf '%s\n' "$version" | grep -m 1 zgl || printf '%s' "$version" | tail -n 1))"
done

# The wineservers of the prefixes in use stay up for the whole measurement (-p: for as long
# as five minutes without a program, so one left behind by an interrupted run ends by
# itself). Without it each run starts the server, and the first run after a pause pays for
# it; a server already running is kept.
for prefix in "${prefixes[@]}"; do
  WINEPREFIX=$prefix wineserver -p300 2>/dev/null || true
done

# Runs program $1 (its index) with the rest as arguments.
run_program() {
  local i="$1"
  shift
  eval "${runners[$i]}" '"$@"'
}

# The variants of each run: which program, its option words, and their names.
variant_programs=()
variants=()
names=()
for i in "${!programs[@]}"; do
  tag=""
  [ "${#programs[@]}" -gt 1 ] && tag="$((i + 1)): "
  if run_program "$i" create --help 2>&1 | grep -q -- '--jobs'; then
    variant_programs+=("$i" "$i")
    variants+=("--jobs 1" "")
    names+=("${tag}--jobs 1" "${tag}default")
    if [ -n "$jobs" ]; then
      variant_programs+=("$i")
      variants+=("--jobs $jobs")
      names+=("${tag}--jobs $jobs")
    fi
  else
    variant_programs+=("$i")
    variants+=("")
    names+=("${tag}default")
    [ -n "$jobs" ] && echo "program $((i + 1)) takes no --jobs: the default runs only" >&2
  fi
done

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
  local i step=1
  [ "$layout" = every-other ] && step=2
  for i in $(seq 3000 "$step" $((3000 + step * (icons - 1)))); do
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

# Wall and CPU (user + system) seconds and peak resident set (KiB) of a command, its output
# dropped: the rusage of the command's processes, which a Windows program's wineserver
# (started beforehand) is not one of.
# With SINK set, the output goes to that file instead.
timer_py='
import os, resource, subprocess, sys, time
sink = open(os.environ["SINK"], "wb") if os.environ.get("SINK") else subprocess.DEVNULL
begin = time.perf_counter()
subprocess.run(sys.argv[1:], stdin=subprocess.DEVNULL, stdout=sink, stderr=sink)
wall = time.perf_counter() - begin
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.3f %.3f %d" % (wall, used.ru_utime + used.ru_stime, used.ru_maxrss))
'
timed() { /usr/bin/python3 -c "$timer_py" "$@"; }
timed_program() {  # program index, arguments
  local i="$1"
  shift
  eval timed "${runners[$i]}" '"$@"'
}
megabytes() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }
rate() { awk -v s="$1" -v n="$icons" 'BEGIN { if (s > 0) printf "%.0f", n / s; else print "inf" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
cores() { awk -v w="$1" -v c="$2" 'BEGIN { if (w > 0) printf "%.2f", c / w; else print "-" }'; }
# The median of the times given (seconds, separated by blanks).
median() {
  tr ' ' '\n' <<<"$1" | grep . | sort -n |
    awk '{ t[NR] = $1 } END { if (NR % 2) printf "%.3f", t[(NR + 1) / 2];
                              else printf "%.3f", (t[NR / 2] + t[NR / 2 + 1]) / 2 }'
}

# One timed run per variant, then the floor; prints one line per variant, and with two
# programs how the first compares with the second.
measure() {  # label, command word, project file, floor read list, outputs to list after the run
  local label="$1" command="$2" project="$3" reads="$4" outputs="$5"
  local k i wall cpu rss floor_wall
  local -a walls cpus peaks sums base_walls all_walls
  # The variants this command takes: a program whose command has no --jobs runs its default
  # only.
  local -a ks=() with_jobs=()
  for i in "${!programs[@]}"; do
    with_jobs[$i]=0
    run_program "$i" "$command" --help 2>&1 | grep -q -- '--jobs' && with_jobs[$i]=1
  done
  for k in "${!variants[@]}"; do
    i=${variant_programs[$k]}
    if [ "${with_jobs[$i]}" = 1 ] || [ -z "${variants[$k]}" ]; then ks+=("$k"); fi
  done
  local round pair_wall="" pair
  for round in $(seq "$rounds"); do
  for k in "${ks[@]}"; do
    rm -rf out IFF bench.coo bench.ofs floor
    mkdir -p out floor
    [ "$command" = show ] && cp -r kept/. .
    sync
    # shellcheck disable=SC2086
    read -r wall cpu rss < <(timed_program "${variant_programs[$k]}" "$command" ${variants[$k]} "$project")
    all_walls[$k]+="$wall "
    if [ "$round" = 1 ] || awk -v a="$wall" -v b="${walls[$k]}" 'BEGIN { exit !(a < b) }'; then
      walls[$k]=$wall
      cpus[$k]=$cpu
    fi
    if [ "$round" = 1 ] || [ "$rss" -gt "${peaks[$k]}" ]; then peaks[$k]=$rss; fi
    # Every variant must write what the first wrote, byte for byte, or its speed means nothing.
    sums[$k]=$(eval "$outputs" | sort | xargs -d '\n' md5sum | md5sum)
    if [ "${sums[$k]}" != "${sums[${ks[0]}]}" ]; then
      echo "$label: ${names[$k]} wrote other files than ${names[${ks[0]}]}" >&2
      exit 1
    fi
  done
  # What the machine's cores give two independent runs of this work: two --jobs 1 runs of the
  # first program at once, each in a folder of its own over the same sources. Well short of
  # 2, the processors share a core, the memory bandwidth or the file system's locks, and so
  # would the threads of one run.
  if [ "${with_jobs[0]}" = 1 ] && [ "$(nproc)" -ge 2 ]; then
    rm -rf out IFF bench.coo bench.ofs twin
    mkdir -p out twin/out
    ln -s ../pcx twin/pcx
    cp "$project" twin/
    [ "$command" = show ] && cp -r kept/. . && cp -r kept/. twin/
    sync
    read -r pair _ < <(timed bash -c \
      'eval "$1 \"\$2\" --jobs 1 \"\$3\" & (cd twin && $1 \"\$2\" --jobs 1 \"\$3\"); wait"' _ \
      "${runners[0]}" "$command" "$project")
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
  for k in "${ks[@]}"; do
    i=${variant_programs[$k]}
    wall=${walls[$k]}
    [ "${variants[$k]}" = "--jobs 1" ] && base_walls[$i]=$wall
    local line="  ${names[$k]}: $wall s (median $(median "${all_walls[$k]}") s), $(rate "$wall") icons/s,"
    line+=" cores used $(cores "$wall" "${cpus[$k]}"), peak memory $(megabytes "${peaks[$k]}"),"
    line+=" $(ratio "$wall" "$floor_wall")x the floor's time"
    [ -n "${base_walls[$i]:-}" ] && [ "${variants[$k]}" != "--jobs 1" ] &&
      line+=", $(ratio "${base_walls[$i]}" "$wall")x as fast as --jobs 1"
    echo "$line"
  done
  if [ -n "$pair_wall" ] && [ -n "${base_walls[0]:-}" ]; then
    echo "  two --jobs 1 runs$([ "${#programs[@]}" -gt 1 ] && echo " of program 1") side by side: $pair_wall s, so the cores do" \
         "$(ratio "$(awk -v a="${base_walls[0]}" 'BEGIN { print 2 * a }')" "$pair_wall")x" \
         "the work of one --jobs 1 run in its time"
  fi
  # The first program against the second, variant by variant (the same options), in wall
  # time and in processor time.
  local a b
  for a in "${ks[@]}"; do
    [ "${variant_programs[$a]}" = 0 ] || continue
    for b in "${ks[@]}"; do
      [ "${variant_programs[$b]}" = 1 ] && [ "${variants[$b]}" = "${variants[$a]}" ] || continue
      echo "  program 1 against program 2, ${names[$a]#1: }: $(ratio "${walls[$b]}" "${walls[$a]}")x" \
           "as fast (medians: $(ratio "$(median "${all_walls[$b]}")" "$(median "${all_walls[$a]}")")x)," \
           "$(ratio "${cpus[$a]}" "${cpus[$b]}")x the processor time" \
           "($(cores "${walls[$a]}" "${cpus[$a]}") against $(cores "${walls[$b]}" "${cpus[$b]}") cores)," \
           "$(ratio "${peaks[$a]}" "${peaks[$b]}")x the peak memory"
    done
  done
}

# Each program's create --jobs 1 (or its default) with its output to /dev/null and to a file,
# in turns; the best of each and their ratio.
measure_sinks() {
  local i round sink wall best_null best_file jobs_word
  for i in "${!programs[@]}"; do
    jobs_word=""
    run_program "$i" create --help 2>&1 | grep -q -- '--jobs' && jobs_word="--jobs 1"
    best_null=""
    best_file=""
    for round in $(seq "$rounds"); do
      for sink in /dev/null "$work/output.txt"; do
        rm -rf out bench.coo bench.ofs
        mkdir -p out
        sync
        # shellcheck disable=SC2086
        read -r wall _ < <(SINK=$sink timed_program "$i" create $jobs_word bench.zgl)
        if [ "$sink" = /dev/null ]; then
          if [ -z "$best_null" ] || awk -v a="$wall" -v b="$best_null" 'BEGIN { exit !(a < b) }'; then
            best_null=$wall
          fi
        elif [ -z "$best_file" ] || awk -v a="$wall" -v b="$best_file" 'BEGIN { exit !(a < b) }'; then
          best_file=$wall
        fi
      done
    done
    rm -f "$work/output.txt"
    echo "zgl create${jobs_word:+ $jobs_word} DPAK 2, program $((i + 1)): output to /dev/null" \
         "$best_null s, to a file $best_file s: $(ratio "$best_null" "$best_file")x the time"
  done
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
  where_sources="icons 3000 to $((3000 + icons - 1))"
  [ "$layout" = every-other ] && where_sources="every other icon from 3000 to $((3000 + 2 * (icons - 1)))"
  echo "== $where ($base, $kind): $icons sources at $where_sources, $(($(cat pcx/* | wc -c) / 1024)) KiB of PCX"
  for dpak in 0 2; do
    write_project "$dpak"
    measure "zgl create DPAK $dpak" create bench.zgl reads-create.txt \
      'find out -type f; echo bench.ofs; echo bench.coo'
  done
  [ "$sinks" = 1 ] && measure_sinks
  # The DPAK 2 library of the last create run is shown.
  rm -rf kept && mkdir kept
  cp -r out bench.ofs bench.coo kept/
  { find kept/out -type f; echo kept/bench.ofs; echo kept/bench.coo; } >reads-show.txt
  measure "zgl show (DPAK 2 library)" show show.zgl reads-show.txt 'find IFF -type f'
  cd /
  rm -rf "$work"
  trap - EXIT
done
# The wineservers end once their programs have (a server left running, and the Windows
# services it starts, would take processor time from whatever runs next).
for prefix in "${prefixes[@]}"; do
  WINEPREFIX=$prefix wineserver -p0 2>/dev/null || true
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
