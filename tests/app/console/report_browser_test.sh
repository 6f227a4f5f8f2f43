#!/usr/bin/env bash
# A real browser opens the report of the demo library: headless Chromium takes a screenshot
# (kept in ARTIFACTS) and every picture icon's PNG must have loaded at the size its image
# element gives. The report carries no script; the check loads a copy of it with a probe
# script that writes each image's natural size into the DOM, which --dump-dom prints.
# Status 77 (skipped) where Chromium is missing.
#   report_browser_test.sh ZGL DEMO_FOLDER ARTIFACTS
set -u
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "SKIP: Chromium is not installed (tools/install-deps installs it)"
  exit 77
fi
zgl=$1
demo=$2
artifacts=$(realpath -m "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -rf "$artifacts"
mkdir -p "$artifacts"
report=$artifacts/report

cp -R "$demo/." "$work/"
"$zgl" create "$work/demo.zgl" >/dev/null 2>&1
"$zgl" report "$work/demo.zgl" "$report" >"$artifacts/zgl-report.log" 2>&1 \
  || { echo "FAIL: zgl report: $(cat "$artifacts/zgl-report.log")" >&2; exit 1; }
if grep -qi '<script' "$report/index.html"; then
  echo "FAIL: the report carries a script" >&2
  exit 1
fi

# Root needs --no-sandbox; a profile of its own keeps the runs apart.
flags=(--headless --no-sandbox --disable-gpu --no-first-run --hide-scrollbars
       --user-data-dir="$work/profile" --window-size=1280,1400)
"$browser" "${flags[@]}" --screenshot="$artifacts/report.png" "file://$report/index.html" \
  >"$artifacts/chromium-screenshot.log" 2>&1
[ -s "$artifacts/report.png" ] || { echo "FAIL: no screenshot (see $artifacts)" >&2; exit 1; }

sed 's|</body>|<script>\
addEventListener("load", () => {\
  for (const img of document.images)\
    img.setAttribute("data-natural", img.complete \&\& img.naturalWidth > 0 ?\
                     img.naturalWidth + "x" + img.naturalHeight : "failed");\
  document.body.setAttribute("data-probed", "yes");\
});\
</script></body>|' "$report/index.html" >"$report/probe.html"
"$browser" "${flags[@]}" --virtual-time-budget=10000 --dump-dom "file://$report/probe.html" \
  >"$artifacts/dom.html" 2>"$artifacts/chromium-dom.log"
rm -f "$report/probe.html"

python3 - "$artifacts/dom.html" "$report" <<'EOF'
import html.parser, os, struct, sys
dom, folder = sys.argv[1], sys.argv[2]

class Images(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.images, self.probed = [], False
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "img":
            self.images.append(a)
        if tag == "body" and a.get("data-probed") == "yes":
            self.probed = True

page = Images()
page.feed(open(dom, encoding="utf-8").read())
problems = []
if not page.probed:
    problems.append("the probe did not run: the DOM was dumped before the load event")
pngs = sorted(f for f in os.listdir(folder) if f.endswith(".png"))
if len(page.images) != len(pngs) or not pngs:
    problems.append(f"{len(page.images)} image elements for {len(pngs)} PNG files")
for img in page.images:
    src, size = img.get("src"), f'{img.get("width")}x{img.get("height")}'
    with open(os.path.join(folder, src), "rb") as f:
        header = f.read(24)
    width, height = struct.unpack(">II", header[16:24])
    if f"{width}x{height}" != size:
        problems.append(f"{src}: the file is {width}x{height}, the element says {size}")
    if img.get("data-natural") != size:
        problems.append(f"{src}: the browser loaded {img.get('data-natural')}, expected {size}")
for p in problems:
    print("FAIL:", p, file=sys.stderr)
if problems:
    sys.exit(1)
print(f"all {len(page.images)} picture icons loaded in Chromium at their sizes")
EOF
status=$?
echo "screenshot: $artifacts/report.png"
exit $status
