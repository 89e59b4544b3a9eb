#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layering check passes on this tree and catches an upward include, a sideways one and a
# tool reaching into the library, naming each file.
set -euo pipefail
script=$1 root=$2
"$script" "$root" >/dev/null

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir -p "$fake/src/runtime" "$fake/src/doc" "$fake/src/wire" "$fake/tools/x"
echo '#include "runtime/log.h"' >"$fake/src/doc/ok.cc"
echo '#include "wire/client.h"' >"$fake/src/runtime/up.cc"
echo '#include "template/t.h"' >"$fake/src/wire/side.cc"
echo '#include "gateway/g.h"' >"$fake/tools/x/main.cc"
if out=$("$script" "$fake" 2>&1); then
  echo "upward includes passed the check"; exit 1
fi
for f in src/runtime/up.cc src/wire/side.cc tools/x/main.cc; do
  grep -q "^$f: " <<<"$out" || { echo "not reported: $f"; echo "$out"; exit 1; }
done
if grep -q "src/doc/ok.cc" <<<"$out"; then echo "a downward include was reported"; exit 1; fi
echo "ok"
