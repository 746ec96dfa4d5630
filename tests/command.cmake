# The bsbchart command run as a user would, on the sample charts, with the
# BMP files it writes read back by Pillow (skipped when Pillow is missing).
# The tools are added after the tests, so their presence is told by their
# sources; a cross build's programs do not run here.
if(BSBCHART_TOOLS AND BSBCHART_SYSTEM_PYTHON AND NOT CMAKE_CROSSCOMPILING
   AND EXISTS ${PROJECT_SOURCE_DIR}/tools/bsbchart/CMakeLists.txt
   AND EXISTS ${PROJECT_SOURCE_DIR}/tools/samples/CMakeLists.txt)
  add_test(NAME command
           COMMAND ${BSBCHART_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/command_test.py
                   $<TARGET_FILE:bsbchart_command> $<TARGET_FILE:bsbchart_samples> ${PROJECT_VERSION})
  set_tests_properties(command PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

  # make demo's script on this build; its last line is printed only when
  # every step worked.
  add_test(NAME demo_script COMMAND sh ${PROJECT_SOURCE_DIR}/tools/demo.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(demo_script PROPERTIES TIMEOUT 120
                       PASS_REGULAR_EXPRESSION "Charts in .*/samples/, windows in .*/demo/")
endif()
