# SPDX-License-Identifier: MIT
if(OWCLIENT_THREAD_SAFETY AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "OWCLIENT_THREAD_SAFETY needs clang (CXX=clang++), not ${CMAKE_CXX_COMPILER_ID}")
endif()

# Warning flags stay PRIVATE to our own targets: consumers of the library never inherit them.
function(owclient_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(OWCLIENT_THREAD_SAFETY)
    target_compile_options(${target} PRIVATE -Wthread-safety)
  endif()
  if(OWCLIENT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
