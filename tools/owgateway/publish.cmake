# SPDX-License-Identifier: MIT
# Libraries owgateway links for its publishers (kept out of its own CMakeLists.txt so they
# build and are tested on their own):
#   owgateway_publish     the publisher seam and the message scheme; no client library
#   owgateway_jetstream   the JetStream publisher; only when libnats is found
add_library(owgateway_publish STATIC
  ${CMAKE_CURRENT_LIST_DIR}/message_scheme.cc
  ${CMAKE_CURRENT_LIST_DIR}/jetstream_options.cc)
target_include_directories(owgateway_publish PUBLIC ${CMAKE_CURRENT_LIST_DIR})
owclient_set_warnings(owgateway_publish)

if(OWCLIENT_HAVE_NATS)
  add_library(owgateway_jetstream STATIC ${CMAKE_CURRENT_LIST_DIR}/jetstream_publisher.cc)
  target_link_libraries(owgateway_jetstream PUBLIC owgateway_publish PRIVATE owc_nats Threads::Threads)
  target_compile_definitions(owgateway_jetstream INTERFACE OWGATEWAY_WITH_JETSTREAM=1)
  owclient_set_warnings(owgateway_jetstream)
endif()
