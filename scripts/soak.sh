#!/usr/bin/env bash
# Soak of the link (not part of CI): every cell of the link matrix (device
# behaviours × line conditions × an upload and a reflash, a console that
# flushes its input before irregular polls behind a slow adapter, consoles
# that apply every repeated frame while frames and answers get lost: an
# upload and a delete) with SEEDS fault seeds each, 35 cells × 7 seeds = 245
# runs by default. Prints the completion rate, the median and the 90th
# percentile of the time per cell; exits 1 if any run ended with exit 0 while
# the device held wrong content. Every run is listed in build/soak-runs.log.
#
#   bash scripts/soak.sh [SEEDS] [FIRST_SEED]
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-7}
first=${2:-1}

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j "$(nproc)" --target orvane_bench_link_matrix orvane-cli orvane-sim
build/bench/link_matrix/orvane_bench_link_matrix --seeds "$seeds" --first-seed "$first" \
  --runs-log build/soak-runs.log
