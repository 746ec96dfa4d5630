# Compares the symbols the library exports with its public interface and
# checks that it depends on the C library (on Windows the system's DLLs)
# alone. SYSTEM, POINTER_SIZE and the binutils come from the build.
if(NOT NM)
  set(NM nm)
endif()
if(NOT READELF)
  set(READELF readelf)
endif()
if(SYSTEM STREQUAL "Windows")
  set(size_type "unsigned long long")
  set(rect "tagRECT")
elseif(POINTER_SIZE EQUAL 4)
  set(size_type "unsigned int")
  set(rect "RECT")
else()
  set(size_type "unsigned long")
  set(rect "RECT")
endif()
set(expected
  "CountChartBlocks(void*)"
  "CreateChartHeap(${size_type})"
  "DestroyChartHeap(void*)"
  "FreeChartBlock(void*, void*)"
  "GetBsbBorder(unsigned short const*, ${rect}*, int&)"
  "GetBsbBorder(unsigned short const*, double*, double*, double*, double*, double*, double*, int&)"
  "GetWindowBmp(unsigned short const*, void*, ${rect})"
  "GetWindowBmp(unsigned short const*, void*, double, double, double, double)"
  "SetMessageSink(void (*)(unsigned short const*, void*), void*)"
  bsbchart_close
  bsbchart_error_text
  bsbchart_free
  bsbchart_get_field
  bsbchart_get_info
  bsbchart_get_palette
  bsbchart_header_text
  bsbchart_heap_allocator
  bsbchart_open
  bsbchart_open_utf16
  bsbchart_palette_key
  bsbchart_pixel_to_world
  bsbchart_pixel_window
  bsbchart_reduced_window
  bsbchart_reduced_world_window
  bsbchart_strerror
  bsbchart_version
  bsbchart_world_extent
  bsbchart_world_to_pixel
  bsbchart_world_window)

set(exported)
if(SYSTEM STREQUAL "Windows")
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${LIBRARY}")
  endif()
  # One "\t[ n] name" line per export; brackets would confuse CMake's lists.
  string(REGEX MATCH "Ordinal/Name Pointer\\] Table(\n\t\\[[^\n]*)*" table "${listing}")
  string(FIND "${table}" "\n" header_end)
  string(SUBSTRING "${table}" ${header_end} -1 table)
  string(REGEX REPLACE "\n\t\\[ *[0-9]+\\] " ";" names "${table}")
  foreach(name IN LISTS names)
    execute_process(COMMAND c++filt "${name}" OUTPUT_VARIABLE name OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND exported "${name}")
  endforeach()
else()
  execute_process(COMMAND ${NM} -D --defined-only -C --format=posix ${LIBRARY}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^(.*) [TtWwDdBbRrVvi] [0-9a-f]+")
      set(name "${CMAKE_MATCH_1}")
      list(APPEND exported "${name}")
    endif()
  endforeach()
endif()
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  string(REPLACE ";" "\n  " shown "${exported}")
  message(FATAL_ERROR "exported symbols differ from the interface:\n  ${shown}")
endif()

if(SYSTEM STREQUAL "Windows")
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${listing}")
  foreach(import IN LISTS imports)
    string(TOUPPER "${import}" import)
    if(NOT import MATCHES "^DLL NAME: (KERNEL32|USER32|MSVCRT)\\.DLL$")
      message(FATAL_ERROR "the library needs more than the system's DLLs: ${import}")
    endif()
  endforeach()
else()
  execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic)
  if(dynamic MATCHES "libstdc\\+\\+|libgcc_s")
    message(FATAL_ERROR "the library needs a C++ runtime:\n${dynamic}")
  endif()
endif()
message(STATUS "exports: ${exported}")
