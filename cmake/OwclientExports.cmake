# SPDX-License-Identifier: MIT
# The dynamic symbol table of libowclient.so is the public interface and nothing else.
# Hidden visibility already keeps our internals out; the version script also hides the
# standard-library template instantiations that carry default visibility. The expected
# result is symbols/owclient.symbols, checked by a test in tests/packaging.
if(TARGET owclient)
  set(OWCLIENT_VERSION_SCRIPT ${PROJECT_SOURCE_DIR}/symbols/owclient.map)
  target_link_options(owclient PRIVATE "LINKER:--version-script=${OWCLIENT_VERSION_SCRIPT}")
  set_property(TARGET owclient APPEND PROPERTY LINK_DEPENDS ${OWCLIENT_VERSION_SCRIPT})
endif()
