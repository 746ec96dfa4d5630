# The bsbchart command run as a user would, on the sample charts, with the
# BMP files it writes read back by Pillow. A missing Pillow fails the test
# (make check installs it first, see tools/check_packages.sh).
# The tools are added after the tests, so their presence is told by their
# sources; a cross build's programs do not run here.
if(BSBCHART_TOOLS AND NOT CMAKE_CROSSCOMPILING
   AND EXISTS ${PROJECT_SOURCE_DIR}/tools/bsbchart/CMakeLists.txt
   AND EXISTS ${PROJECT_SOURCE_DIR}/tools/samples/CMakeLists.txt)
  if(NOT BSBCHART_SYSTEM_PYTHON)
    message(FATAL_ERROR "The command's tests need Debian's /usr/bin/python3 with Pillow: "
                        "apt-get install python3 python3-pil (or configure with -DBSBCHART_TESTS=OFF)")
  endif()
  set(BSBCHART_INTERRUPTING_WRITE "")
  if(NOT WIN32)
    # Preloaded by the test to interrupt the command in the middle of a write.
    add_library(interrupting_write MODULE ${CMAKE_CURRENT_SOURCE_DIR}/command_support/interrupting_write.cpp)
    target_link_libraries(interrupting_write PRIVATE ${CMAKE_DL_LIBS})
    set(BSBCHART_INTERRUPTING_WRITE $<TARGET_FILE:interrupting_write>)
  endif()
  add_test(NAME command
           COMMAND ${BSBCHART_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/command_test.py
                   $<TARGET_FILE:bsbchart_command> $<TARGET_FILE:bsbchart_samples> ${PROJECT_VERSION}
                   "${BSBCHART_INTERRUPTING_WRITE}")
  set_tests_properties(command PROPERTIES TIMEOUT 300)

  # make demo's script on this build; its last line is printed only when
  # every step worked.
  add_test(NAME demo_script COMMAND sh ${PROJECT_SOURCE_DIR}/tools/demo.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(demo_script PROPERTIES TIMEOUT 120
                       PASS_REGULAR_EXPRESSION "Charts in .*/samples/, windows in .*/demo/")
endif()

# make check's set-up: the package check, and that a skipped test fails it.
if(BSBCHART_SYSTEM_PYTHON AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME packages COMMAND ${BSBCHART_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/packages_test.py
                                 ${PROJECT_SOURCE_DIR})
  set_tests_properties(packages PROPERTIES TIMEOUT 120)
endif()

# The public headers as hosts use them: char16_t text for the four calls, a
# host's own RECT outside Windows, and the clear refusals at compile time of
# bsbchart.h from C and of a RECT of the wrong layout.
bsbchart_host_test(header_char16_test headers/char16_overloads_test.cpp)
target_link_libraries(header_char16_test PRIVATE chartwriter)
add_test(NAME header_refused_from_c
         COMMAND ${CMAKE_CXX_COMPILER} -x c -fsyntax-only -I${PROJECT_SOURCE_DIR}/include
                 ${CMAKE_CURRENT_SOURCE_DIR}/headers/from_c.c)
set_tests_properties(header_refused_from_c PROPERTIES
                     PASS_REGULAR_EXPRESSION "bsbchart.h is the C\\+\\+ interface. from C include bsbchart_c.h")
if(NOT WIN32)
  bsbchart_host_test(header_host_rect_test headers/host_rect_test.cpp)
  target_link_libraries(header_host_rect_test PRIVATE chartwriter)
  add_test(NAME header_refuses_a_wrong_host_rect
           COMMAND ${CMAKE_CXX_COMPILER} -std=c++17 -fsyntax-only -I${PROJECT_SOURCE_DIR}/include
                   ${CMAKE_CURRENT_SOURCE_DIR}/headers/wrong_rect.cpp)
  set_tests_properties(header_refuses_a_wrong_host_rect PROPERTIES
                       PASS_REGULAR_EXPRESSION "RECT must be four 32-bit fields: left, top, right, bottom")
endif()
