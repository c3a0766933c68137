#!/bin/sh
# Seed corpus for transform_fuzz: transforms of the package the target
# applies them to, written by transform_fuzz_seeds (built beside the target).
# Usage: make_corpus.sh DIR [BUILD_BIN_DIR]
set -e
out=${1:?usage: make_corpus.sh DIR [BUILD_BIN_DIR]}
bin=${2:-$(cd "$(dirname "$0")/../.." && pwd)/build/fuzz/bin}
mkdir -p "$out"
"$bin/transform_fuzz_seeds" "$out"
