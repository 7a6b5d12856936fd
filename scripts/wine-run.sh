#!/usr/bin/env bash
# ctest's emulator: runs a Windows test program under Wine in the build's prefix.
# Usage: wine-run.sh BUILD_DIR PROGRAM.exe [ARGS...]
set -eu
build=$1
shift
. "$(dirname "$0")/common.sh"
halvex_wine_env "$build"
exec wine "$@"
