#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that a tool's --help and its manual page name the same options.
# Usage: check_man_options.sh TOOL PAGE
# An option is a long one (--name) or a short one (-x, one letter); a value after '='
# is not part of it. In --help every such word counts. In the page every flag macro
# counts (.Fl x is -x, .Fl \-name is --name), and so does every option written out
# in the text, as in the examples (\-x, \-\-name).
set -euo pipefail
tool=$1 page=$2
export LC_ALL=C

# Reads text, prints the option words in it, one a line.
option_words() {
  tr -s ' \t,;:|()[]"'\''' '\n' | sed -E 's/=.*//; s/\.+$//' |
    grep -x -E -- '--[[:alpha:]][[:alnum:]-]*|-[[:alpha:]]' || true
}

help_text=$("$tool" --help) || { echo "FAIL: $tool --help exits with $?" >&2; exit 1; }
help_options=$(option_words <<<"$help_text" | sort -u)

page_flags=$(grep -oE '(^\.|[[:space:]])Fl[[:space:]]+(\\?-)?[[:alpha:]][[:alnum:]-]*' "$page" |
  sed -E 's/^.?Fl[[:space:]]+//; s/^\\?-/--/; s/^([^-])/-\1/' || true)
page_written=$(tr -s ' \t' '\n' <"$page" | grep -E '^\\-' | sed 's/\\-/-/g' | option_words)
page_options=$(printf '%s\n%s\n' "$page_flags" "$page_written" | grep -v '^$' | sort -u)

if [ -z "$help_options" ]; then
  echo "FAIL: no option found in $tool --help" >&2
  exit 1
fi
only_help=$(comm -23 <(echo "$help_options") <(echo "$page_options"))
only_page=$(comm -13 <(echo "$help_options") <(echo "$page_options"))
if [ -n "$only_help" ] || [ -n "$only_page" ]; then
  [ -z "$only_help" ] || echo "FAIL: in --help, not in $page:" "$(tr '\n' ' ' <<<"$only_help")" >&2
  [ -z "$only_page" ] || echo "FAIL: in $page, not in --help:" "$(tr '\n' ' ' <<<"$only_page")" >&2
  exit 1
fi
echo "$(wc -l <<<"$help_options") options, the same in --help and $page"
