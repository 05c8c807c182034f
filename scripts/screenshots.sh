#!/usr/bin/env bash
# Takes the pictures of the program into docs/ (or the folder given): the
# window after the first refresh and during a reflash, the open dialog, the
# port dialog and the exit question; the station window on six simulated
# modems (one too small for the plans, one taken off its cable) and its
# records. The program takes them itself, on an X
# server of its own (Xvfb), against the demo console; every box and dialog is
# the real one. The system locale is Russian, as on the operator's desktop:
# the open dialog writes sizes and dates by it.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
folder=${1:-docs}

scripts/setup.sh
cmake -S . -B build -G Ninja
cmake --build build -j "$jobs" --target orvane

LANG=ru_RU.UTF-8 LC_ALL= xvfb-run -a -s "-screen 0 1024x768x24" \
  build/app/orvane --demo --screenshots "$folder"
LANG=ru_RU.UTF-8 LC_ALL= xvfb-run -a -s "-screen 0 1280x960x24" \
  build/app/orvane --station --demo --screenshots "$folder"
