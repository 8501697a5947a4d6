#!/usr/bin/env python3
# Fuzzes the picture decoders for a while from one format's seeds:
#   run_fuzz.py FORMAT [SECONDS]          (FORMAT: jpeg, gif or bmp; SECONDS: 30)
# with the clang-built libFuzzer target named by $FUZZ_CODECS. The corpus it grows is kept in
# $FUZZ_WORK (the build folder), so later runs go on from it. A crash, a sanitizer report, an
# input slower than 2 s or an allocation over 128 MB fails; the input is left in
# $FUZZ_WORK/artifacts. Exits 77 (skipped) when there is no fuzzer build.

import os
import re
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
fmt, seconds = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 30
binary = Path(os.environ.get("FUZZ_CODECS", ""))
if not binary.is_file():
    print("no fuzzer build (clang++ with -fsanitize=fuzzer was not found): skipped")
    sys.exit(77)
work = Path(os.environ.get("FUZZ_WORK", "fuzz-work"))
corpus, artifacts, log = work / "corpus" / fmt, work / "artifacts", work / f"{fmt}.log"
for folder in (corpus, artifacts):
    folder.mkdir(parents=True, exist_ok=True)
with open(log, "w") as out:
    # libFuzzer stops itself at max_total_time; the margin covers loading the corpus and a
    # last slow input.
    run = subprocess.run(["nice", "-n", "10", str(binary), f"-max_total_time={seconds}", "-timeout=2",
                          "-malloc_limit_mb=128", "-rss_limit_mb=2048", "-max_len=4096", "-print_final_stats=1",
                          f"-dict={HERE / 'codecs.dict'}", f"-artifact_prefix={artifacts}/{fmt}-", str(corpus),
                          str(HERE / "seeds" / fmt)], stdout=out, stderr=subprocess.STDOUT, timeout=seconds + 60)
text = log.read_text(errors="replace")
done = re.findall(r"^#(\d+)\s+DONE\s+cov: (\d+) ft: (\d+) corp: (\d+)/(\S+).*?exec/s: (\d+)", text, re.M)
if run.returncode != 0 or not done:
    print(f"{text[-6000:]}\nfuzzing {fmt} failed (exit {run.returncode}); inputs in {artifacts}, log in {log}")
    sys.exit(1)
execs, cov, ft, corp, corp_size, rate = done[-1]
rss = re.findall(r"^stat::peak_rss_mb:\s*(\d+)", text, re.M) or ["?"]
print(f"{fmt}: {execs} inputs in {seconds} s ({rate}/s), coverage {cov} edges, {ft} features, corpus {corp} files "
      f"({corp_size}), peak rss {rss[0]} MB")
