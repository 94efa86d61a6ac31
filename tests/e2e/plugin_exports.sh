#!/usr/bin/env bash
# The plug-in exports get_providers under its plain name and nothing else of its own.
set -euo pipefail
exported=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
if [ "$exported" != "get_providers" ]; then
  echo "exported symbols: $exported" >&2
  exit 1
fi
# The host's symbols stay unresolved: they come from the process that loads the plug-in.
imports=$(nm -D --undefined-only "$1")
grep -q 'SPModbus' <<<"$imports" || { echo "plug-in does not import the host" >&2; exit 1; }
needed=$(readelf -d "$1")
if grep -q smdhost <<<"$needed"; then echo "plug-in links the host library" >&2; exit 1; fi
