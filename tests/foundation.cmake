bsbchart_test(platform_test platform_test.cpp)
bsbchart_test(chart_file_test chart_file_test.cpp)
bsbchart_test(header_test header_test.cpp)
bsbchart_test(pixel_extent_test pixel_extent_test.cpp)

# The shared library exports the public interface and nothing else, and
# needs no C++ runtime.
add_test(NAME exported_interface
         COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:bsbchart>
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.cmake)
