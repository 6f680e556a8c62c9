#!/usr/bin/env bash
# The patcher's layers, top to bottom: app -> engine -> records -> files -> base.
# A file in mendwell/<layer>/ may include headers of its own layer and of the layers below it, the
# platform (platform/ui only from app, the one layer that shows windows), the stand-ins' C interfaces
# (outside/*/*_api.h), and the wizard's templates in mendwell/resources/ (app only). Nothing else: a
# call upward becomes a callback or an interface the higher layer hands down (docs/architecture.md).
# Every source of the patcher lives in one of the layers' folders.
# Prints each include against the rule and exits 1 if there is one.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

strays=$(find mendwell -name '*.cpp' -o -name '*.h' | grep -vE '^mendwell/(base|files|records|engine|app|resources)/' || true)
grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' mendwell/base mendwell/files mendwell/records \
  mendwell/engine mendwell/app | awk -v strays="$strays" '
  BEGIN {
    n = split("base files records engine app", names, " ")
    for (i = 1; i <= n; i++) rank[names[i]] = i
    bad = 0
    ns = split(strays, s, "\n")
    for (i = 1; i <= ns; i++) if (s[i] != "") { print s[i] ": outside the layers"; bad = 1 }
  }
  {
    split($0, parts, ":"); file = parts[1]; line = parts[2]
    split(file, f, "/"); layer = f[2]
    match($0, /"[^"]+"/); target = substr($0, RSTART + 1, RLENGTH - 2)
    split(target, t, "/")
    ok = 0
    if (target ~ /^mendwell\/resources\//) ok = (layer == "app")
    else if (t[1] == "mendwell") ok = (t[2] in rank) && rank[t[2]] <= rank[layer]
    else if (target ~ /^platform\/ui\//) ok = (layer == "app")
    else if (t[1] == "platform") ok = 1
    else if (target ~ /^outside\/[^\/]+\/[^\/]+_api\.h$/) ok = 1
    if (!ok) { print file ":" line ": " layer " includes \"" target "\" against the layering"; bad = 1 }
  }
  END {
    if (!bad) print "layering: every include of mendwell/ runs downward"
    exit bad
  }'
