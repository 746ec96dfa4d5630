# testsupport's host helpers call into the library, so the library's objects
# are named again after it on the link line.
function(foundation_test name)
  bsbchart_test(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE testsupport bsbchart_internal)
endfunction()

foundation_test(platform_test platform_test.cpp)
foundation_test(chart_file_test chart_file_test.cpp)
foundation_test(header_test header_test.cpp)
foundation_test(pixel_extent_test pixel_extent_test.cpp)

# The shared library exports the public interface and nothing else, and
# needs no C++ runtime.
add_test(NAME exported_interface
         COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:bsbchart>
                 -DSYSTEM=${CMAKE_SYSTEM_NAME} -DPOINTER_SIZE=${CMAKE_SIZEOF_VOID_P}
                 -DNM=${CMAKE_NM} -DREADELF=${CMAKE_READELF} -DOBJDUMP=${CMAKE_OBJDUMP}
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.cmake)
