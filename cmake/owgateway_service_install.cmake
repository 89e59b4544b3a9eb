# SPDX-License-Identifier: MIT
# Runs inside `cmake --install` (included by the rule of OwclientService.cmake, which sets
# the OWC_SVC_* variables). CMAKE_INSTALL_PREFIX is the prefix of this install; file(INSTALL)
# adds DESTDIR and records what it installs in the manifest.
string(REGEX REPLACE "(.)/+$" "\\1" owc_prefix "${CMAKE_INSTALL_PREFIX}")

function(owc_svc_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${owc_prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

# The configured folder, else systemd's own for the prefix /usr, else the prefix's.
function(owc_svc_dir out configured from_systemd system_default prefix_relative)
  if(configured)
    set(dir "${configured}")
  elseif(owc_prefix STREQUAL "/usr")
    set(dir "${system_default}")
    if(from_systemd)
      set(dir "${from_systemd}")
    endif()
  else()
    set(dir "${owc_prefix}/${prefix_relative}")
  endif()
  set(${out} "${dir}" PARENT_SCOPE)
endfunction()

owc_svc_full_path(owc_bindir "${OWC_SVC_BINDIR}")
owc_svc_full_path(owc_datadir "${OWC_SVC_DATADIR}")
set(OWGATEWAY_PATH "${owc_bindir}/owgateway")
set(OWCLIENT_SAMPLE_DIR "${owc_datadir}/owclient")
owc_svc_dir(owc_unitdir "${OWC_SVC_UNITDIR}" "${OWC_SVC_SYSTEMD_UNITDIR}"
            /usr/lib/systemd/system lib/systemd/system)
owc_svc_dir(owc_sysusersdir "${OWC_SVC_SYSUSERSDIR}" "${OWC_SVC_SYSTEMD_SYSUSERSDIR}"
            /usr/lib/sysusers.d lib/sysusers.d)

configure_file("${OWC_SVC_SOURCE}/systemd/owgateway@.service.in"
               "${OWC_SVC_BINARY}/owgateway@.service" @ONLY)
configure_file("${OWC_SVC_SOURCE}/owgateway.conf.example.in"
               "${OWC_SVC_BINARY}/owgateway.conf.example" @ONLY)

file(INSTALL DESTINATION "${owc_unitdir}" TYPE FILE
     FILES "${OWC_SVC_BINARY}/owgateway@.service")
file(INSTALL DESTINATION "${owc_sysusersdir}" TYPE FILE RENAME owgateway.conf
     FILES "${OWC_SVC_SOURCE}/systemd/owgateway.sysusers")
file(INSTALL DESTINATION "${OWCLIENT_SAMPLE_DIR}" TYPE FILE
     FILES "${OWC_SVC_BINARY}/owgateway.conf.example")
# A system-wide install puts the sample where the unit looks; it names the instance
# "example", which nothing starts.
if(owc_prefix STREQUAL "/usr")
  file(INSTALL DESTINATION /etc/owgateway TYPE FILE RENAME example.conf
       FILES "${OWC_SVC_BINARY}/owgateway.conf.example")
endif()
