# Compares the dynamic symbols the library defines with its public interface
# and checks that it depends on the C library alone.
set(expected
  "CountChartBlocks(void*)"
  "CreateChartHeap(unsigned long)"
  "DestroyChartHeap(void*)"
  "FreeChartBlock(void*, void*)"
  "GetBsbBorder(unsigned short const*, RECT*, int&)"
  "GetBsbBorder(unsigned short const*, double*, double*, double*, double*, double*, double*, int&)"
  "GetWindowBmp(unsigned short const*, void*, RECT)"
  "GetWindowBmp(unsigned short const*, void*, double, double, double, double)"
  "SetMessageSink(void (*)(unsigned short const*, void*), void*)")

execute_process(COMMAND nm -D --defined-only -C --format=posix ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported)
foreach(line IN LISTS lines)
  if(line MATCHES "^(.*) [TtWwDdBbRrVvi] [0-9a-f]+")
    set(name "${CMAKE_MATCH_1}")
    list(APPEND exported "${name}")
  endif()
endforeach()
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  string(REPLACE ";" "\n  " shown "${exported}")
  message(FATAL_ERROR "exported symbols differ from the interface:\n  ${shown}")
endif()

execute_process(COMMAND readelf -d ${LIBRARY} OUTPUT_VARIABLE dynamic)
if(dynamic MATCHES "libstdc\\+\\+|libgcc_s")
  message(FATAL_ERROR "the library needs a C++ runtime:\n${dynamic}")
endif()
message(STATUS "exports: ${exported}")
