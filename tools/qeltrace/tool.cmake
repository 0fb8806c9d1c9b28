# qeltrace, the trace reader: its program and its tests. Included from the
# top CMakeLists.
set(QELTRACE_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB QELTRACE_SOURCES CONFIGURE_DEPENDS ${QELTRACE_DIR}/*.cpp)
list(REMOVE_ITEM QELTRACE_SOURCES ${QELTRACE_DIR}/main.cpp)

# Everything but main, shared by the program, its tests and its benchmark.
# The driver's core gives it the driver's own address parser.
add_library(qeltrace_core STATIC ${QELTRACE_SOURCES})
target_include_directories(qeltrace_core PUBLIC ${QELTRACE_DIR} ${CMAKE_SOURCE_DIR}/tools/common)
target_compile_options(qeltrace_core PRIVATE ${QEL_WARNINGS})
target_link_libraries(qeltrace_core PUBLIC qeltools_common)

add_executable(qeltrace ${QELTRACE_DIR}/main.cpp)
target_compile_options(qeltrace PRIVATE ${QEL_WARNINGS})
target_link_libraries(qeltrace PRIVATE qeltrace_core)
if(WIN32)
  qel_add_version_resource(qeltrace qeltrace.exe "QELKOPHV trace reader")
endif()

file(GLOB QELTRACE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/qeltrace/*.cpp)
add_executable(qeltrace_tests ${QELTRACE_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
target_compile_options(qeltrace_tests PRIVATE ${QEL_WARNINGS})
target_link_libraries(qeltrace_tests PRIVATE qeltrace_core GTest::gtest)
add_test(NAME qeltrace_unit COMMAND qeltrace_tests)
set_tests_properties(qeltrace_unit PROPERTIES TIMEOUT 120)

# A real trace of qelhost against the emulator, summarised; and the page in
# a headless browser (skipped where no chromium is installed).
if(NOT WIN32)
  add_test(NAME qeltrace_end_to_end
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qeltrace/end-to-end-test.sh $<TARGET_FILE:qeltrace>
            $<TARGET_FILE:qelhost> $<TARGET_FILE:qelswitch> ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/qeltrace-artefacts)
  set_tests_properties(qeltrace_end_to_end PROPERTIES TIMEOUT 180 LABELS switcher)
  # Traces of release 1.2.0 read with the figures 1.2.0's qeltrace gave.
  add_test(NAME qeltrace_release_traces
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qeltrace/release-traces-test.sh $<TARGET_FILE:qeltrace>
            ${CMAKE_SOURCE_DIR}/tests/qeltrace/release-1.2.0)
  set_tests_properties(qeltrace_release_traces PROPERTIES TIMEOUT 60)
  # qelhost and qeltrace count one run's unconfirmed and failed requests
  # alike, and their JSON parses.
  add_test(NAME tools_agreement
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qeltrace/agreement-test.sh $<TARGET_FILE:qelhost>
            $<TARGET_FILE:qelswitch> $<TARGET_FILE:qeltrace> ${CMAKE_SOURCE_DIR})
  set_tests_properties(tools_agreement PROPERTIES TIMEOUT 60 LABELS switcher)
  add_test(NAME qeltrace_browser
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qeltrace/browser-test.sh $<TARGET_FILE:qeltrace>
            ${CMAKE_SOURCE_DIR}/tests/qeltrace ${CMAKE_BINARY_DIR}/qeltrace-artefacts)
  set_tests_properties(qeltrace_browser PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77)
endif()

# The benchmark (bench/qeltrace_bench.cpp, built with the others) reads
# through qeltrace's core; bench/ is added after the tools, so the link is
# made once every target exists.
function(qel_link_qeltrace_bench)
  if(TARGET qeltrace_bench)
    target_link_libraries(qeltrace_bench PRIVATE qeltrace_core)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qel_link_qeltrace_bench)
