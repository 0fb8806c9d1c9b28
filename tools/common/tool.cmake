# The tools' shared code that is more than a header: the trace reader and the JSON writer. The reader's
# words come from the driver's own tables (the driver's core). Included from
# the top CMakeLists before the tools that link it.
add_library(qeltools_common STATIC ${CMAKE_CURRENT_LIST_DIR}/trace_reader.cpp ${CMAKE_CURRENT_LIST_DIR}/json_writer.cpp)
target_include_directories(qeltools_common PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(qeltools_common PRIVATE ${QEL_WARNINGS})
target_link_libraries(qeltools_common PUBLIC qelkophv_core)
