# SPDX-License-Identifier: MIT
# Sanitizers apply to everything built in this tree (library, tools, tests), so a fault in
# a tool or a test is caught as well as one in the library.
if(OWCLIENT_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  # GCC's flow analysis is thrown off by the instrumentation and reports uninitialised
  # values inside the standard library (std::regex, std::function); the plain build keeps
  # the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
elseif(OWCLIENT_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT OWCLIENT_SANITIZE STREQUAL "")
  message(FATAL_ERROR "OWCLIENT_SANITIZE must be empty, 'address' or 'thread'")
endif()
