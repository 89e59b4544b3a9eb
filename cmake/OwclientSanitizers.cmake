# Sanitizers apply to everything built in this tree (library, tools, tests), so a fault in
# a tool or a test is caught as well as one in the library.
if(OWCLIENT_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(OWCLIENT_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT OWCLIENT_SANITIZE STREQUAL "")
  message(FATAL_ERROR "OWCLIENT_SANITIZE must be empty, 'address' or 'thread'")
endif()
