# The viewer (bsbchart serve) in headless Chromium through Selenium, on the
# sample charts, held against what the library itself gives
# (viewer_reference). Registered wherever the command is built natively; a
# machine without the browser fails it with the packages to install.
if(BSBCHART_TOOLS AND BSBCHART_SYSTEM_PYTHON AND NOT CMAKE_CROSSCOMPILING
   AND EXISTS ${PROJECT_SOURCE_DIR}/tools/bsbchart/CMakeLists.txt
   AND EXISTS ${PROJECT_SOURCE_DIR}/tools/samples/CMakeLists.txt)
  add_executable(viewer_reference viewer_reference.cpp)
  target_link_libraries(viewer_reference PRIVATE bsbchart)
  target_compile_options(viewer_reference PRIVATE -Wall -Wextra)
  add_test(NAME viewer
           COMMAND ${BSBCHART_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/viewer_test.py
                   $<TARGET_FILE:bsbchart_command> $<TARGET_FILE:bsbchart_samples>
                   $<TARGET_FILE:viewer_reference>)
  set_tests_properties(viewer PROPERTIES TIMEOUT 300)
endif()
