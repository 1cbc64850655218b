#!/usr/bin/env python3
"""Sums the samples of `perf script` output for a look at where the engine's time goes.

    perf script -i perf.data | python3 bench/perf_sum.py phases
        each sample counts for the innermost frame that names one of PHASES
    perf script -i perf.data | python3 bench/perf_sum.py under NAME [DEPTH]
        for every sample with NAME on its stack: the DEPTH frames just below NAME
"""
import collections
import re
import sys

PHASES = ["__GI___libc_write", "__libc_write", "__GI___fstatat64", "fstat", "lseek",
          "FileWatch::Poll", "read", "__libc_pread", "inotify_read", "IsDuplicate",
          "OutputFiles::Append", "CreateOutputString", "MatchesFilter", "ParseVariable",
          "ParseOne", "ParseRepeated",
          "TemplateCache::Load", "TemplateCache::HandOut", "ReadTemplate", "LetEventsRun",
          "GetNextMsg", "GetFirstMsg", "AppendOutput", "ParseMessage", "ApplyTemplate", "DoParsing",
          "RunSources", "main"]


def stacks(lines):
    """The frames of each sample, innermost first, without offsets and modules."""
    frames = []
    for line in lines:
        if not line.strip():
            if frames:
                yield frames
            frames = []
        elif line[0] in " \t":
            parts = line.strip().split(None, 1)
            if len(parts) == 2:
                frames.append(re.sub(r"\+0x[0-9a-f]+$", "", parts[1].split(" (")[0]))
        else:
            frames = []
    if frames:
        yield frames


def names_phase(frame, phase):
    return (frame == phase or frame.endswith("::" + phase) or ("::" + phase + "(") in frame
            or frame.startswith(phase + "("))


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in ("phases", "under") or (
            sys.argv[1] == "under" and len(sys.argv) < 3):
        sys.exit(__doc__)
    counts, total = collections.Counter(), 0
    for frames in stacks(sys.stdin):
        total += 1
        if sys.argv[1] == "phases":
            phase = next((p for f in frames for p in PHASES if names_phase(f, p)), "(outside main)")
            counts[phase] += 1
            continue
        depth = int(sys.argv[3]) if len(sys.argv) > 3 else 1
        at = next((i for i, f in enumerate(frames) if sys.argv[2] in f), None)
        if at is not None:
            counts[" <- ".join(f[:70] for f in frames[max(0, at - depth):at]) or "(self)"] += 1
    if not total:
        sys.exit("no samples on standard input")
    if sys.argv[1] == "under":
        print(f"{100 * sum(counts.values()) / total:.1f}% of all samples under {sys.argv[2]}")
    for key, n in counts.most_common(30):
        print(f"{100 * n / total:6.2f}%  {key}")


if __name__ == "__main__":
    main()
