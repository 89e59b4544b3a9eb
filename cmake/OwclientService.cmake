# SPDX-License-Identifier: MIT
# owgateway as a systemd service: the unit owgateway@.service, the sysusers.d entry of its
# account and a sample configuration. The unit names the installed owgateway, so both
# files are written by `cmake --install` for the prefix actually installed into (see
# owgateway_service_install.cmake).
#
#   unit       OWCLIENT_SYSTEMD_UNITDIR if set; for the prefix /usr systemd's own folder
#              (pkg-config systemd), else <prefix>/lib/systemd/system, which systemd
#              also reads for /usr/local
#   account    OWCLIENT_SYSUSERSDIR likewise; else <prefix>/lib/sysusers.d
#   sample     <datadir>/owclient/owgateway.conf.example; for the prefix /usr also
#              /etc/owgateway/example.conf
set(OWCLIENT_SYSTEMD_UNITDIR "" CACHE PATH
  "Folder for owgateway@.service (empty: chosen from the install prefix)")
set(OWCLIENT_SYSUSERSDIR "" CACHE PATH
  "Folder for owgateway's sysusers.d file (empty: chosen from the install prefix)")

set(systemd_unitdir "")
set(systemd_sysusersdir "")
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_get_variable(systemd_unitdir systemd systemdsystemunitdir)
  pkg_get_variable(systemd_sysusersdir systemd sysusersdir)
endif()

install(CODE "
  set(OWC_SVC_SOURCE [==[${PROJECT_SOURCE_DIR}/packaging]==])
  set(OWC_SVC_BINARY [==[${PROJECT_BINARY_DIR}/packaging]==])
  set(OWC_SVC_BINDIR [==[${CMAKE_INSTALL_BINDIR}]==])
  set(OWC_SVC_DATADIR [==[${CMAKE_INSTALL_DATADIR}]==])
  set(OWC_SVC_UNITDIR [==[${OWCLIENT_SYSTEMD_UNITDIR}]==])
  set(OWC_SVC_SYSUSERSDIR [==[${OWCLIENT_SYSUSERSDIR}]==])
  set(OWC_SVC_SYSTEMD_UNITDIR [==[${systemd_unitdir}]==])
  set(OWC_SVC_SYSTEMD_SYSUSERSDIR [==[${systemd_sysusersdir}]==])
  include([==[${CMAKE_CURRENT_LIST_DIR}/owgateway_service_install.cmake]==])
" COMPONENT Runtime)
