#!/usr/bin/env python3
# Self-time of what a function calls, from `perf script` output: for every sample with NAME on its
# stack, the DEPTH frames just below NAME (innermost first).
#   perf script -i perf.data | python3 bench/perf_under.py NAME [DEPTH]
import sys, re, collections
target = sys.argv[1]; depth = int(sys.argv[2]) if len(sys.argv) > 2 else 1
c = collections.Counter(); total = 0; st = []
def name(f): return re.sub(r"\+0x[0-9a-f]+$", "", f.split(" (")[0])
def fl():
    global st, total
    if st:
        total += 1
        names = [name(f) for f in st]
        for i, n in enumerate(names):
            if target in n:
                key = " <- ".join(x[:70] for x in names[max(0, i - depth):i]) or "(self)"
                c[key] += 1
                break
    st = []
for l in sys.stdin:
    if not l.strip(): fl(); continue
    if l[0] in " \t":
        p = l.strip().split(None, 1)
        if len(p) == 2: st.append(p[1])
    else: st = []
fl()
s = sum(c.values())
print(f"{100*s/total:.1f}% of all samples under {target}")
for k, v in c.most_common(30): print(f"{100*v/total:6.2f}%  {k}")
