# Every scenario runs through scripts/run-scenario, which asks qelhost for
# its headers; one that needs a switcher ("# needs: switcher" on its first
# line) gets the switcher emulator on the other end of the driver's line,
# any other runs on qelhost alone. Natively the emulator makes a
# pseudo-terminal; the Windows build runs qelhost.exe under Wine on COM7 and
# the emulator of the native build on the other end of Wine's serial pair
# (scripts/wine-serial must be sourced, else these tests are skipped).

if(WIN32)
  set(QEL_NATIVE_TOOLS_DIR "${PROJECT_SOURCE_DIR}/build/native/bin" CACHE PATH
      "Folder of the native build's programs; the Windows scenarios take qelswitch from there")
endif()

# Called by qelhost's tool.cmake for each scenario. They run where the
# examples' command list is, as an integrator runs them from the folder of
# the driver and its list; a scenario that needs another folder says so in
# its "# workdir:" header.
function(qel_add_scenario_run test_name scenario)
  set(runner ${PROJECT_SOURCE_DIR}/scripts/run-scenario)
  if(WIN32)
    add_test(NAME ${test_name}
      COMMAND bash ${runner} --wine --qelhost $<TARGET_FILE:qelhost>
              --qelswitch ${QEL_NATIVE_TOOLS_DIR}/qelswitch --workdir ${PROJECT_SOURCE_DIR}/examples ${scenario})
    # One serial pair for all of them.
    set_tests_properties(${test_name} PROPERTIES RESOURCE_LOCK qel_wine_com7)
  else()
    add_test(NAME ${test_name}
      COMMAND bash ${runner} --qelhost $<TARGET_FILE:qelhost> --qelswitch $<TARGET_FILE:qelswitch>
              --workdir ${PROJECT_SOURCE_DIR}/examples ${scenario})
  endif()
  set_tests_properties(${test_name} PROPERTIES
    TIMEOUT 300 SKIP_RETURN_CODE 77 LABELS "scenario;switcher")
endfunction()

# The runner itself: --help, and a scenario that qelhost cannot parse.
set(qel_runner_test ${CMAKE_CURRENT_SOURCE_DIR}/scenarios/run-scenario-test.sh)
if(WIN32)
  add_test(NAME scenario.runner
    COMMAND bash ${qel_runner_test} ${PROJECT_SOURCE_DIR}/scripts/run-scenario
            --wine --qelhost $<TARGET_FILE:qelhost> --qelswitch ${QEL_NATIVE_TOOLS_DIR}/qelswitch)
  set_tests_properties(scenario.runner PROPERTIES RESOURCE_LOCK qel_wine_com7)
else()
  add_test(NAME scenario.runner
    COMMAND bash ${qel_runner_test} ${PROJECT_SOURCE_DIR}/scripts/run-scenario
            --qelhost $<TARGET_FILE:qelhost> --qelswitch $<TARGET_FILE:qelswitch>)
endif()
set_tests_properties(scenario.runner PROPERTIES TIMEOUT 120 SKIP_RETURN_CODE 77 LABELS "scenario;switcher")
