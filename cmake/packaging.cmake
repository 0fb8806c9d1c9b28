# Install rules and packages, built in release mode by scripts/release. Each
# archive unpacks into one folder named after the release:
#   win32:  QELKOPHV-VERSION-win32.zip, folder QELKOPHV-VERSION/
#             driver/         QELKOPHV.dll (stripped), QELKOPHV.dll.debug, qelkophv01.ini
#             commissioning/  qelhost.exe, qelswitch.exe, qeltrace.exe, MOXPRO.dll,
#                             README.txt, the commissioning scenarios
#             (every text file with CR LF line ends, as Windows' editors show them)
#             guide.html, CHANGELOG.txt
#   native: qelkophv-VERSION-linux-x86_64.tar.gz, folder of the same name
#             lib/            libqelkophv.so, libmoxpro.so (qelhost's host library)
#             bin/            qelhost, qelswitch, qeltrace
#             examples/       the commissioning scenarios and qelkophv01.ini
#             guide.html, CHANGELOG.md, README.txt (what each file is, a first crosspoint)
# The guide is docs/guide.md, rendered with a table of contents (render-guide.py).
# Components: driver, commissioning (win32), tools (native), examples, docs.
# qel_package_parts builds what they hold and nothing else.

# Debian's Python, which has python3-markdown (scripts/setup installs it).
find_program(QEL_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

# A package installs what was built for it: never the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(QEL_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
add_custom_target(qel_package_parts)
add_dependencies(qel_package_parts qelkophv moxpro qelhost qeltrace)

add_custom_command(
  OUTPUT ${QEL_PACKAGE_DIR}/guide.html
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QEL_PACKAGE_DIR}
  COMMAND ${QEL_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/render-guide.py ${PROJECT_SOURCE_DIR}/docs/guide.md
          ${QEL_PACKAGE_DIR}/guide.html ${PROJECT_VERSION}
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/guide.md ${PROJECT_SOURCE_DIR}/docs/qeltrace-page.png
          ${PROJECT_SOURCE_DIR}/cmake/render-guide.py
  VERBATIM)
add_custom_target(qel_guide DEPENDS ${QEL_PACKAGE_DIR}/guide.html)
add_dependencies(qel_package_parts qel_guide)

# A text file as Windows' editors show it: CR LF line ends.
function(qel_windows_text source destination)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${destination} "${text}")
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
endfunction()

# The scenarios an integrator can run with the archive alone: the examples,
# and the tests that need nothing but the switcher emulator and its faults
# (not those of a pseudo-terminal's hang-up or replug, nor of a second host).
file(GLOB QEL_EXAMPLE_SCENARIOS ${PROJECT_SOURCE_DIR}/examples/*.scenario)
foreach(name smoke silent power-off refuse garbage echo delay bad-values typo-address command-list)
  list(APPEND QEL_EXAMPLE_SCENARIOS ${PROJECT_SOURCE_DIR}/tests/scenarios/${name}.scenario)
endforeach()

if(WIN32)
  set(QEL_TOP QELKOPHV-${PROJECT_VERSION})
else()
  set(QEL_TOP qelkophv-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
install(FILES ${QEL_PACKAGE_DIR}/guide.html DESTINATION ${QEL_TOP} COMPONENT docs)

if(WIN32)
  # The DLL ships stripped; its symbols go beside it into a file that the
  # DLL names in its .gnu_debuglink section, with that file's checksum.
  find_program(QEL_OBJCOPY i686-w64-mingw32-objcopy REQUIRED)
  target_compile_options(qelkophv PRIVATE -g)
  set(stripped ${QEL_PACKAGE_DIR}/driver)
  add_custom_command(
    OUTPUT ${stripped}/QELKOPHV.dll ${stripped}/QELKOPHV.dll.debug
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stripped}
    COMMAND ${QEL_OBJCOPY} --only-keep-debug $<TARGET_FILE:qelkophv> ${stripped}/QELKOPHV.dll.debug
    COMMAND ${QEL_OBJCOPY} --strip-all --add-gnu-debuglink=QELKOPHV.dll.debug
            $<TARGET_FILE:qelkophv> ${stripped}/QELKOPHV.dll
    WORKING_DIRECTORY ${stripped}
    DEPENDS qelkophv
    VERBATIM)
  add_custom_target(qel_stripped_driver DEPENDS ${stripped}/QELKOPHV.dll ${stripped}/QELKOPHV.dll.debug)
  add_dependencies(qel_package_parts qel_stripped_driver)

  qel_windows_text(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${QEL_PACKAGE_DIR}/CHANGELOG.txt)
  qel_windows_text(${PROJECT_SOURCE_DIR}/res/commissioning-README.txt ${QEL_PACKAGE_DIR}/commissioning/README.txt)
  qel_windows_text(${PROJECT_SOURCE_DIR}/examples/qelkophv01.ini ${QEL_PACKAGE_DIR}/driver/qelkophv01.ini)
  set(QEL_WINDOWS_SCENARIOS "")
  foreach(scenario IN LISTS QEL_EXAMPLE_SCENARIOS)
    get_filename_component(name ${scenario} NAME)
    qel_windows_text(${scenario} ${QEL_PACKAGE_DIR}/commissioning/${name})
    list(APPEND QEL_WINDOWS_SCENARIOS ${QEL_PACKAGE_DIR}/commissioning/${name})
  endforeach()

  install(FILES ${stripped}/QELKOPHV.dll ${stripped}/QELKOPHV.dll.debug ${QEL_PACKAGE_DIR}/driver/qelkophv01.ini
          DESTINATION ${QEL_TOP}/driver COMPONENT driver)
  install(TARGETS qelhost qeltrace moxpro RUNTIME DESTINATION ${QEL_TOP}/commissioning COMPONENT commissioning)
  if(TARGET qelswitch)
    add_dependencies(qel_package_parts qelswitch)
    install(TARGETS qelswitch RUNTIME DESTINATION ${QEL_TOP}/commissioning COMPONENT commissioning)
  endif()
  install(FILES ${QEL_PACKAGE_DIR}/commissioning/README.txt ${QEL_WINDOWS_SCENARIOS}
          DESTINATION ${QEL_TOP}/commissioning COMPONENT commissioning)
  install(FILES ${QEL_PACKAGE_DIR}/CHANGELOG.txt DESTINATION ${QEL_TOP} COMPONENT docs)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME QELKOPHV-${PROJECT_VERSION}-win32)
  set(CPACK_COMPONENTS_ALL driver commissioning docs)
else()
  add_dependencies(qel_package_parts qelswitch)
  # qelhost finds its host library beside the driver, in ../lib.
  set_target_properties(qelhost PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
  install(TARGETS qelkophv LIBRARY DESTINATION ${QEL_TOP}/lib COMPONENT driver)
  install(TARGETS moxpro LIBRARY DESTINATION ${QEL_TOP}/lib COMPONENT tools)
  install(TARGETS qelhost qelswitch qeltrace RUNTIME DESTINATION ${QEL_TOP}/bin COMPONENT tools)
  install(FILES ${QEL_EXAMPLE_SCENARIOS} ${PROJECT_SOURCE_DIR}/examples/qelkophv01.ini
          DESTINATION ${QEL_TOP}/examples COMPONENT examples)
  install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG.md DESTINATION ${QEL_TOP} COMPONENT docs)
  install(FILES ${PROJECT_SOURCE_DIR}/res/linux-README.txt DESTINATION ${QEL_TOP} RENAME README.txt COMPONENT docs)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME qelkophv-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_COMPONENTS_ALL driver tools examples docs)
endif()

set(CPACK_PACKAGE_NAME QELKOPHV)
set(CPACK_PACKAGE_VENDOR QELKOPHV)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Serial driver between a SCADA host's gates and a video matrix switcher")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
include(CPack)
