#!/usr/bin/env python3
# Sums the samples of `perf script` output by engine phase: each sample counts for the innermost
# frame that names one of the phases below (the system calls first, then the procedures).
#   perf script -i perf.data | python3 bench/perf_phases.py
import sys, re, collections
phases = ["__GI___libc_write", "__libc_write", "__GI___fstatat64", "fstat", "lseek", "FileWatch::Poll", "read", "__libc_pread", "inotify_read",
          "IsDuplicate", "OutputFiles::Append", "CreateOutputString", "MatchesFilter", "ParseVariable",
          "TemplateCache::Load", "TemplateCache::HandOut", "ReadTemplate", "LetEventsRun", "GetNextMsg", "GetFirstMsg",
          "AppendOutput", "ParseMessage", "ApplyTemplate", "DoParsing", "RunSources", "main"]
counts = collections.Counter(); total = 0; stack = []
def flush():
    global total, stack
    if not stack: return
    total += 1
    for fr in stack:  # innermost first
        name = re.sub(r"\+0x[0-9a-f]+$", "", fr.split(" (")[0])
        for p in phases:
            if name == p or name.endswith("::" + p) or ("::" + p + "(") in name or name.startswith(p + "("):
                counts[p] += 1; stack = []; return
    counts["(outside main)"] += 1; stack = []
for line in sys.stdin:
    if not line.strip(): flush(); continue
    if line[0] in " \t":
        parts = line.strip().split(None, 1)
        if len(parts) == 2: stack.append(parts[1])
    else: stack = []
flush()
for k, v in counts.most_common(): print(f"{100*v/total:6.1f}%  {k}")
