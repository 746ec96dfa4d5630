# What window calls cost: system calls per row, heap beyond the result, and
# the resampling sample by sample. Every read, pread and lseek the test's
# objects make, the library's among them, passes through its counters.
bsbchart_test(performance_test performance_test.cpp)
if(WIN32)
  target_link_options(performance_test PRIVATE -Wl,--wrap=__imp_ReadFile)
else()
  target_link_options(performance_test PRIVATE
                      -Wl,--wrap=read,--wrap=pread,--wrap=pread64,--wrap=lseek,--wrap=lseek64)
endif()
# The reference sums in the test must round like the library's.
target_compile_options(performance_test PRIVATE -ffp-contract=off)
