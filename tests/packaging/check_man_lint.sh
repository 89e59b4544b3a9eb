#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Lints a manual page with mandoc at its strictest level (style), then checks that the
# quotes of its rendered text pair up (check_man_quotes.pl), which lint does not.
# Usage: check_man_lint.sh MANDOC PAGE
# Ignored: the look-ups of cross-referenced pages in the machine's manual database,
# whose answer depends on what the machine has installed, not on the page.
set -euo pipefail
mandoc_tool=$1 page=$2
if ! command -v "$mandoc_tool" >/dev/null; then
  echo "FAIL: mandoc is not installed (scripts/deps.sh installs it)" >&2
  exit 1
fi
status=0
output=$("$mandoc_tool" -T lint -W style "$page" 2>&1) || status=$?
# Exit status 2 and above: warnings, errors, unsupported input or a failure to run.
messages=$(grep -v -e 'referenced manual not found' -e 'mandoc\.db' <<<"$output" || true)
if [ "$status" -ge 2 ] || [ -n "$messages" ]; then
  echo "FAIL: mandoc -T lint (exit status $status):" >&2
  echo "$output" >&2
  exit 1
fi
mandoc_quotes() {
  "$mandoc_tool" -T utf8 "$page" | perl "$(dirname "$0")/check_man_quotes.pl" "$page"
}
if ! mandoc_quotes; then
  echo "FAIL: the rendered quotes of $page do not pair up" >&2
  exit 1
fi
echo "$page: no lint messages, quotes paired"
