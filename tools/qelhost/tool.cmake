# qelhost, the host simulator: its program, its unit tests, and every
# scenario file as a test run by it. Included from the top CMakeLists.

set(QELHOST_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB QELHOST_SOURCES CONFIGURE_DEPENDS ${QELHOST_DIR}/*.cpp)
list(REMOVE_ITEM QELHOST_SOURCES ${QELHOST_DIR}/main.cpp)
qel_keep_platform_sources(QELHOST_SOURCES)

# Everything but main, shared by the program and its tests. The host
# library substitute (libmoxpro.so / MOXPRO.dll) is loaded at run time from
# qelhost's folder, so that the driver finds it already in the process, and
# a qelhost without it says so; the driver is loaded by path as well.
add_library(qelhost_core STATIC ${QELHOST_SOURCES})
target_include_directories(qelhost_core PUBLIC ${QELHOST_DIR} ${CMAKE_SOURCE_DIR}/tools/common ${CMAKE_SOURCE_DIR}/include
                                               ${CMAKE_SOURCE_DIR}/tools/moxpro)
target_compile_options(qelhost_core PRIVATE ${QEL_WARNINGS})
# The driver's core for what the command list checker takes from the
# driver's own code (its reading of the list, the checksum).
target_link_libraries(qelhost_core PUBLIC qeltools_common)
if(NOT WIN32)
  target_link_libraries(qelhost_core PUBLIC ${CMAKE_DL_LIBS})
endif()

add_executable(qelhost ${QELHOST_DIR}/main.cpp)
target_compile_options(qelhost PRIVATE ${QEL_WARNINGS})
target_link_libraries(qelhost PRIVATE qelhost_core)
# The driver and the host library it loads are the ones built beside it.
add_dependencies(qelhost qelkophv moxpro)

file(GLOB QELHOST_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/qelhost/*.cpp)
add_executable(qelhost_tests ${QELHOST_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
target_compile_options(qelhost_tests PRIVATE ${QEL_WARNINGS})
# The tests call the host library directly as well (the same library, loaded once).
target_link_libraries(qelhost_tests PRIVATE qelhost_core moxpro GTest::gtest)
add_test(NAME qelhost_unit COMMAND qelhost_tests)
set_tests_properties(qelhost_unit PROPERTIES TIMEOUT 120)

# Every examples/*.scenario and tests/scenarios/*.scenario is a test that
# qelhost runs (on win32 through CMAKE_CROSSCOMPILING_EMULATOR, i.e. Wine).
# Its headers ("# needs: switcher", ...) are read when it runs, by qelhost
# itself (qelhost --headers), not here: whoever wires up the runner defines
#   qel_add_scenario_run(TEST_NAME SCENARIO_FILE)
# in a tool.cmake; without one each scenario runs on qelhost alone. The
# registration is deferred to the end of the top directory so that tools
# included after this one can provide that function.
function(qel_register_scenarios)
  file(GLOB scenarios CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/examples/*.scenario ${CMAKE_SOURCE_DIR}/tests/scenarios/*.scenario)
  foreach(scenario IN LISTS scenarios)
    get_filename_component(stem ${scenario} NAME_WE)
    get_filename_component(folder ${scenario} DIRECTORY)
    get_filename_component(folder ${folder} NAME)
    set(name scenario.${folder}.${stem})
    if(COMMAND qel_add_scenario_run)
      qel_add_scenario_run(${name} ${scenario})
    else()
      add_test(NAME ${name} COMMAND qelhost ${scenario})
      set_tests_properties(${name} PROPERTIES TIMEOUT 120 LABELS scenario)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL qel_register_scenarios)

# One-shot commands against the switcher emulator, the reasons beside each
# 1, and a qelhost that finds no driver (natively: the emulator makes a
# pseudo-terminal).
if(NOT WIN32)
  add_test(NAME qelhost_one_shot
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qelhost/one-shot-test.sh $<TARGET_FILE:qelhost> $<TARGET_FILE:qelswitch>
            ${CMAKE_SOURCE_DIR}/examples)
  set_tests_properties(qelhost_one_shot PROPERTIES TIMEOUT 120 LABELS switcher)
endif()

# qelhost without the host library stand-in beside it (under Wine for
# qelhost.exe).
if(WIN32)
  add_test(NAME qelhost_alone COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qelhost/alone-test.sh $<TARGET_FILE:qelhost>
                                      $<TARGET_FILE:qelkophv> MOXPRO.dll wine)
else()
  add_test(NAME qelhost_alone COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qelhost/alone-test.sh $<TARGET_FILE:qelhost>
                                      $<TARGET_FILE:qelkophv> libmoxpro.so)
endif()
set_tests_properties(qelhost_alone PROPERTIES TIMEOUT 120)

# The release check's reading of the integrator's guide: the guide names
# only what the archives hold, and wrong names are reported ...
if(NOT WIN32)
  add_test(NAME release_guide_names
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qelhost/guide-names-test.sh ${CMAKE_SOURCE_DIR}/scripts/check-release
            ${CMAKE_SOURCE_DIR}/docs/guide.md $<TARGET_FILE:qelhost> $<TARGET_FILE:qelswitch>)
  set_tests_properties(release_guide_names PROPERTIES TIMEOUT 60)
  # ... and of the archives' layout: one folder named after the release.
  add_test(NAME release_layout COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qelhost/release-layout-test.sh ${CMAKE_SOURCE_DIR})
  set_tests_properties(release_layout PROPERTIES TIMEOUT 60)
endif()
