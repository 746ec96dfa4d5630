# What window calls cost: system calls per row, heap beyond the result, and
# the resampling sample by sample.
include(${PROJECT_SOURCE_DIR}/cmake/system_calls.cmake)
bsbchart_test(performance_test performance_test.cpp)
bsbchart_count_system_calls(performance_test)
# The reference sums in the test must round like the library's.
target_compile_options(performance_test PRIVATE -ffp-contract=off)
