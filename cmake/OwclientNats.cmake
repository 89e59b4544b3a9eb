# SPDX-License-Identifier: MIT
# libnats, the C client of NATS: JetStream publishing (owgateway_jetstream), the example
# consumer and their tests build only with it. OWCLIENT_WITH_NATS: AUTO builds them when
# libnats is found, ON requires it, OFF leaves them out. Debian: libnats-dev.
set(OWCLIENT_WITH_NATS AUTO CACHE STRING "JetStream publishing: AUTO (when libnats is found), ON or OFF")
set_property(CACHE OWCLIENT_WITH_NATS PROPERTY STRINGS AUTO ON OFF)
set(OWCLIENT_HAVE_NATS OFF)

if(NOT OWCLIENT_WITH_NATS STREQUAL "OFF")
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(LIBNATS QUIET IMPORTED_TARGET libnats)
  endif()
  if(LIBNATS_FOUND)
    add_library(owc_nats INTERFACE)
    target_link_libraries(owc_nats INTERFACE PkgConfig::LIBNATS)
    set(OWCLIENT_HAVE_NATS ON)
    set(owc_nats_version ${LIBNATS_VERSION})
  else()
    # No pkg-config file: the header and library where the compiler looks.
    find_path(NATS_INCLUDE_DIR nats/nats.h)
    find_library(NATS_LIBRARY nats)
    if(NATS_INCLUDE_DIR AND NATS_LIBRARY)
      add_library(owc_nats INTERFACE)
      target_include_directories(owc_nats INTERFACE ${NATS_INCLUDE_DIR})
      target_link_libraries(owc_nats INTERFACE ${NATS_LIBRARY})
      set(OWCLIENT_HAVE_NATS ON)
      set(owc_nats_version "(version unknown)")
    endif()
  endif()
endif()

if(OWCLIENT_HAVE_NATS)
  message(STATUS "JetStream publishing: on (libnats ${owc_nats_version})")
elseif(OWCLIENT_WITH_NATS STREQUAL "ON")
  message(FATAL_ERROR "OWCLIENT_WITH_NATS=ON but libnats was not found: install libnats-dev "
                      "(scripts/deps.sh does) or configure with -DOWCLIENT_WITH_NATS=OFF")
elseif(OWCLIENT_WITH_NATS STREQUAL "OFF")
  message(STATUS "JetStream publishing: off (OWCLIENT_WITH_NATS=OFF)")
else()
  message(STATUS "JetStream publishing: off, libnats not found (install libnats-dev: "
                 "scripts/deps.sh); the JetStream publisher, its example and tests are skipped")
endif()
