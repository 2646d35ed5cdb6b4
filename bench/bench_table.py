#!/usr/bin/env python3
"""Prints the one comparison table of scripts/bench.

Usage: bench_table.py BENCH_JSON [RSS_JSONL] [APP_JSONL] [PROCESS_JSONL]
  BENCH_JSON     velmora_bench --benchmark_format=json output (medians used when repeated)
  RSS_JSONL      velmora_rss lines, one per decoder
  APP_JSONL      bench/app_bench lines
  PROCESS_JSONL  bench/process_bench lines (whole processes)

Each row: the case, our figure, each peer's figure, and "lead": how many times better ours is
than the best peer (throughput: ours / best; memory, CPU and times: best / ours), so above 1 we
lead.
"""
import json
import sys

# "before": an earlier anigif (process_bench --before), in the whole-process rows only.
PEERS = ["giflib", "stb", "qt", "gdk-pixbuf", "before"]

# benchmark family -> (section title, unit, who is who)
SECTIONS = [
    ("load", "decode all frames to indices (our load vs DGifSlurp)", "Mpx/s", ">= 2.3x giflib"),
    ("lzw", "raw LZW to indices (decoder alone)", "Mpx/s", ""),
    ("frames", "decode to composited frames", "Mpx/s", "> 1x every peer"),
    ("paint", "frame paint (step + Refresh; qt: clear + drawImage of a frame decoded beforehand)",
     "Mpx/s", ""),
    ("encode", "encode one frame", "Mpx/s", ">= 1.5x giflib"),
    ("memory", "bytes held per decoded frame pixel", "B/px", "~1 B/px"),
    ("rss", "peak resident memory added, generated 400x300x200 (lead against the decoders that "
     "hold every frame, stb and QMovie; gdk-pixbuf composes each frame on demand)", "MiB", ""),
    ("process", "whole processes side by side (bench/process_bench): ms (wall: elapsed, cpu: "
     "user + system), png bytes kB, peak RSS MiB; lower is better", "",
     "frames >= 2x qt, png >= 3x before at <= 1.1x its bytes, encode >= 1.5x giflib"),
    ("app", "the app (velmora-radio under Xvfb)", "",
     "idle < 0.5% of a core, PSS <= 200 MiB, playing <= mpv + 0.3% of a core"),
]


def app_lead(r):
    """The lead of an app row with a limit (limit / ours) or a peer program (the peer's figure,
    and the peer's plus the allowance over ours); empty for the others."""
    value = r.get("value")
    if value is None:
        return ""
    if "limit" in r:
        return f"{r['limit'] / value:.2f}x of {r['limit']}" if value > 0 else ""
    if "peer_value" in r:
        peer, allowed = r["peer_value"], r["peer_value"] + r.get("allowance", 0)
        ratio = f"{allowed / value:.2f}x" if value > 0 else "-"
        return f"{r['peer']} {peer:.2f}; {ratio} of {allowed:.2f}"
    return ""


def classify(name):
    """(section, case, who) of a benchmark run name, or None."""
    parts = name.split("/")
    if parts[0] in ("GifVelmora", "GifGiflib", "GifStb") and len(parts) >= 2:
        who = {"GifVelmora": "velmora", "GifGiflib": "giflib", "GifStb": "stb"}[parts[0]]
        return "lzw", "/".join(parts[1:]), who
    families = {"Load": "load", "Frames": "frames", "Paint": "paint", "Encode": "encode"}
    if parts[0] in families and len(parts) >= 3:
        return families[parts[0]], "/".join(parts[2:]), parts[1]
    return None


def read_bench(path, rows):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data.get("benchmarks", []):
        aggregate = b.get("aggregate_name")
        if b.get("run_type") == "aggregate" and aggregate != "median":
            continue
        name = b.get("run_name", b["name"])
        # Prefer the median over single repetitions of the same run.
        if name in runs and aggregate != "median":
            continue
        runs[name] = b
    for name, b in runs.items():
        c = classify(name)
        if c is None:
            continue
        section, case, who = c
        if b.get("error_occurred"):
            value = None
        else:
            value = b.get("bytes_per_second", 0.0) / 1e6
        rows.setdefault((section, case), {})[who] = value
        if section == "load" and not b.get("error_occurred") and "bytes_per_px" in b:
            mem = rows.setdefault(("memory", case), {})
            if who == "velmora":
                mem["velmora"] = b["bytes_per_px"]
                # Decoders that keep RGBA frames hold four bytes per frame pixel.
                for peer in ("stb", "qt", "gdk-pixbuf"):
                    mem[peer] = 4.0


def read_jsonl(path):
    out = []
    try:
        with open(path) as f:
            for line in f:
                line = line.strip()
                if line.startswith("{"):
                    out.append(json.loads(line))
    except OSError:
        pass
    return out


# Peers that do not do the same job are shown but left out of the lead: gdk-pixbuf's animation
# keeps the compressed frames and composes each one on demand into one reused pixbuf, so its
# peak is not that of holding every frame.
LEAD_EXCLUDED = {"rss": {"gdk-pixbuf"}}


# Whole-process rows are led against the peer their target names (the best peer otherwise).
def reference_peer(case, values):
    kind = case.split(" ")[0]
    if kind in ("decode", "encode"):
        return "giflib"
    if kind == "frames":
        return "qt"
    if kind == "png":
        return "before" if values.get("before") is not None else "qt"
    return None


def lead(section, values, case=""):
    ours = values.get("velmora")
    if section == "process":
        peer = reference_peer(case, values)
        theirs = values.get(peer) if peer else None
        if peer and theirs is not None and ours:
            if ours < 0 or theirs < 0:
                return f"n/a {peer}"
            return f"{theirs / ours:.2f}x {peer}"
    excluded = LEAD_EXCLUDED.get(section, set())
    peers = [values[p] for p in PEERS if values.get(p) is not None and p not in excluded]
    if ours is None or not peers or ours == 0:
        return ""
    lower_is_better = section in ("memory", "rss", "process")
    best = min(peers) if lower_is_better else max(peers)
    ratio = best / ours if lower_is_better else ours / best
    return f"{ratio:.2f}x"


def fmt(v):
    if v is None:
        return "fail"
    if v >= 100:
        return f"{v:.0f}"
    if v >= 10:
        return f"{v:.1f}"
    return f"{v:.2f}"


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    rows = {}
    read_bench(sys.argv[1], rows)
    if len(sys.argv) > 2:
        for r in read_jsonl(sys.argv[2]):
            who = {"qmovie": "qt"}.get(r["decoder"], r["decoder"])
            ok = r.get("frames") == r.get("expected_frames")
            rows.setdefault(("rss", "peak added (qt: QMovie CacheAll)"), {})[who] = (
                r["added_kb"] / 1024.0 if ok else None)
            rows.setdefault(("rss", "added per frame pixel (B/px)"), {})[who] = (
                r["added_bytes_per_px"] if ok else None)
    app = read_jsonl(sys.argv[3]) if len(sys.argv) > 3 else []
    if len(sys.argv) > 4:
        for r in read_jsonl(sys.argv[4]):
            rows.setdefault(("process", r["case"]), {})[r["who"]] = r.get("value")

    header = ["case", "velmora"] + PEERS + ["lead"]
    lines = []
    for section, title, unit, target in SECTIONS:
        cases = [case for (s, case) in rows if s == section]
        if section == "app":
            if not app:
                continue
            lines.append(("#", f"{title}{'  [target ' + target + ']' if target else ''}"))
            for r in app:
                lines.append([f"{r['case']} ({r['unit']})", fmt(r.get("value"))] +
                             [""] * len(PEERS) + [app_lead(r)])
            continue
        if not cases:
            continue
        # Corpus-wide rows first, then files in name order; whole-process rows as measured.
        if section != "process":
            cases.sort(key=lambda c: (c != "corpus", c))
        lines.append(("#", f"{title}{', ' + unit if unit else ''}"
                            f"{'  [target ' + target + ']' if target else ''}"))
        for case in cases:
            values = rows[(section, case)]
            lines.append([case, fmt(values.get("velmora"))] +
                         [fmt(values[p]) if p in values else "-" for p in PEERS] +
                         [lead(section, values, case)])

    widths = [len(h) for h in header]
    for line in lines:
        if line[0] != "#":
            widths = [max(w, len(c)) for w, c in zip(widths, line)]
    def render(cells):
        return "  ".join(c.ljust(widths[0]) if i == 0 else c.rjust(widths[i])
                         for i, c in enumerate(cells))
    print(render(header))
    print("  ".join("-" * w for w in widths))
    for line in lines:
        if line[0] == "#":
            print(f"\n{line[1]}")
        else:
            print(render(line))
    print("\nlead: ours against the best peer (throughput ours/best, memory best/ours; whole "
          "processes: against the peer named); above 1.00x we lead. '-': peer not run, 'fail': "
          "it could not decode the file; 'n/a': a difference below the noise (negative).")
    return 0


if __name__ == "__main__":
    sys.exit(main())
