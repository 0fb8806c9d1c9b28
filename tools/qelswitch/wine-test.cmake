# qelswitch.exe against the driver under Wine, each on one end of a serial
# pair (scripts/wine-serial sourced; else the test is skipped).
add_test(NAME qelswitch_wine_two_port
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/qelswitch/wine-two-port-test.sh $<TARGET_FILE:qelhost>
          $<TARGET_FILE:qelswitch> ${CMAKE_SOURCE_DIR}/examples)
set_tests_properties(qelswitch_wine_two_port PROPERTIES
  TIMEOUT 300 SKIP_RETURN_CODE 77 LABELS switcher RESOURCE_LOCK qel_wine_com5)
