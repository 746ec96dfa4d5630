# Links `target` with the system call counter of tests/support/system_calls.h:
# every read, pread and lseek (ReadFile on Windows) its objects make passes
# through the counter.
function(bsbchart_count_system_calls target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/system_calls.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  if(WIN32)
    target_link_options(${target} PRIVATE -Wl,--wrap=__imp_ReadFile)
  else()
    target_link_options(${target} PRIVATE
                        -Wl,--wrap=read,--wrap=pread,--wrap=pread64,--wrap=lseek,--wrap=lseek64)
  endif()
endfunction()
