#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the build tree into a temporary prefix and uses it as a stranger would:
#   1. the installed layout: library with its SONAME links, headers, tools, pages,
#      samples, owgateway's systemd unit, CMake package and pkg-config file, with no
#      path of the build or source tree;
#   2. a C program compiled with `cc $(pkg-config --cflags --libs owclient)` where
#      pkg-config sees no other module (no expat.pc: a shared-library consumer needs
#      no expat development files), and run on the installed samples;
#   3. the prefix moved elsewhere, then a CMake project using find_package(owclient)
#      that builds and runs a C and a C++ program, and the installed tools run from
#      the moved prefix: owgateway in mode 2 renders with the installed samples.
# Environment (set by the test's definition): BUILD_DIR SOURCE_DIR CMAKE LIBDIR INCLUDEDIR
# BINDIR MANDIR DATADIR VERSION SOVERSION CC CXX GENERATOR BUILD_TYPE CONSUMER_FLAGS TOOLS.
set -euo pipefail
# shellcheck disable=SC2153 # VERSION and the others come from the environment
: "${BUILD_DIR:?}" "${SOURCE_DIR:?}" "${CMAKE:?}" "${LIBDIR:?}" "${INCLUDEDIR:?}" "${BINDIR:?}" \
  "${MANDIR:?}" "${DATADIR:?}" "${VERSION:?}" "${SOVERSION:?}" "${CC:?}" "${CXX:?}" "${GENERATOR:?}"

work=$(mktemp -d "${TMPDIR:-/tmp}/owclient-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
consumer_src=$SOURCE_DIR/tests/packaging/consumer
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

expect_file() {
  [ -e "$1" ] || fail "not installed: ${1#"$work"/}"
}

check_layout() {
  local lib=$prefix/$LIBDIR tool
  expect_file "$lib/libowclient.so.$VERSION"
  [ "$(readlink "$lib/libowclient.so.$SOVERSION")" = "libowclient.so.$VERSION" ] ||
    fail "libowclient.so.$SOVERSION does not link to libowclient.so.$VERSION"
  [ "$(readlink "$lib/libowclient.so")" = "libowclient.so.$SOVERSION" ] ||
    fail "libowclient.so does not link to libowclient.so.$SOVERSION"
  grep -q "SONAME.*\[libowclient.so.$SOVERSION\]" <<<"$(readelf -d "$lib/libowclient.so.$VERSION")" ||
    fail "the SONAME is not libowclient.so.$SOVERSION"
  # The public headers and nothing else: no internal header, no static archive.
  diff <(cd "$SOURCE_DIR/include" && find . -type f | sort) \
    <(cd "$prefix/$INCLUDEDIR" && find . -type f | sort) >&2 ||
    fail "the installed headers differ from include/ (< source, > installed)"
  local archives
  archives=$(find "$prefix" -name '*.a')
  [ -z "$archives" ] || fail "a static archive is installed: $archives"
  for tool in $TOOLS; do
    [ -x "$prefix/$BINDIR/$tool" ] || fail "tool not installed: $tool"
    expect_file "$prefix/$MANDIR/man1/$tool.1"
  done
  for file in owclientConfig.cmake owclientConfigVersion.cmake owclientTargets.cmake; do
    expect_file "$lib/cmake/owclient/$file"
  done
  expect_file "$lib/pkgconfig/owclient.pc"
  local page
  for page in man3/owclient.3 man3/owclient-convert.3 man3/owclient-gateway.3 \
    man3/owclient-wire.3 man5/owclient-template.5 man5/owclient-xlate.5; do
    expect_file "$prefix/$MANDIR/$page"
  done
  for file in story.tmpl story.xlate stories/river-ice.xml stories/river-ice.rdf; do
    expect_file "$prefix/$DATADIR/owclient/$file"
  done
  # owgateway as a service (tests/packaging/service_unit_test.sh checks their content).
  if [[ " $TOOLS " == *" owgateway "* ]]; then
    expect_file "$prefix/lib/systemd/system/owgateway@.service"
    expect_file "$prefix/lib/sysusers.d/owgateway.conf"
    expect_file "$prefix/$DATADIR/owclient/owgateway.conf.example"
  fi
  # Nothing installed may lead back into the trees it was built from: no text file, no
  # run path of a binary.
  if grep -rIlF -e "$BUILD_DIR" -e "$SOURCE_DIR" "$prefix" >"$work/leaks"; then
    fail "installed files name the build or source tree: $(tr '\n' ' ' <"$work/leaks")"
  fi
  local binary binaries=("$lib/libowclient.so.$VERSION")
  for tool in $TOOLS; do
    binaries+=("$prefix/$BINDIR/$tool")
  done
  for binary in "${binaries[@]}"; do
    if grep -E 'R(UN)?PATH' <<<"$(readelf -d "$binary")" | grep -qF "$BUILD_DIR"; then
      fail "the run path of ${binary#"$work"/} leads into the build tree"
    fi
  done
}

check_pkg_config() {
  # PKG_CONFIG_LIBDIR replaces the system's search path: only owclient.pc is found.
  export PKG_CONFIG_LIBDIR=$prefix/$LIBDIR/pkgconfig PKG_CONFIG_PATH=""
  local version flags
  version=$(pkg-config --modversion owclient) || { fail "pkg-config does not find owclient"; return; }
  [ "$version" = "$VERSION" ] || fail "pkg-config reports version $version, not $VERSION"
  pkg-config --validate owclient || fail "owclient.pc does not validate"
  flags=$(pkg-config --cflags --libs owclient) ||
    { fail "pkg-config --cflags --libs owclient needs another module (expat?)"; return; }
  # shellcheck disable=SC2086 # the flags are meant to split into words
  "$CC" -std=c99 -Wall -Wextra -Wpedantic -Werror $CONSUMER_FLAGS "$consumer_src/consumer.c" \
    -o "$work/consumer_pc" $flags ||
    { fail "the C consumer does not build through pkg-config"; return; }
  LD_LIBRARY_PATH=$prefix/$LIBDIR "$work/consumer_pc" "$prefix/$DATADIR/owclient" ||
    fail "the pkg-config consumer fails"
  unset PKG_CONFIG_LIBDIR PKG_CONFIG_PATH
}

check_find_package() {
  local moved=$work/moved tool
  mv "$prefix" "$moved"
  "$CMAKE" -S "$consumer_src" -B "$work/consumer-build" -G "$GENERATOR" \
    -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DCMAKE_PREFIX_PATH="$moved" \
    -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
    -DCMAKE_C_FLAGS="$CONSUMER_FLAGS" -DCMAKE_CXX_FLAGS="$CONSUMER_FLAGS" \
    -DOWCLIENT_EXPECTED_VERSION="$VERSION" -DOWCLIENT_EXPECTED_PREFIX="$moved" \
    >"$work/consumer-configure.log" 2>&1 ||
    { cat "$work/consumer-configure.log" >&2; fail "the find_package consumer does not configure"; return; }
  "$CMAKE" --build "$work/consumer-build" >"$work/consumer-build.log" 2>&1 ||
    { cat "$work/consumer-build.log" >&2; fail "the find_package consumers do not build"; return; }
  # No LD_LIBRARY_PATH: the run path that CMake gives must reach the moved prefix.
  "$work/consumer-build/consumer" "$moved/$DATADIR/owclient" || fail "the find_package C consumer fails"
  "$work/consumer-build/consumer_messages" || fail "the find_package C++ consumer fails"
  for tool in $TOOLS; do
    "$moved/$BINDIR/$tool" --help >/dev/null || fail "installed $tool does not run from a moved prefix"
  done
  if [[ " $TOOLS " == *" owgateway "* && " $TOOLS " == *" owwired "* ]]; then
    check_installed_samples "$moved"
  fi
}

# Mode 2 without --template: the moved owgateway renders with the samples of its own prefix.
check_installed_samples() {
  local moved=$1 out=$work/gateway-out
  "$moved/$BINDIR/owwired" --address 127.0.0.247 --generate 1 --exit-when-done \
    2>"$work/owwired.log" &
  local server=$!
  timeout 60 "$moved/$BINDIR/owgateway" --server 127.0.0.247 --mode 2 --count 1 --fresh \
    --output-dir "$out" --progress 0 >"$work/owgateway.log" 2>&1 ||
    { cat "$work/owgateway.log" >&2; fail "the installed owgateway does not run on the installed samples"; }
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  [ -s "$out/story00001.htm" ] || fail "the installed owgateway wrote no page with the installed samples"
}

"$CMAKE" --install "$BUILD_DIR" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }
check_layout
check_pkg_config
check_find_package
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "installed prefix: layout, pkg-config and find_package consumers ok"
