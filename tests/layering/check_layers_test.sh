#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layering check passes on this tree and catches an upward include, a sideways one, a
# tool reaching into the library, POSIX outside the platform seam and a socket above the
# transport, naming each file.
set -euo pipefail
script=$1 root=$2
"$script" "$root" >/dev/null

fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
mkdir -p "$fake/src/runtime" "$fake/src/doc" "$fake/src/wire" "$fake/tools/x" \
  "$fake/src/platform" "$fake/src/transport"
echo '#include "runtime/log.h"' >"$fake/src/doc/ok.cc"
echo '#include "wire/client.h"' >"$fake/src/runtime/up.cc"
echo '#include "template/t.h"' >"$fake/src/wire/side.cc"
echo '#include "gateway/g.h"' >"$fake/tools/x/main.cc"
echo '#include <unistd.h>' >"$fake/src/platform/ok.cc"
echo '#include <poll.h>' >"$fake/src/transport/tcp_port.cc"
echo '#include <sys/socket.h>' >"$fake/src/wire/sock.cc"
echo 'if (errno == 0) return;' >"$fake/src/runtime/err.cc"
echo '#include <fcntl.h>' >"$fake/src/transport/file.cc"
echo 'int socket = port.GetSocket();' >"$fake/src/wire/held.cc"
echo 'int fd = CreateStreamSocket(error);' >"$fake/src/transport/made.cc"
if out=$("$script" "$fake" 2>&1); then
  echo "upward includes passed the check"; exit 1
fi
for f in src/runtime/up.cc src/wire/side.cc tools/x/main.cc src/wire/sock.cc src/runtime/err.cc \
  src/transport/file.cc src/wire/held.cc; do
  grep -q "^$f: " <<<"$out" || { echo "not reported: $f"; echo "$out"; exit 1; }
done
for f in src/doc/ok.cc src/platform/ok.cc src/transport/tcp_port.cc src/transport/made.cc; do
  if grep -q "$f" <<<"$out"; then echo "an allowed include was reported: $f"; exit 1; fi
done
echo "ok"
