#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fails when an include runs upward: each folder of src/ may include only itself and the
# layers below it, and the tools only the public headers and their shared layer. Fails
# too when POSIX appears outside src/platform and the transport's socket code, and when a
# layer above the transport holds a socket.
# Usage: scripts/check_layers.sh [ROOT]   (ROOT: the source tree, default this checkout)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

# What each folder may include, besides itself. "owclient" is the public interface.
declare -A allowed=(
  [platform]=""
  [runtime]="platform"
  [transport]="runtime platform"
  [wire]="transport runtime platform owclient"
  [doc]="runtime platform"
  [template]="doc runtime platform"
  [gateway]="wire transport runtime platform doc template owclient"
  [api]="gateway wire transport runtime platform doc template owclient"
)
internal="platform runtime transport wire doc template gateway api"

bad=0
complain() { echo "$1: includes \"$2\", which $3" >&2; bad=1; }

for layer in "${!allowed[@]}"; do
  [ -d "$root/src/$layer" ] || continue
  while IFS=: read -r file target; do
    dir=${target%%/*}
    [ "$dir" = "$layer" ] && continue
    case " ${allowed[$layer]} " in
      *" $dir "*) ;;
      *) complain "${file#"$root"/}" "$target" "$layer may not include" ;;
    esac
  done < <(grep -rHoE '^#include "[a-z_]+/[^"]+"' "$root/src/$layer" |
           sed -E 's/:#include "/:/; s/"$//')
done

if [ -d "$root/tools" ]; then
  while IFS=: read -r file target; do
    complain "${file#"$root"/}" "$target" "is inside the library: tools use its public headers"
  done < <(grep -rHoE '^#include "('"${internal// /|}"')/[^"]+"' "$root/tools" |
           sed -E 's/:#include "/:/; s/"$//')
fi

# POSIX stays behind the platform seam: only src/platform and the transport's socket code
# (tcp_port.cc, socket_ops.cc) may include these headers or name errno.
posix_ok="src/platform/ src/transport/tcp_port.cc src/transport/socket_ops.cc"
posix='#include <(sys/[a-z_]+|fcntl|unistd|poll|errno|netinet/[a-z_]+|arpa/inet|netdb)\.h>|#include <cerrno>|\berrno\b'
while IFS=: read -r file what; do
  rel=${file#"$root"/}
  allowed_here=0
  for ok in $posix_ok; do
    case "$rel" in "$ok"*) allowed_here=1 ;; esac
  done
  [ $allowed_here -eq 1 ] || complain "$rel" "$what" "only src/platform and the transport's socket code may use"
done < <(grep -rHoE "$posix" "$root/src" | sed -E 's/:#include /:/' | sort -u)

# Descriptors stay in the transport too: the layers above hand it addresses and read
# statuses, and never hold a socket.
above='src/wire/ src/gateway/ src/api/'
descriptor='\b(CreateStreamSocket|ShutdownSocket|GetSocket)\b|\bint [a-zA-Z]*([sS]ocket|[fF]d)\b'
for dir in $above; do
  [ -d "$root/$dir" ] || continue
  while IFS=: read -r file what; do
    complain "${file#"$root"/}" "$what" "is a descriptor, which only the transport may hold"
  done < <(grep -rHoE "$descriptor" "$root/$dir" | sort -u)
done

[ $bad -eq 0 ] && echo "includes run downward"
exit $bad
