#!/usr/bin/env bash
# Runs a Windows program under the 32-bit Wine; its exit code, standard
# output and standard error come through.
#
#   run.sh PROGRAM [ARGS...]
#
# In a harness started with "harness.sh start DIR i686": WINE32_HARNESS=DIR
# (its prefix, display and cache). Otherwise the caller gives WINEPREFIX and
# DISPLAY, and WINE32_CACHE (by default build/wine32 of this tree). The
# prefix's server is started when none runs.
set -u
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${WINE32_HARNESS:-}" ]; then
    eval "$(bash "$here/../support/harness.sh" env "$WINE32_HARNESS")"
else
    # shellcheck source=env.sh
    . "$here/env.sh" "${WINE32_CACHE:-$here/../../build/wine32}"
fi
wine32_server || { echo "run.sh: cannot start the 32-bit wineserver" >&2; exit 125; }
wine32 "$@"
