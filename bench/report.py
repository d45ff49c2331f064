#!/usr/bin/python3
"""Turns the RESULT lines of a bench/run.sh run into the table of medians and ratios.

Each line is "RESULT <group> <name> <value>"; a group collects the repetitions of one
measurement. Ratios are medians of the per-round ratios (the updater and its reference
measured back to back in the same round), which cancels most of the drift of a shared
machine; the absolute medians are shown beside them for orientation only.
"""

import collections
import statistics
import sys

MIB = 1024 * 1024


def load(path):
    """The measurements by group and name, and the "INFO <text>" lines about the run."""
    results = collections.defaultdict(lambda: collections.defaultdict(list))
    info = []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            parts = line.split()
            if len(parts) == 4 and parts[0] == "RESULT":
                results[parts[1]][parts[2]].append(float(parts[3]))
            elif parts and parts[0] == "INFO":
                info.append(line[len("INFO "):].rstrip("\n"))
    return results, info


def median(values):
    return statistics.median(values) if values else float("nan")


def paired_ratio(numerators, denominators):
    ratios = [n / d for n, d in zip(numerators, denominators) if d > 0]
    return median(ratios)


def verdict(ok):
    return "met" if ok else "**missed**"


def row(cells):
    return "| " + " | ".join(cells) + " |"


def transfer_rates(group, megabytes):
    return [b / MIB / (ms / 1000) for b, ms in zip(group.get("bytes", []), group.get("wall_ms", []))
            if ms > 0 and b >= megabytes * MIB]


def download_section(results):
    out = ["### Download throughput, MiB/s (median)", ""]
    out.append(row(["package", "n pairs / curl", "updater path", "bare call (a)", "curl (b)", "updater / (a)", "(a) / (b)",
                    "target updater / (a) ≥ 0.95"]))
    out.append(row(["---"] * 8))
    for megabytes in (10, 100, 500):
        groups = {variant: results.get(f"download.{megabytes}.{variant}", {})
                  for variant in ("product", "bare", "curl")}
        product, bare, curl = (transfer_rates(groups[v], megabytes) for v in ("product", "bare", "curl"))
        # The updater and the bare call alternate within a round (a b b a), so the n-th of
        # each pair up; curl runs once a round and is compared by medians.
        ratio = paired_ratio(product, bare)
        target = verdict(ratio >= 0.95) if megabytes >= 100 else "(from 100 MiB)"
        out.append(row([f"{megabytes} MiB", f"{min(len(product), len(bare))} / {len(curl)}",
                        f"{median(product):.1f}", f"{median(bare):.1f}", f"{median(curl):.1f}",
                        f"{ratio:.2f}", f"{median(bare) / median(curl):.2f}", target]))

    # No clock of the platform resolves one notification's CPU time (process CPU comes in
    # 10 ms ticks), so the time inside OnProgress is an upper bound; the estimate prices
    # the notifications with the CPU figures of the notification pricing below: one
    # repaint of the bar from 0 to 100, the others at clock + bar message + empty pump.
    price = results.get("notify.100", {})
    repaint_cpu_ms = median(price.get("bar_jump_cpu_us", [])) / 1000
    plain_ms = sum(median(price.get(k, [])) for k in ("clock_us", "bar_unmoved_us", "pump_empty_us")) / 1000
    out += ["", "### Progress notifications in real transfers (updater path, median)", ""]
    out.append(row(["package", "notifications", "time in OnProgress per transfer", "… per MiB",
                    "… as share of transfer CPU (upper bound)", "estimated OnProgress CPU share",
                    "target ≤ 5 %", "process CPU ms per MiB, updater / bare"]))
    out.append(row(["---"] * 8))
    for megabytes in (10, 100, 500):
        group = results.get(f"download.{megabytes}.product", {})
        on_progress, cpu = group.get("onprogress_ms", []), group.get("cpu_ms", [])
        notifications = median(group.get("notifications", []))
        upper_share = median([o / c for o, c in zip(on_progress, cpu) if c > 0])
        estimate_ms = repaint_cpu_ms + max(notifications - 1, 0) * plain_ms
        estimated_share = estimate_ms / median(cpu) if cpu else float("nan")
        bare_cpu = results.get(f"download.{megabytes}.bare", {}).get("cpu_ms", [])
        out.append(row([f"{megabytes} MiB", f"{notifications:.0f}", f"{median(on_progress):.2f} ms",
                        f"{median([o * 1000 / megabytes for o in on_progress]):.0f} µs",
                        f"{100 * upper_share:.2f} %", f"{100 * estimated_share:.2f} % ({estimate_ms:.2f} ms)",
                        verdict(estimated_share <= 0.05),
                        f"{median(cpu) / megabytes:.1f} / {median(bare_cpu) / megabytes:.1f}"]))
    first = results.get("download.100.product", {})
    if first:
        out.append("")
        out.append(f"During a 100 MiB transfer {median(first.get('messages', [])):.0f} messages were taken off "
                   f"the queue, {median(first.get('messages_in_progress', [])):.0f} of them by the updater's pump; "
                   f"deepest nesting of notifications {median(first.get('nesting', [])):.0f}; "
                   f"bar at the end {median(first.get('bar', [])):.0f}.")

    if price:
        product_ms = median(price.get("product_wall_ms", []))
        calls = median(price.get("notifications", []))
        out += ["", "### Price of one notification (no transfer: 12,800 notifications for 100 MiB, one per 8 KiB,"
                    " fed into the updater's callback; median)", ""]
        out.append(row(["whole notification", "clock", "bar message, bar unmoved", "pump, empty queue",
                        "bar moved 1 % and repainted (CPU)", "bar moved 0 → 100 and repainted (CPU)",
                        "all 12,800 with 100 repaints (CPU)", "callback doing nothing, all 12,800"]))
        out.append(row(["---"] * 8))
        out.append(row([f"{product_ms * 1000 / calls:.1f} µs", f"{median(price.get('clock_us', [])):.1f} µs",
                        f"{median(price.get('bar_unmoved_us', [])):.1f} µs",
                        f"{median(price.get('pump_empty_us', [])):.1f} µs",
                        f"{median(price.get('bar_step_us', [])) / 1000:.2f} ms "
                        f"({median(price.get('bar_step_cpu_us', [])) / 1000:.2f} ms)",
                        f"{median(price.get('bar_jump_us', [])) / 1000:.2f} ms "
                        f"({median(price.get('bar_jump_cpu_us', [])) / 1000:.2f} ms)",
                        f"{product_ms:.0f} ms ({median(price.get('product_cpu_ms', [])):.0f} ms CPU)",
                        f"{median(price.get('nothing_wall_ms', [])):.2f} ms"]))
    return out


def guard_section(results):
    out = ["### Guard latency: one RunCloseAppsGuard count (three walks), ms, median", ""]
    out.append(row(["family", "extra processes", "processes seen", "n", "RunCloseAppsGuard", "minimal walk ×3",
                    "ratio", "target ≤ 1.2"]))
    out.append(row(["---"] * 8))
    for family, name in (("nt", "NT (Psapi.dll)"), ("9x", "9x (Toolhelp)")):
        for extra in (0, 50, 200):
            group = results.get(f"guard.{family}.x{extra}", {})
            product, minimal = group.get("product_ms", []), group.get("minimal_ms", [])
            ratio = paired_ratio(product, minimal)
            out.append(row([name, str(extra), f"{median(group.get('processes', [])):.0f}", str(len(product)),
                            f"{median(product):.1f}", f"{median(minimal):.1f}", f"{ratio:.2f}",
                            verdict(ratio <= 1.2)]))
    return out


def startup_section(results):
    group = results.get("startup", {})
    product, minimal = group.get("product_ms", []), group.get("minimal_ms", [])
    ratio = paired_ratio(product, minimal)
    return ["### Start-up: process start to the dialog ready, ms, median", "",
            row(["n", "Seekwell.exe (status 522 set)", "minimal dialog program", "ratio", "target ≤ 1.5"]),
            row(["---"] * 5),
            row([str(len(product)), f"{median(product):.1f}", f"{median(minimal):.1f}", f"{ratio:.2f}",
                 verdict(ratio <= 1.5)])]


def size_section(results):
    size = results.get("size", {})
    seekwell = median(size.get("seekwell_bytes", []))
    static = median(size.get("static_runtime", [])) == 1
    out = ["### Size and memory", "",
           row(["what", "value", "target"]), row(["---"] * 3),
           row(["Seekwell.exe", f"{seekwell / 1024:.1f} KiB ({seekwell:.0f} bytes), runtime "
                                f"{'static' if static else '**not static**'}",
                f"< 400 KB, static: {verdict(seekwell < 400 * 1000 and static)}"]),
           row(["Res.dll (English)", f"{median(size.get('res_dll_bytes', [])) / 1024:.1f} KiB", "(none)"])]
    road = {m: results.get(f"road.{m}", {}) for m in (10, 100, 500)}
    for megabytes, group in road.items():
        if group:
            ok = median(group.get("ok", [])) == 1
            out.append(row([f"Seekwell.exe peak working set, {megabytes} MiB download (whole road)",
                            f"{median(group.get('peak_ws_kib', [])) / 1024:.1f} MiB"
                            f"{'' if ok else ' (download failed)'}; transfer "
                            f"{median(group.get('transfer_ms', [])) / 1000:.1f} s; copy left in the internet cache "
                            f"{median(group.get('cache_left_kib', [])) / 1024:.0f} MiB", ""]))
    small, large = road[10].get("peak_ws_kib", []), road[500].get("peak_ws_kib", [])
    if small and large:
        ratio = median(large) / median(small)
        out.append(row(["peak working set 500 MiB / 10 MiB (Seekwell.exe)", f"{ratio:.2f}",
                        f"independent of size (≤ 1.1): {verdict(ratio <= 1.1)}"]))
    for megabytes in (10, 100, 500):
        product = results.get(f"download.{megabytes}.product", {}).get("peak_ws_kib", [])
        bare = results.get(f"download.{megabytes}.bare", {}).get("peak_ws_kib", [])
        if product:
            out.append(row([f"peak working set of one transfer, {megabytes} MiB (updater path / bare call)",
                            f"{median(product) / 1024:.1f} / {median(bare) / 1024:.1f} MiB", ""]))
    return out


def real_route_section(results):
    product = results.get("download.real100.product", {})
    bare = results.get("download.real100.bare", {})
    if not product.get("wall_ms"):
        return []
    rates = transfer_rates(product, 100)
    bare_rates = transfer_rates(bare, 100)
    return ["### 100 MiB through nginx and squid, MiB/s (median)", "",
            row(["n pairs", "updater path (with its check)", "bare call, same route", "updater / bare"]),
            row(["---"] * 4),
            row([str(min(len(rates), len(bare_rates))), f"{median(rates):.1f}", f"{median(bare_rates):.1f}",
                 f"{paired_ratio(bare.get('wall_ms', []), product['wall_ms']):.2f}"])]


def hash_section(results):
    out = ["### Package check (size and SHA-256 of the file), ms, median", "",
           row(["package", "n pairs", "updater's check", "bare CryptoAPI loop", "speed updater / bare",
                "target ≥ 0.9", "share of the updater's download", "peak working set, KiB"]),
           row(["---"] * 8)]
    for megabytes in (10, 100, 500):
        product = results.get(f"hash.{megabytes}.product", {})
        bare = results.get(f"hash.{megabytes}.bare", {})
        if not product.get("wall_ms"):
            continue
        speed = paired_ratio(bare.get("wall_ms", []), product["wall_ms"])
        download = median(results.get(f"download.{megabytes}.product", {}).get("wall_ms", []))
        share = median(product["wall_ms"]) / download if download == download and download > 0 else float("nan")
        out.append(row([f"{megabytes} MiB", str(min(len(product["wall_ms"]), len(bare.get("wall_ms", [])))),
                        f"{median(product['wall_ms']):.0f}", f"{median(bare.get('wall_ms', [])):.0f}",
                        f"{speed:.2f}", verdict(speed >= 0.9), f"{share:.0%}",
                        f"{median(product.get('peak_ws_kib', [])):.0f}"]))
    return out


def install_section(results):
    out = ["### Install's checks on the held package: the installer's signature after the hash pass, ms, median", "",
           row(["package (signed installer)", "n", "accepted", "size and SHA-256", "Authenticode and pin",
                "signature / hash", "peak working set, KiB"]),
           row(["---"] * 7)]
    for megabytes in (10, 100):
        group = results.get(f"install.{megabytes}", {})
        if not group.get("hash_ms"):
            continue
        out.append(row([f"{megabytes} MiB", str(len(group["hash_ms"])), f"{sum(group.get('ok', [])):.0f}",
                        f"{median(group['hash_ms']):.0f}",
                        f"{median(group.get('signature_ms', [])):.0f}",
                        f"{paired_ratio(group.get('signature_ms', []), group['hash_ms']):.2f}",
                        f"{median(group.get('peak_ws_kib', [])):.0f}"]))
    return out


def check_section(results):
    out = ["### Version check: Start pressed to the message box, ms, median", "",
           row(["server", "n", "Seekwell.exe", "minimal dialog, same calls", "bare request in-process",
                "Seekwell / minimal", "Seekwell / bare request"]),
           row(["---"] * 7)]
    for label, name in (("now", "answers at once"), ("delay100", "answers after 100 ms")):
        group = results.get(f"check.{label}", {})
        product, minimal, request = (group.get(k, []) for k in ("product_ms", "minimal_ms", "request_ms"))
        out.append(row([name, str(len(product)), f"{median(product):.1f}", f"{median(minimal):.1f}",
                        f"{median(request):.1f}", f"{paired_ratio(product, minimal):.2f}",
                        f"{paired_ratio(product, request):.2f}"]))
    return out


def main():
    results, info = load(sys.argv[1])
    sections = [download_section, real_route_section, hash_section, install_section, guard_section, startup_section, size_section, check_section]
    lines = [f"- {text}" for text in info] + [""]
    for section in sections:
        lines.extend(section(results))
        lines.append("")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
