#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build tree into a temporary prefix and checks owgateway@.service as
# an administrator would meet it:
#   1. the unit runs the installed owgateway on /etc/owgateway/%i.conf, restarts on
#      failure but not on a configuration error, stops gracefully in time, and carries
#      the hardening lines (the table below);
#   2. every placeholder is filled, and the sample configuration names installed samples;
#   3. the sysusers.d entry creates the account the unit runs as (systemd-sysusers in a
#      scratch root);
#   4. `systemd-analyze verify` says nothing about the unit, its man page included;
#   5. an install for the prefix /usr (into DESTDIR) puts the unit in systemd's folder and
#      the sample into /etc/owgateway, and nothing outside DESTDIR.
# Without systemd-analyze or systemd-sysusers the rest still runs and the test is skipped
# (exit 77), saying which is missing: scripts/deps.sh installs them (package systemd).
# Environment: CMAKE BUILD_DIR BINDIR DATADIR MANDIR, and SYSTEMD_ANALYZE SYSTEMD_SYSUSERS
# (empty or *-NOTFOUND when missing).
set -euo pipefail
: "${CMAKE:?}" "${BUILD_DIR:?}" "${BINDIR:?}" "${DATADIR:?}" "${MANDIR:?}"

work=$(mktemp -d "${TMPDIR:-/tmp}/owclient-unit.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
unit=$prefix/lib/systemd/system/owgateway@.service
sysusers=$prefix/lib/sysusers.d/owgateway.conf
sample=$prefix/$DATADIR/owclient/owgateway.conf.example
failures=0
missing=()

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

have() {
  [ -n "$1" ] && [ "${1%-NOTFOUND}" = "$1" ] && [ -x "$1" ]
}

install_tree() {  # prefix [DESTDIR]
  DESTDIR=${2:-} "$CMAKE" --install "$BUILD_DIR" --prefix "$1" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; echo "FAIL: cmake --install --prefix $1" >&2; exit 1; }
}

check_unit_lines() {
  # Lines that must be there as written; a change to any of them is a decision to review.
  local line
  while IFS= read -r line; do
    grep -qxF -e "$line" "$unit" || fail "the unit lacks: $line"
  done <<EOF_LINES
ExecStart=$prefix/$BINDIR/owgateway --config /etc/owgateway/%i.conf
ExecReload=/bin/kill -HUP \$MAINPID
KillSignal=SIGTERM
Restart=on-failure
RestartPreventExitStatus=2
User=owgateway
StateDirectory=owgateway/%i
LogsDirectory=owgateway/%i
Environment=XDG_DATA_HOME=%L/owgateway/%i
NoNewPrivileges=yes
ProtectSystem=strict
ReadWritePaths=%S/owgateway/%i %L/owgateway/%i
ProtectHome=yes
PrivateTmp=yes
PrivateDevices=yes
ProtectKernelTunables=yes
ProtectKernelModules=yes
ProtectKernelLogs=yes
ProtectControlGroups=yes
CapabilityBoundingSet=
RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX
RestrictNamespaces=yes
SystemCallArchitectures=native
SystemCallFilter=@system-service
EOF_LINES
  # A graceful stop drains the callback (3 s) and awaits the server's DONE (12 s).
  local stop
  stop=$(sed -n 's/^TimeoutStopSec=\([0-9]*\)s$/\1/p' "$unit")
  [ "${stop:-0}" -ge 20 ] ||
    fail "TimeoutStopSec is not at least 20 s (${stop:-missing}): SIGKILL would cut a graceful stop"
  if grep -n '@[A-Z_]*@' "$unit" "$sample" >&2; then
    fail "placeholders left unconfigured"
  fi
}

check_sample() {
  [ -f "$sample" ] || { fail "sample configuration not installed: ${sample#"$work"/}"; return; }
  local key path
  for key in template xlate; do
    path=$(sed -n "s/^#\{0,1\}$key = //p" "$sample")
    [ -f "${path:-/nonexistent}" ] ||
      fail "the sample's $key names ${path:-nothing}, which is not installed"
  done
  grep -q '^server = ' "$sample" || fail "the sample sets no server"
}

check_account() {
  [ -f "$sysusers" ] || { fail "sysusers.d entry not installed: ${sysusers#"$work"/}"; return; }
  if ! have "${SYSTEMD_SYSUSERS:-}"; then
    missing+=(systemd-sysusers)
    return
  fi
  mkdir -p "$work/root/etc"
  "$SYSTEMD_SYSUSERS" --root="$work/root" "$sysusers" >"$work/sysusers.log" 2>&1 ||
    { cat "$work/sysusers.log" >&2; fail "systemd-sysusers refuses ${sysusers#"$work"/}"; return; }
  local user
  user=$(sed -n 's/^User=//p' "$unit")
  grep -q "^$user:" "$work/root/etc/passwd" ||
    fail "the sysusers.d entry does not create the unit's user '$user'"
  grep -q "^$user:" "$work/root/etc/group" ||
    fail "the sysusers.d entry does not create the group '$user' that reads the output"
}

check_verify() {
  if ! have "${SYSTEMD_ANALYZE:-}"; then
    missing+=(systemd-analyze)
    return
  fi
  # Quiet means clean: verify reports unknown keys and bad values as messages and still
  # exits 0. The man page is looked up in the prefix.
  local status=0
  MANPATH=$prefix/$MANDIR SYSTEMD_LOG_COLOR=0 "$SYSTEMD_ANALYZE" verify "$unit" \
    >"$work/verify.log" 2>&1 || status=$?
  if [ "$status" -ne 0 ] || [ -s "$work/verify.log" ]; then
    cat "$work/verify.log" >&2
    fail "systemd-analyze verify is not clean (exit $status)"
  fi
}

check_system_install() {
  local dest=$work/dest found
  install_tree /usr "$dest"
  found=$(cd "$dest" && find . -name 'owgateway@.service' -printf '/%P\n')
  case "$found" in
    /lib/systemd/system/owgateway@.service | /usr/lib/systemd/system/owgateway@.service) ;;
    *) fail "for the prefix /usr the unit is installed as '${found:-nothing}'" ;;
  esac
  grep -qxsF 'ExecStart=/usr/bin/owgateway --config /etc/owgateway/%i.conf' "$dest${found:-/none}" ||
    fail "for the prefix /usr the unit does not run /usr/bin/owgateway"
  [ -f "$dest/etc/owgateway/example.conf" ] ||
    fail "for the prefix /usr the sample is not installed as /etc/owgateway/example.conf"
  [ ! -e /etc/owgateway/example.conf ] || [ -e "$work/had-etc-sample" ] ||
    fail "an install into DESTDIR wrote /etc/owgateway/example.conf"
}

[ -e /etc/owgateway/example.conf ] && touch "$work/had-etc-sample"
install_tree "$prefix"
if [ -f "$unit" ]; then
  check_unit_lines
  check_sample
  check_account
  check_verify
else
  fail "unit not installed: ${unit#"$work"/}"
fi
check_system_install
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
if [ ${#missing[@]} -ne 0 ]; then
  echo "SKIP: ${missing[*]} not found, so the unit was not fully checked;" \
    "scripts/deps.sh installs the Debian package systemd, which provides it"
  exit 77
fi
echo "owgateway@.service: installed, hardened, account created, systemd-analyze verify clean"
