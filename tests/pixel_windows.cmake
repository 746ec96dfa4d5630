bsbchart_test(row_decoder_test row_decoder_test.cpp)
bsbchart_test(window_bitmap_test window_bitmap_test.cpp)
bsbchart_host_test(pixel_window_test pixel_window_test.cpp)

# A real client of the shared library: the window bitmap behind a BMP file
# header must open in Pillow with the right size, mode, palette and pixels.
# The script runs the program, then reads what it wrote; without Pillow it
# reports the check as skipped.
add_executable(write_window_bmp write_window_bmp.cpp)
target_link_libraries(write_window_bmp PRIVATE testsupport bsbchart)
if(BSBCHART_SYSTEM_PYTHON AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME window_bmp_opens_in_pillow
           COMMAND ${BSBCHART_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/check_bmp_pillow.py
                   $<TARGET_FILE:write_window_bmp>)
  set_tests_properties(window_bmp_opens_in_pillow PROPERTIES SKIP_RETURN_CODE 77)
endif()
