# SPDX-License-Identifier: MIT
# The fuzz targets and the component each one links: shared by the libFuzzer build
# (fuzz/CMakeLists.txt) and the replay tests of the normal suite (fuzz/replay/).
# A target NAME has its source NAME_fuzzer.cc and its inputs in corpus/NAME/.
set(OWCLIENT_FUZZ_TARGETS client_port template xlate property_index xml_doc entities)
set(OWCLIENT_FUZZ_LIB_client_port owc_wire)
set(OWCLIENT_FUZZ_LIB_template owc_template)
set(OWCLIENT_FUZZ_LIB_xlate owc_template)
set(OWCLIENT_FUZZ_LIB_property_index owc_doc)
set(OWCLIENT_FUZZ_LIB_xml_doc owc_doc)
set(OWCLIENT_FUZZ_LIB_entities owc_doc)
set(OWCLIENT_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

# Compiles a target's source into executable `exe`; the caller adds what it runs on.
function(owclient_fuzz_executable exe target)
  add_executable(${exe} ${OWCLIENT_FUZZ_DIR}/${target}_fuzzer.cc ${ARGN})
  target_link_libraries(${exe} PRIVATE ${OWCLIENT_FUZZ_LIB_${target}})
  target_include_directories(${exe} PRIVATE ${OWCLIENT_FUZZ_DIR})
  # The harnesses read the example stories, template and table from the source tree.
  target_compile_definitions(${exe} PRIVATE OWCLIENT_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  owclient_set_warnings(${exe})
endfunction()
