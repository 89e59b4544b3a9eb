# SPDX-License-Identifier: MIT
# Link-time optimisation in optimised GCC builds without sanitizers. A story's way through
# the library crosses many small files (the parser's callbacks, the capture buffers, the
# block cache, the tag translation); inlining across them makes a conversion about 2.5 %
# faster. Debug, sanitizer and clang builds (the fuzzers, the lock analysis) are compiled as
# before. Off by default when the project is built as part of another one, whose archives
# and link steps it would otherwise change.
option(OWCLIENT_LTO "Link-time optimisation in optimised GCC builds" ${OWCLIENT_MASTER_PROJECT})
if(OWCLIENT_LTO AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND OWCLIENT_SANITIZE STREQUAL ""
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  include(CheckIPOSupported)
  check_ipo_supported(RESULT owclient_ipo OUTPUT owclient_ipo_why LANGUAGES C CXX)
  if(owclient_ipo)
    set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
  else()
    message(STATUS "owclient: no link-time optimisation: ${owclient_ipo_why}")
  endif()
endif()
