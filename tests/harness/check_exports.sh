#!/usr/bin/env bash
# The shared library exports exactly the names listed in its version script:
# nothing C++-mangled, no private routine, nothing missing.
set -euo pipefail
lib=$1 map=$2
want=$(sed -e 's@/\*.*\*/@@' "$map" | tr -d ' \t' | awk '/^global:/{g=1;next} /^local:/{g=0} g && /;$/{sub(/;$/,""); print}' | sort)
have=$(nm -D --defined-only "$lib" | awk '{print $3}' | sed 's/@.*//' | sort)
if [ "$want" != "$have" ]; then
  echo "exported symbols differ from $map:"
  diff <(echo "$want") <(echo "$have") || true
  exit 1
fi
echo "exports ok: $(echo $have)"
