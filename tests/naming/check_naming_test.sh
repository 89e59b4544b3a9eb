#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The naming check passes on this tree, and on a small tree of its own it reports a
# snake_case local, an fd_-style member and a header guard of the old form, each by file,
# while it leaves alone what a NOLINT marks and code outside src/ and tools/.
set -euo pipefail
script=$1 root=$2 build=$3
"$script" "$build" "$root" >/dev/null || exit $?

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir -p "$fake/src/doc" "$fake/tools/owfake" "$fake/tests" "$fake/build"
cp "$root/.clang-tidy" "$fake/"
printf '#ifndef OWCLIENT_DOC_GOOD_H\n#define OWCLIENT_DOC_GOOD_H\n%s\n#endif\n' \
  'class Good { int mFd = 0; int fd_ = 0;  public: int Fd() const { return mFd + fd_; } };' \
  >"$fake/src/doc/good.h"
printf '#include "good.h"\nint Twice(int value) { int twice_value = value * 2; return twice_value; }\n' \
  >"$fake/src/doc/good.cc"
printf '#ifndef OWFAKE_TOOL_H_\n#define OWFAKE_TOOL_H_\n%s\n#endif\n' \
  'class given_name {};  // NOLINT(readability-identifier-naming)' >"$fake/tools/owfake/tool.h"
printf '#include "tool.h"\nint Run() { given_name g; (void)g; return 0; }\n' >"$fake/tools/owfake/tool.cc"
printf 'int test_helper(int some_value) { return some_value; }\n' >"$fake/tests/helper.cc"
{
  echo "["
  for f in src/doc/good.cc tools/owfake/tool.cc tests/helper.cc; do
    echo "{\"directory\": \"$fake\", \"command\": \"c++ -std=c++17 -c $fake/$f\", \"file\": \"$fake/$f\"},"
  done | sed '$ s/,$//'
  echo "]"
} >"$fake/build/compile_commands.json"

if out=$("$script" "$fake/build" "$fake" 2>&1); then
  echo "the violations passed the check"; echo "$out"; exit 1
fi
for want in "src/doc/good.h:.*'fd_'" "src/doc/good.cc:.*'twice_value'" \
            "tools/owfake/tool.h: header guard OWFAKE_TOOL_H_, want OWFAKE_TOOL_H"; do
  grep -q "^$want" <<<"$out" || { echo "not reported: $want"; echo "$out"; exit 1; }
done
for unwanted in given_name test_helper some_value "'mFd'" "'value'"; do
  if grep -q "$unwanted" <<<"$out"; then echo "reported: $unwanted"; echo "$out"; exit 1; fi
done
# With the guard right, the names alone still fail it.
sed -i 's/OWFAKE_TOOL_H_$/OWFAKE_TOOL_H/' "$fake/tools/owfake/tool.h"
if out=$("$script" "$fake/build" "$fake" 2>&1); then
  echo "the naming violations alone passed the check"; echo "$out"; exit 1
fi
grep -q "header guard" <<<"$out" && { echo "a right header guard was reported"; echo "$out"; exit 1; }
echo "ok"
