#!/usr/bin/env bash
# Writes the small firmware container of the Windows program's demo and tests.
#
# usage: make-demo-ldr.sh LDR-MAKE OUTPUT [COMPUTATIONAL_BLOCKS]
#
# Modules, in file order: the Blackfin loader (kind 3, version 1.4), the computational
# module (kind 1, version 1.2, the one an update writes; 1 KiB blocks, 24 by default) and
# the peripheral module (kind 0, version 1.10). The bytes are a fixed pseudo-random
# sequence, so every run writes the same file.
set -euo pipefail
[ $# -ge 2 ] || { sed -n '4p' "$0" >&2; exit 2; }
blocks=${3:-24}
"$1" "$2" \
  --random 3:1.4:0x000000:256:512:3 \
  --random 1:1.2:0x100000:1024:$((blocks * 1024)):1 \
  --random 0:1.10:0x200000:256:1024:7
