#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Turns what bench/run measured into the tables of docs/performance.md and
checks the targets.

    bench/report.py [--doc FILE] [--no-check] RESULTS TABLE...

RESULTS is the folder bench/run measures into. Each TABLE is one of
time-to-main, launcher-work, parser, class-cache, targets (made here from the
measurements) and machine (written by bench/run); each is written to RESULTS/TABLE.md and
printed, and with --doc it replaces what lies between <!-- bench:TABLE -->
and <!-- /bench:TABLE --> in FILE. The parser table also writes
RESULTS/parse-time.dat for the plot.

Exit status: 0; 1 when the targets table shows a missed target (all tables are
written first), unless --no-check, and 1 too when FILE lacks a table's markers
or RESULTS a table's measurements; 2 on a usage error.
"""

import argparse
import decimal
import glob
import json
import os
import statistics
import sys

# ---------------------------------------------------------------------------
# The targets
# ---------------------------------------------------------------------------

# Time to main, per configuration that bench/run measures (the second field
# of ttm/cases.txt): the most that velta-java's median time may be of each
# other launcher's, on every JDK. A configuration named here that bench/run
# did not measure counts as a missed target.
TIME_TO_MAIN_AT_MOST = {
    "trivial": {"java": 1.02, "floor": 1.02},
    "large": {"java": 1.02, "floor": 1.02},
    # The floor is handed the class path already expanded: against it the
    # table shows what reading the folder costs, which java pays too.
    "wildcard": {"java": 1.02},
    # velta-java starts a thread for main's stack, as java does; the floor
    # runs all on its first thread.
    "xss": {"java": 1.02},
    # The jar run as java -jar runs it: reading its manifest before the VM
    # is made must cost nothing measurable. The floor reads no manifest.
    "mainjar": {"java": 1.02},
    # The trivial configuration with "ready = port 8080" under a
    # NOTIFY_SOCKET, against the same without the key: what watching for
    # the listener costs before main.
    "ready": {"velta-java without the key": 1.02},
}
# The other targets are checked once a full run has measured the largest
# generated configuration.
LARGEST = "64M"
PARSE_AGAINST_INIH_AT_LEAST = 1  # throughput ratio on every generated text: "at least as fast"
LARGEST_LAUNCH_UNDER_SECONDS = 0.3  # median wall time of the whole launch
PEAK_UNDER_FILE_SIZE_TIMES = 3  # peak resident memory, whole launch and read-and-parse alone

LAUNCHERS = ("velta-java", "java", "floor")  # the time-to-main table's columns

# The class cache, on every JDK measured, by the kind of cache velta-java
# keeps there (bench/run's cache/cases.txt): the most that the median time
# of the first command may be of the second's. "velta-java" runs with a warm
# cache, "velta-java-first" on an empty one (it writes a dynamic archive at
# exit, or records for an AOT cache that its maker makes after it), "java"
# without an archive and "java+archive" with the options velta-java adds for
# a dynamic archive and one that java made: on JDK 17 the archive velta-java
# keeps, on JDK 25 the kind it kept before its AOT cache. An AOT cache is to
# take less peak memory than that dynamic archive, too.
CLASS_CACHE_AT_MOST = {
    "dynamic": (("velta-java", "java", 0.75), ("velta-java", "java+archive", 1.02), ("velta-java-first", "java", 1.5)),
    "aot": (("velta-java", "java", 0.55), ("velta-java", "java+archive", 0.88), ("velta-java-first", "java", 4)),
}
CLASS_CACHE_PEAK_BELOW = {"aot": ("velta-java", "java+archive")}
CLASS_CACHE_COMMANDS = ("java", "velta-java", "java+archive", "velta-java-first")
CLASS_CACHE_TITLES = {"java": "java", "velta-java": "velta-java, warm cache",
                      "java+archive": "java + a dynamic archive", "velta-java-first": "velta-java, first run"}
CLASS_CACHE_SHORT = {"java": "java", "velta-java": "warm", "java+archive": "java + archive",
                     "velta-java-first": "first run"}


# ---------------------------------------------------------------------------
# Numbers as the tables show them
# ---------------------------------------------------------------------------

def rounded(value, digits):
    """value rounded to 1/digits, halves away from zero (as C's round)."""
    scaled = decimal.Decimal(value * digits).to_integral_value(rounding=decimal.ROUND_HALF_UP)
    return float(scaled) / digits


def number(value):
    """The shortest text that reads back as value, without a trailing ".0"."""
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def median(values):
    return statistics.median(values) if values else None


def read_json(path):
    with open(path, encoding="utf-8") as file:
        return json.load(file)


def read_lines(path):
    with open(path, encoding="utf-8") as file:
        return file.read().splitlines()


def read_load(results, table):
    """{"before"/"after": (date, load average)} as bench/run noted them."""
    notes = {}
    for line in read_lines(os.path.join(results, table + ".load")):
        when, date, load = line.split("\t")
        notes[when] = (date, load)
    return notes


# ---------------------------------------------------------------------------
# 1. Time to main
# ---------------------------------------------------------------------------

def read_rounds(pattern, commands):
    """{command: [times of each round]} from the hyperfine files that match
    pattern, one round each."""
    rounds = {command: [] for command in commands}
    for path in sorted(glob.glob(pattern)):
        for result in read_json(path)["results"]:
            rounds.setdefault(result["command"], []).append(result["times"])
    return rounds


def time_to_main_cases(results):
    """[(label, configuration, {launcher: [times of each round]})] in the
    order bench/run ran them; a round is one file of hyperfine's."""
    cases = []
    for line in read_lines(os.path.join(results, "ttm", "cases.txt")):
        jdk, configuration = line.split("\t")
        rounds = read_rounds(os.path.join(results, "ttm", f"{jdk}-{configuration}.round*.json"), LAUNCHERS)
        cases.append((f"{jdk}, {configuration}", configuration, rounds))
    return cases


def pooled_median(rounds, launcher):
    return median([time for times in rounds[launcher] for time in times])


def ratio(rounds, launcher, of="velta-java"):
    """of's median time over launcher's, or None if one did not run."""
    velta, other = pooled_median(rounds, of), pooled_median(rounds, launcher)
    return None if velta is None or other is None else velta / other


def paired_ratio(rounds, launcher, of="velta-java"):
    """The median of the ratios of the runs of the same round."""
    return median([velta / other
                   for velta_times, other_times in zip(rounds[of], rounds[launcher])
                   for velta, other in zip(velta_times, other_times)])


def ratio_cell(rounds, launcher, of="velta-java"):
    """The ratio of the medians in bold and, in brackets, the paired one."""
    of_medians = ratio(rounds, launcher, of)
    return "" if of_medians is None else (f"**{number(rounded(of_medians, 1000))}**"
                                          f" ({number(rounded(paired_ratio(rounds, launcher, of), 1000))})")


def time_to_main_table(results):
    # One row per case: the median of each launcher's runs, velta-java's
    # median over each other's, and in brackets the median of the ratios of
    # the runs of the same round.
    load = read_load(results, "time-to-main")
    lines = [f"Measured {load['before'][0]}; load average before: {load['before'][1]}.", "",
             "| JDK, configuration | runs each | velta-java ms | java ms | floor ms"
             " | velta-java / java | velta-java / floor |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    for label, _, rounds in time_to_main_cases(results):
        cells = [label, str(sum(len(times) for times in rounds["velta-java"]))]
        for launcher in LAUNCHERS:
            time = pooled_median(rounds, launcher)
            cells.append("" if time is None else number(rounded(time * 1000, 10)))
        cells += [ratio_cell(rounds, launcher) for launcher in LAUNCHERS[1:]]
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", f"Load average after: {load['after'][1]}."]
    return lines


# ---------------------------------------------------------------------------
# 2. The launcher's own work
# ---------------------------------------------------------------------------

WORK_TITLES = {
    "launch": "Whole launch (`velta-java java FILE`): read, parse, build the VM options,"
              " load the stand-in VM library",
    "parse": "Read and parse only (`velta-java parse-only FILE`: a launcher section that names no section)",
}


def peak_memory(results):
    """[(size, bytes, {"launch": KiB, "parse": KiB})] from smallest to largest."""
    rows = []
    for line in read_lines(os.path.join(results, "configs", "peak-memory.txt")):
        size, size_bytes, launch_kib, parse_kib = line.split()
        rows.append((size, int(size_bytes), {"launch": int(launch_kib), "parse": int(parse_kib)}))
    return rows


def hyperfine_run(results, size, command):
    path = os.path.join(results, "configs", f"{size}.json")
    return next(run for run in read_json(path)["results"] if run["command"] == command)


def launcher_work_table(results):
    # The smallest configuration costs what the process itself costs; from
    # 1 MB on, each row also shows what it costs beyond that, per MB and per
    # byte of file: flat columns mean a cost that grows linearly with the
    # size. On a busy machine a short run's wall time mostly measures the wait
    # for a processor; its CPU time (user + system, the mean of the runs)
    # does not.
    date, load = read_load(results, "launcher-work")["after"]
    lines = [f"Measured {date}; load average after: {load}."]
    sizes = peak_memory(results)
    smallest = sizes[0]
    for command, title in WORK_TITLES.items():
        base = hyperfine_run(results, smallest[0], command)
        base_cpu, base_kib = base["user"] + base["system"], smallest[2][command]
        lines += ["", f"{title}:", "",
                  f"| configuration | wall ms (median) | CPU ms | CPU ms per MB beyond {smallest[0]}"
                  f" | peak memory MiB | peak memory / file size | peak beyond {smallest[0]} / file size |",
                  "|---|---:|---:|---:|---:|---:|---:|"]
        for size, size_bytes, peak in sizes:
            run = hyperfine_run(results, size, command)
            cpu, kib = run["user"] + run["system"], peak[command]

            def from_1m(value, digits):
                return "" if size_bytes < 1048576 else number(rounded(value, digits))

            cells = [size, number(rounded(median(run["times"]) * 1000, 100)), number(rounded(cpu * 1000, 100)),
                     from_1m((cpu - base_cpu) * 1000 / (size_bytes / 1048576), 100),
                     number(rounded(kib / 1024, 10)), from_1m(kib * 1024 / size_bytes, 100),
                     from_1m((kib - base_kib) * 1024 / size_bytes, 100)]
            lines.append("| " + " | ".join(cells) + " |")
    return lines


# ---------------------------------------------------------------------------
# 3. Parser throughput
# ---------------------------------------------------------------------------

def parse_benchmarks(results):
    """{name: benchmark}, in the order run; with repetitions, the medians
    under their plain names; a single run reports itself."""
    benchmarks = read_json(os.path.join(results, "parse.json"))["benchmarks"]
    if any(benchmark.get("aggregate_name") == "median" for benchmark in benchmarks):
        return {benchmark["run_name"]: benchmark for benchmark in benchmarks
                if benchmark.get("aggregate_name") == "median"}
    return {benchmark["name"]: benchmark for benchmark in benchmarks}


def parser_pairs(benchmarks):
    """[(text, velta's benchmark, inih's)] in the order run; cpu_time in ns."""
    return [(name.removeprefix("parse/velta/"), velta, benchmarks["parse/inih/" + name.removeprefix("parse/velta/")])
            for name, velta in benchmarks.items() if name.startswith("parse/velta/")]


def text_bytes(benchmark):
    return benchmark["bytes_per_second"] * benchmark["cpu_time"] / 1e9


def parser_table(results):
    date, load = read_load(results, "parser")["before"]
    benchmarks = parse_benchmarks(results)
    pairs = parser_pairs(benchmarks)
    lines = [f"Measured {date}; load average before: {load}.", "",
             "| text | velta ms | velta MB/s | inih ms | inih MB/s | velta / inih throughput |",
             "|---|---:|---:|---:|---:|---:|"]
    for text, velta, inih in sorted(pairs, key=lambda pair: text_bytes(pair[1])):
        lines.append(f"| {text} | {number(rounded(velta['cpu_time'] / 1e6, 10000))}"
                     f" | {number(rounded(velta['bytes_per_second'] / 1048576, 1))}"
                     f" | {number(rounded(inih['cpu_time'] / 1e6, 10000))}"
                     f" | {number(rounded(inih['bytes_per_second'] / 1048576, 1))}"
                     f" | **{number(rounded(velta['bytes_per_second'] / inih['bytes_per_second'], 100))}** |")
    lines += ["", "| split_arguments on 1 MB | ms | MB/s |", "|---|---:|---:|"]
    for name in sorted(name for name in benchmarks if name.startswith("split_arguments/")):
        split = benchmarks[name]
        lines.append(f"| {name.removeprefix('split_arguments/').removesuffix('/1MB')}"
                     f" | {number(rounded(split['cpu_time'] / 1e6, 1000))}"
                     f" | {number(rounded(split['bytes_per_second'] / 1048576, 1))} |")
    # For the plot: size in bytes, then parse milliseconds of velta and inih.
    with open(os.path.join(results, "parse-time.dat"), "w", encoding="utf-8") as plot:
        for _, velta, inih in sorted(pairs, key=lambda pair: text_bytes(pair[1])):
            plot.write(f"{number(rounded(text_bytes(velta), 1))} {number(velta['cpu_time'] / 1e6)}"
                       f" {number(inih['cpu_time'] / 1e6)}\n")
    return lines


# ---------------------------------------------------------------------------
# 4. The class cache
# ---------------------------------------------------------------------------

def class_cache_cases(results):
    """[(jdk, kind, {command: [times of each round]})] in the order run."""
    cases = []
    for line in read_lines(os.path.join(results, "cache", "cases.txt")):
        jdk, kind = line.split("\t")
        cases.append((jdk, kind, read_rounds(os.path.join(results, "cache", f"{jdk}.round*.json"), CLASS_CACHE_COMMANDS)))
    return cases


def class_cache_peaks(results):
    """{jdk: {command: KiB}}"""
    peaks = {}
    for line in read_lines(os.path.join(results, "cache", "peak-memory.txt")):
        jdk, command, kib = line.split("\t")
        peaks.setdefault(jdk, {})[command] = int(kib)
    return peaks


def class_cache_table(results):
    # Times as in the time-to-main table: medians, the ratio of the medians
    # and, in brackets, the median of the ratios within each round.
    load = read_load(results, "class-cache")
    pairs = CLASS_CACHE_AT_MOST["dynamic"]  # the same three ratios for each kind, with other bounds
    lines = [f"Measured {load['before'][0]}; load average before: {load['before'][1]}.", "",
             "| JDK, cache | runs each | " + " | ".join(f"{CLASS_CACHE_TITLES[command]} ms" for command in CLASS_CACHE_COMMANDS)
             + " | " + " | ".join(f"{CLASS_CACHE_SHORT[of]} / {CLASS_CACHE_SHORT[over]}" for of, over, _ in pairs) + " |",
             "|---|---:|" + "---:|" * (len(CLASS_CACHE_COMMANDS) + len(pairs))]
    for jdk, kind, rounds in class_cache_cases(results):
        cells = [f"{jdk}, {kind}", str(sum(len(times) for times in rounds["velta-java"]))]
        cells += [number(rounded(pooled_median(rounds, command) * 1000, 1)) for command in CLASS_CACHE_COMMANDS]
        cells += [ratio_cell(rounds, over, of) for of, over, _ in pairs]
        lines.append("| " + " | ".join(cells) + " |")
    lines += ["", f"Load average after: {load['after'][1]}.", "",
              "| JDK | peak memory MiB: java | velta-java, warm cache | java + a dynamic archive | saved by the cache |",
              "|---|---:|---:|---:|---:|"]
    for jdk, peak in class_cache_peaks(results).items():
        saved = peak["java"] - peak["velta-java"]
        lines.append(f"| {jdk} | " + " | ".join(number(rounded(peak[command] / 1024, 10))
                                                for command in ("java", "velta-java", "java+archive"))
                     + f" | {number(rounded(saved / 1024, 10))} MiB ({round(100 * saved / peak['java'])}%) |")
    return lines


# ---------------------------------------------------------------------------
# Targets
# ---------------------------------------------------------------------------

def met(yes):
    return "yes" if yes else "**no**"


def time_to_main_targets(results):
    """[(target, measured, met)], one per case with targets, in the order
    run, then one for each configuration with targets that was not run."""
    def target(bounds):
        if len(set(bounds.values())) == 1:
            return (" and ".join(f"velta-java / {launcher}" for launcher in bounds)
                    + f" <= {number(next(iter(bounds.values())))}")
        return " and ".join(f"velta-java / {launcher} <= {number(bound)}" for launcher, bound in bounds.items())

    rows = []
    cases = time_to_main_cases(results)
    for label, configuration, rounds in cases:
        bounds = TIME_TO_MAIN_AT_MOST.get(configuration)
        if bounds is None:
            continue
        ratios = [ratio(rounds, launcher) for launcher in bounds]
        if None in ratios:
            rows.append((f"time to main, {label}: {target(bounds)}", "not measured", False))
        else:
            rows.append((f"time to main, {label}: {target(bounds)}", " and ".join(f"{value:.3f}" for value in ratios),
                         all(value <= bound for value, bound in zip(ratios, bounds.values()))))
    run = {case[1] for case in cases}
    rows += [(f"time to main, {configuration}: {target(bounds)}", "not measured", False)
             for configuration, bounds in TIME_TO_MAIN_AT_MOST.items() if configuration not in run]
    return rows


def class_cache_targets(results):
    """[(target, measured, met)], one per JDK measured and bound."""
    rows = []
    peaks = class_cache_peaks(results)
    for jdk, kind, rounds in class_cache_cases(results):
        for of, over, bound in CLASS_CACHE_AT_MOST[kind]:
            value = ratio(rounds, over, of)
            rows.append((f"class cache, {jdk}, {kind}: {CLASS_CACHE_TITLES[of]} / {CLASS_CACHE_TITLES[over]}"
                         f" <= {number(bound)}",
                         "not measured" if value is None else f"{value:.3f}",
                         value is not None and value <= bound))
        if kind in CLASS_CACHE_PEAK_BELOW:
            of, over = CLASS_CACHE_PEAK_BELOW[kind]
            peak = peaks.get(jdk, {})
            measured = of in peak and over in peak
            rows.append((f"class cache, {jdk}, {kind}: peak memory of {CLASS_CACHE_TITLES[of]} below"
                         f" {CLASS_CACHE_TITLES[over]}",
                         f"{number(rounded(peak[of] / 1024, 10))} and {number(rounded(peak[over] / 1024, 10))} MiB"
                         if measured else "not measured", measured and peak[of] < peak[over]))
    return rows


def largest_configuration_targets(results):
    """[(target, measured, met)] on the largest configuration, or [] when the
    last full run did not measure it."""
    configs = os.path.join(results, "configs")
    if not all(os.path.isfile(path) for path in (os.path.join(results, "parse.json"),
                                                 os.path.join(configs, f"{LARGEST}.json"),
                                                 os.path.join(configs, "peak-memory.txt"))):
        return []
    ratios = [velta["bytes_per_second"] / inih["bytes_per_second"]
              for _, velta, inih in parser_pairs(parse_benchmarks(results))]
    launch = median(hyperfine_run(results, LARGEST, "launch")["times"])
    size_mb = LARGEST.removesuffix("M") + " MB"
    rows = [("parse_config_text at least as fast as inih on every generated text",
             f"velta / inih from {number(rounded(min(ratios), 100))} to {number(rounded(max(ratios), 100))}",
             min(ratios) >= PARSE_AGAINST_INIH_AT_LEAST),
            (f"{size_mb} configuration read and parsed by velta-java (whole launch)"
             f" in under {number(LARGEST_LAUNCH_UNDER_SECONDS)} s",
             f"{number(rounded(launch * 1000, 1))} ms (median wall time)", launch < LARGEST_LAUNCH_UNDER_SECONDS)]
    size_bytes, peak = next((size_bytes, peak) for size, size_bytes, peak in peak_memory(results) if size == LARGEST)
    for command, what in (("launch", "whole launch"), ("parse", "read and parse only")):
        kib = peak[command]
        rows.append((f"peak memory under {number(PEAK_UNDER_FILE_SIZE_TIMES)}x the file size, {size_mb}, {what}",
                     f"{number(rounded(kib / 1024, 1))} MiB, {number(rounded(kib * 1024 / size_bytes, 100))}x",
                     kib * 1024 < PEAK_UNDER_FILE_SIZE_TIMES * size_bytes))
    return rows


def targets_table(results, earlier_lines=()):
    """The table, and how many of the targets measured now it shows missed.
    A target whose measurement has not been made in this run keeps its row
    of `earlier_lines` (the document's table), so that a run of some of the
    benchmarks leaves the others' figures in place; one never measured is
    left out. Rows keep the benchmarks' order."""
    rows = []
    if os.path.isfile(os.path.join(results, "ttm", "cases.txt")):
        rows += time_to_main_targets(results)
    if os.path.isfile(os.path.join(results, "cache", "cases.txt")):
        rows += class_cache_targets(results)
    rows += largest_configuration_targets(results)
    lines = [f"| {target} | {measured} | {met(yes)} |" for target, measured, yes in rows]
    measured_now = {target for target, _, _ in rows}
    lines += [line for line in earlier_lines[2:] if line.split(" | ")[0][2:] not in measured_now]
    order = ("| time to main", "| class cache")
    lines.sort(key=lambda line: next((i for i, start in enumerate(order) if line.startswith(start)), len(order)))
    return ["| target | measured | met |", "|---|---|---|"] + lines, sum(not yes for _, _, yes in rows)


def table_in(doc, name):
    """The lines between <!-- bench:NAME --> and <!-- /bench:NAME --> in doc,
    none when doc is None."""
    if doc is None:
        return []
    with open(doc, encoding="utf-8") as file:
        text = file.read()
    start, end = f"<!-- bench:{name} -->\n", f"<!-- /bench:{name} -->\n"
    if start not in text or end not in text:
        return []
    return text[text.index(start) + len(start):text.index(end)].splitlines()


# ---------------------------------------------------------------------------
# Writing the tables
# ---------------------------------------------------------------------------

def fill_in(doc, name, content):
    """Replaces what lies between <!-- bench:NAME --> and <!-- /bench:NAME -->
    in doc with content (whole lines)."""
    with open(doc, encoding="utf-8") as file:
        lines = file.read().splitlines(keepends=True)
    start, end = f"<!-- bench:{name} -->\n", f"<!-- /bench:{name} -->\n"
    if start not in lines or end not in lines[lines.index(start):]:
        raise SystemExit(f"bench/report.py: {doc} has no {start.strip()} ... {end.strip()}")
    first = lines.index(start) + 1
    last = lines.index(end, first)
    with open(doc + ".new", "w", encoding="utf-8") as file:
        file.writelines(lines[:first] + [content] + lines[last:])
    os.replace(doc + ".new", doc)


def main():
    parser = argparse.ArgumentParser(prog="bench/report.py", description="Writes bench/run's tables.")
    parser.add_argument("--doc", help="the document whose bench: markers receive the tables")
    parser.add_argument("--no-check", action="store_true",
                        help="show the targets but do not fail on a missed one (for a smoke run's few runs)")
    parser.add_argument("results", help="the folder bench/run measured into")
    tables = ("machine", "time-to-main", "launcher-work", "parser", "class-cache", "targets")
    parser.add_argument("tables", nargs="+", choices=tables, metavar="TABLE", help=", ".join(tables))
    arguments = parser.parse_args()

    missed = 0
    for name in arguments.tables:
        path = os.path.join(arguments.results, name + ".md")
        if name == "machine":
            with open(path, encoding="utf-8") as file:
                content = file.read()
        else:
            if name == "time-to-main":
                lines = time_to_main_table(arguments.results)
            elif name == "launcher-work":
                lines = launcher_work_table(arguments.results)
            elif name == "parser":
                lines = parser_table(arguments.results)
            elif name == "class-cache":
                lines = class_cache_table(arguments.results)
            else:
                lines, missed = targets_table(arguments.results, table_in(arguments.doc, "targets"))
            content = "\n".join(lines) + "\n"
            with open(path, "w", encoding="utf-8") as file:
                file.write(content)
        print(content, end="")
        if arguments.doc:
            fill_in(arguments.doc, name, content)
    if missed:
        print(f"bench/report.py: {missed} target{'s' if missed > 1 else ''} missed"
              + (" (not checked)" if arguments.no_check else ""), file=sys.stderr)
    return 1 if missed and not arguments.no_check else 0


if __name__ == "__main__":
    sys.exit(main())
