# The C interface: through the shared library as a host links it, against the
# library's insides, from several threads, from a C program, loaded by name
# (dlopen or LoadLibrary) and from Python's ctypes.
bsbchart_host_test(c_interface_test c_interface_test.cpp)
# The expected window sizes must round like the library's.
target_compile_options(c_interface_test PRIVATE -ffp-contract=off)

find_package(Threads REQUIRED)
bsbchart_host_test(c_interface_threads_test c_interface_threads_test.cpp)
target_link_libraries(c_interface_threads_test PRIVATE Threads::Threads)

# Counts the reads a window makes; compares the conversions with the
# polynomials, which must round alike.
bsbchart_test(c_interface_internal_test c_interface_internal_test.cpp)
if(TARGET systemcalls)
  target_link_libraries(c_interface_internal_test PRIVATE systemcalls)
else()
  include(${PROJECT_SOURCE_DIR}/cmake/system_calls.cmake)
  bsbchart_count_system_calls(c_interface_internal_test)
endif()
target_compile_options(c_interface_internal_test PRIVATE -ffp-contract=off)

# A program in C99 that calls every function of the header.
enable_language(C)
set(BSBCHART_STRICT_C -std=c99 -Wall -Wextra -Werror -pedantic)
add_executable(c_interface_program c_interface_program.c)
target_compile_options(c_interface_program PRIVATE ${BSBCHART_STRICT_C})
target_link_libraries(c_interface_program PRIVATE bsbchart)
add_test(NAME c_interface_program COMMAND c_interface_program
         WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

# Every function the header declares, found by its C name in the library
# loaded at run time: the list is taken from the header itself.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/bsbchart_c.h declarations REGEX "^BSBCHART_C_API ")
set(names "")
foreach(declaration IN LISTS declarations)
  if(declaration MATCHES "(bsbchart_[a-z0-9_]+)\\(")
    string(APPEND names "    \"${CMAKE_MATCH_1}\",\n")
  endif()
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/c_interface_names.h.new
     "/* Made by tests/c_interface.cmake from include/bsbchart_c.h. */\n"
     "static const char* const kNames[] = {\n${names}};\n")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/c_interface_names.h.new
               ${CMAKE_CURRENT_BINARY_DIR}/c_interface_names.h COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/include/bsbchart_c.h)
add_executable(c_interface_load c_interface_load.c)
target_compile_options(c_interface_load PRIVATE ${BSBCHART_STRICT_C})
target_include_directories(c_interface_load PRIVATE ${CMAKE_CURRENT_BINARY_DIR}
                                                    ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(c_interface_load PRIVATE ${CMAKE_DL_LIBS})
add_dependencies(c_interface_load bsbchart)
if(WIN32)
  # bsbchart.dll lies beside the program.
  add_test(NAME c_interface_load_library COMMAND c_interface_load $<TARGET_FILE_NAME:bsbchart>)
else()
  add_test(NAME c_interface_dlsym COMMAND c_interface_load $<TARGET_FILE:bsbchart>)
endif()

# Debian's Python drives the library through ctypes. Without it the test is
# there all the same, and fails.
if(NOT CMAKE_CROSSCOMPILING)
  if(BSBCHART_SYSTEM_PYTHON)
    add_test(NAME c_interface_ctypes
             COMMAND ${BSBCHART_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/c_interface_ctypes_test.py
                     $<TARGET_FILE:bsbchart>)
    if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=address")
      # An instrumented library loads into Python only behind its runtime;
      # Python's own allocations at exit are no leaks of ours.
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                      OUTPUT_VARIABLE asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
      set_tests_properties(c_interface_ctypes PROPERTIES ENVIRONMENT
                           "LD_PRELOAD=${asan_runtime};ASAN_OPTIONS=detect_leaks=0")
    endif()
  else()
    add_test(NAME c_interface_ctypes
             COMMAND ${CMAKE_COMMAND} -E echo "c_interface_ctypes: /usr/bin/python3 not found")
    set_tests_properties(c_interface_ctypes PROPERTIES FAIL_REGULAR_EXPRESSION "not found")
  endif()
endif()
