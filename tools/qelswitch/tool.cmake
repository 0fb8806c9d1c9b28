# qelswitch, the switcher emulator: a portable core (framing, checksum,
# messages, replies, state, faults, commands) and an I/O loop: on POSIX over
# a pseudo-terminal or a device, on Windows (qelswitch.exe) over a COM port
# through the driver's own serial layer.
set(QELSWITCH_DIR ${CMAKE_CURRENT_LIST_DIR})
include(${QELSWITCH_DIR}/core.cmake)

if(WIN32)
  add_executable(qelswitch ${QELSWITCH_DIR}/main_win32.cpp)
  # The driver's serial layer, os/serial_port.h, from the driver's core.
  target_link_libraries(qelswitch PRIVATE qelswitch_core qelkophv_core)
  target_include_directories(qelswitch PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_compile_options(qelswitch PRIVATE ${QEL_WARNINGS})
  qel_add_version_resource(qelswitch qelswitch.exe "QELKOPHV switcher emulator for commissioning")
  include(${QELSWITCH_DIR}/wine-test.cmake OPTIONAL)
  return()
endif()

add_executable(qelswitch ${QELSWITCH_DIR}/main.cpp ${QELSWITCH_DIR}/line_posix.cpp)
target_link_libraries(qelswitch PRIVATE qelswitch_core)
# The driver's monotonic clock (os/deadline.h), header only.
target_include_directories(qelswitch PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_options(qelswitch PRIVATE ${QEL_WARNINGS})

file(GLOB QELSWITCH_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/qelswitch/*.cpp)
add_executable(qelswitch_tests ${QELSWITCH_TEST_SOURCES})
target_link_libraries(qelswitch_tests PRIVATE qelswitch_core GTest::gtest_main)
target_compile_options(qelswitch_tests PRIVATE ${QEL_WARNINGS})
target_compile_definitions(qelswitch_tests PRIVATE QELSWITCH_PROGRAM="$<TARGET_FILE:qelswitch>")
add_dependencies(qelswitch_tests qelswitch)
add_test(NAME qelswitch COMMAND qelswitch_tests)
set_tests_properties(qelswitch PROPERTIES TIMEOUT 300)
