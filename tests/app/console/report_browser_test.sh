#!/usr/bin/env bash
# A real browser opens the report of the demo library: headless Chromium takes screenshots
# of the page and of one picture's view (kept in ARTIFACTS); every picture icon's PNG must
# have loaded at the size its tile gives, its thumbnail must stand where its crop box is on
# the frame, and its view must give four times the size with square pixels and show only
# when the address names it. The report carries no script; the check loads a copy of it with
# a probe script that writes what it measured into the DOM, which --dump-dom prints.
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

# The probe asks for every image at once (the page lets them wait until they are near the
# window or their view is shown), then writes down each image's natural size and role, where
# each thumbnail stands in its frame, and which views show: the probe page is opened at the
# first picture's view, which alone must show.
sed 's|</body>|<script>\
for (const img of document.images) img.loading = "eager";\
addEventListener("load", () => {\
  for (const img of document.images) {\
    img.setAttribute("data-natural", img.complete \&\& img.naturalWidth > 0 ?\
                     img.naturalWidth + "x" + img.naturalHeight : "failed");\
    const role = img.closest("section.view") ? "view" :\
                 img.parentElement.classList.contains("frame") ? "frame" : "tile";\
    img.setAttribute("data-role", role);\
    img.setAttribute("data-place", [img.offsetLeft, img.offsetTop, img.offsetWidth,\
                                    img.offsetHeight].join(","));\
    img.setAttribute("data-rendering", getComputedStyle(img).imageRendering);\
  }\
  for (const view of document.querySelectorAll("section.view"))\
    view.setAttribute("data-display", getComputedStyle(view).display);\
  document.body.setAttribute("data-probed", "yes");\
});\
</script></body>|' "$report/index.html" >"$report/probe.html"
first=$(grep -o 'id="view-[0-9]*"' "$report/index.html" | head -1 | sed 's/id="\(.*\)"/\1/')
"$browser" "${flags[@]}" --virtual-time-budget=10000 --dump-dom "file://$report/probe.html#$first" \
  >"$artifacts/dom.html" 2>"$artifacts/chromium-dom.log"
rm -f "$report/probe.html"
# The first picture's view as the user sees it after a click.
"$browser" "${flags[@]}" --screenshot="$artifacts/view.png" "file://$report/index.html#$first" \
  >"$artifacts/chromium-view.log" 2>&1

python3 - "$artifacts/dom.html" "$report" "$first" <<'EOF'
import html.parser, os, re, struct, sys
dom, folder, first = sys.argv[1], sys.argv[2], sys.argv[3]

class Images(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.images, self.views, self.probed = [], {}, False
    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "img":
            self.images.append(a)
        if tag == "section" and a.get("class") == "view":
            self.views[a.get("id")] = a.get("data-display")
        if tag == "body" and a.get("data-probed") == "yes":
            self.probed = True

page = Images()
page.feed(open(dom, encoding="utf-8").read())
problems = []
if not page.probed:
    problems.append("the probe did not run: the DOM was dumped before the load event")
pngs = sorted(f for f in os.listdir(folder) if f.endswith(".png"))
if not pngs:
    problems.append("no PNG files")
# Each picture: once in its tile as it is, once in its frame, once in its view at 4x.
for role in ("tile", "frame", "view"):
    srcs = sorted(img.get("src") for img in page.images if img.get("data-role") == role)
    if srcs != pngs:
        problems.append(f"{len(srcs)} {role} images for {len(pngs)} PNG files")
frame_w, frame_h = 160, 120
for img in page.images:
    src, role = img.get("src"), img.get("data-role")
    with open(os.path.join(folder, src), "rb") as f:
        header = f.read(24)
    width, height = struct.unpack(">II", header[16:24])
    if img.get("data-natural") != f"{width}x{height}":
        problems.append(f"{src}: the browser loaded {img.get('data-natural')}, the file is "
                        f"{width}x{height}")
    size = f'{img.get("width")}x{img.get("height")}'
    if role == "tile" and size != f"{width}x{height}":
        problems.append(f"{src}: the file is {width}x{height}, its tile image says {size}")
    if role == "view":
        if size != f"{4 * width}x{4 * height}":
            problems.append(f"{src}: the view says {size}, four times the file is "
                            f"{4 * width}x{4 * height}")
        if img.get("data-rendering") != "pixelated":
            problems.append(f"{src}: the view renders {img.get('data-rendering')}")
    if role == "frame":
        percent = {k: float(v) for k, v in
                   re.findall(r"(left|top|width|height): ([0-9.]+)%", img.get("style", ""))}
        want = [percent.get("left", -1) * frame_w / 100, percent.get("top", -1) * frame_h / 100,
                percent.get("width", -1) * frame_w / 100, percent.get("height", -1) * frame_h / 100]
        got = [int(v) for v in img.get("data-place").split(",")]
        if len(percent) != 4 or any(abs(g - w) > 1 for g, w in zip(got, want)):
            problems.append(f"{src}: the thumbnail stands at {got}, expected {want}")
shown = sorted(name for name, display in page.views.items() if display != "none")
if shown != [first]:
    problems.append(f"views shown at #{first}: {shown}")
for p in problems:
    print("FAIL:", p, file=sys.stderr)
if problems:
    sys.exit(1)
print(f"all {len(pngs)} picture icons loaded in Chromium: tiles, thumbnails and 4x views")
EOF
status=$?
echo "screenshots: $artifacts/report.png, $artifacts/view.png"
exit $status
