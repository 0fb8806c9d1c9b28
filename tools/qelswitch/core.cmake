# qelswitch's portable core as a library: the program and its tests build
# on it, and so does the fuzz build (fuzz/CMakeLists.txt), which includes
# this file alone.
add_library(qelswitch_core STATIC
  ${CMAKE_CURRENT_LIST_DIR}/checksum.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reply.cpp
  ${CMAKE_CURRENT_LIST_DIR}/switch_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/emulator.cpp
  ${CMAKE_CURRENT_LIST_DIR}/control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/say.cpp
  ${CMAKE_CURRENT_LIST_DIR}/session.cpp)
target_include_directories(qelswitch_core PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tools/common)
# The session's clock is the driver's monotonic one (os/deadline.h), and the
# common byte notation is the trace's (trace/trace_notation.h): headers only.
target_include_directories(qelswitch_core PUBLIC ${CMAKE_CURRENT_LIST_DIR}/../../src)
target_compile_options(qelswitch_core PRIVATE ${QEL_WARNINGS})
