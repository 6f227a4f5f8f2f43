#!/usr/bin/env bash
# PCX decode and encode of the same busy and sprite pictures by our codecs (picture_bench)
# and by the peers that are installed (Pillow through /usr/bin/python3, ffmpeg), in one run.
# Every figure is MB/s of picture bytes (1,440,000 per 800 x 600 picture) over CPU time, the
# best of several rounds, so that a loaded machine disturbs the ratios as little as it can.
#   bench/peer_codecs.sh [path/to/picture_bench]   (default: build/native/bench/picture_bench)
# A peer that is not installed is skipped.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
bench="${1:-$root/build/native/bench/picture_bench}"
[ -x "$bench" ] || { echo "no picture_bench at $bench (build it first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --save-pictures "$work"
results="$work/results"
: >"$results"
kinds="busy sprites"

# Ours: Google Benchmark's CPU-time rates, best of five repetitions.
"$bench" --benchmark_filter='BM_(Decode|Encode)Pcx/kind:[01]$' --benchmark_repetitions=5 \
  --benchmark_min_time=0.2 --benchmark_format=json >"$work/ours.json" 2>/dev/null
/usr/bin/python3 - "$work/ours.json" >>"$results" <<'PY'
import json, sys
best = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") != "iteration":
        continue
    name = b["run_name"]
    op = "decode" if "Decode" in name else "encode"
    kind = "sprites" if name.endswith(":0") else "busy"
    rate = b["bytes_per_second"] / 1e6
    best[(op, kind)] = max(best.get((op, kind), 0), rate)
for (op, kind), rate in best.items():
    print(f"ours {op} {kind} {rate:.1f}")
PY

# Pillow: whole files from memory, best of five rounds of CPU time.
if /usr/bin/python3 -c 'import PIL' 2>/dev/null; then
  /usr/bin/python3 - "$work" >>"$results" <<'PY'
import io, sys, time
from PIL import Image
work = sys.argv[1]
def best_seconds(action, rounds=5, count=10):
    best = float("inf")
    for _ in range(rounds):
        start = time.process_time()
        for _ in range(count):
            action()
        best = min(best, (time.process_time() - start) / count)
    return best
for kind in ("busy", "sprites"):
    data = open(f"{work}/{kind}.pcx", "rb").read()
    picture = Image.frombytes("RGB", (800, 600), open(f"{work}/{kind}.rgb", "rb").read())
    def decode():
        Image.open(io.BytesIO(data)).load()
    def encode():
        picture.save(io.BytesIO(), "PCX")
    print(f"Pillow decode {kind} {1.44 / best_seconds(decode):.1f}")
    print(f"Pillow encode {kind} {1.44 / best_seconds(encode):.1f}")
PY
else
  echo "Pillow is not installed (python3-pil): skipped" >&2
fi

# ffmpeg: CPU seconds (user + system, from -benchmark) of a pipeline over many frames, less
# the same pipeline without the codec (packets copied through for decoding, frames kept raw
# for encoding), divided by the frames; best of three.
if command -v ffmpeg >/dev/null; then
  frames=300
  cpu() {  # CPU seconds of one ffmpeg run
    ffmpeg -hide_banner -nostdin -benchmark "$@" -f null - 2>&1 |
      awk -F'[ =s]+' '/^bench: utime/ { print $3 + $5 }'
  }
  per_frame() {  # codec, plain codec, input arguments: best of three (codec - plain) / frames
    local codec=$1 plain=$2 best=""
    shift 2
    for _ in 1 2 3; do
      local with without
      with=$(cpu "$@" -frames:v $frames -threads 1 -c:v "$codec")
      without=$(cpu "$@" -frames:v $frames -threads 1 -c:v "$plain")
      best=$(awk -v a="$with" -v b="$without" -v n="$frames" -v best="$best" 'BEGIN {
        s = (a - b) / n; if (best == "" || s < best) best = s; print best }')
    done
    awk -v s="$best" 'BEGIN { if (s > 0) printf "%.1f", 1.44 / s; else print "inf" }'
  }
  for kind in $kinds; do
    rate=$(per_frame wrapped_avframe copy -threads 1 -loop 1 -i "$work/$kind.pcx")
    echo "ffmpeg decode $kind $rate" >>"$results"
    rate=$(per_frame pcx rawvideo -f rawvideo -pix_fmt rgb24 -s 800x600 -stream_loop -1 \
      -i "$work/$kind.rgb")
    echo "ffmpeg encode $kind $rate" >>"$results"
  done
else
  echo "ffmpeg is not installed: skipped" >&2
fi

/usr/bin/python3 - "$results" <<'PY'
import sys
rates = {}
for line in open(sys.argv[1]):
    who, op, kind, rate = line.split()
    rates.setdefault((op, kind), {})[who] = float(rate)
peers = sorted({w for r in rates.values() for w in r if w != "ours"})
print(f"{'operation':<16}{'ours MB/s':>11}" + "".join(f"{p + ' MB/s':>14}" for p in peers)
      + f"{'ours / best peer':>18}")
for op in ("decode", "encode"):
    for kind in ("busy", "sprites"):
        r = rates.get((op, kind), {})
        ours = r.get("ours", 0)
        best = max((r[p] for p in peers if p in r), default=0)
        cells = "".join(f"{r[p]:>14.0f}" if p in r else f"{'-':>14}" for p in peers)
        ratio = f"{ours / best:.2f}x" if best else "-"
        print(f"{op + ' ' + kind:<16}{ours:>11.0f}{cells}{ratio:>18}")
PY
