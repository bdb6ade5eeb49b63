#!/usr/bin/env bash
# Runs one Windows program under Wine (CTest's cross-compiling emulator).
set -eu
. "$(dirname "$0")/wine-env.sh"
rq_wine_ready
exec wine "$@"
