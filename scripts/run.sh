#!/usr/bin/env bash
# Sets up, builds and starts the program on a demo: a gallery site (and, as root, an instructions
# archive) on loopback, with the program's settings seeded to use them (scripts/demo.sh). Without
# a display the demo job runs under Xvfb and the pictures of the window are written to
# vantrel-window.png and vantrel-window-scans.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
exec bash scripts/demo.sh
