# Fault sweeps, concurrency and the replay of inputs the fuzz targets found.
find_package(Threads REQUIRED)

bsbchart_test(fault_sweep_test fault_sweep_test.cpp)
bsbchart_test(concurrency_test concurrency_test.cpp)
target_link_libraries(concurrency_test PRIVATE Threads::Threads)

# The fuzz targets' own entry code, here over real files.
set(BSBCHART_FUZZ_DIR ${PROJECT_SOURCE_DIR}/fuzz)
bsbchart_test(fuzz_regression_test fuzz_regression_test.cpp
              ${BSBCHART_FUZZ_DIR}/fuzz_messages.cpp
              ${BSBCHART_FUZZ_DIR}/row_decoder_entry.cpp
              ${BSBCHART_FUZZ_DIR}/header_readers_entry.cpp
              ${BSBCHART_FUZZ_DIR}/whole_file_entry.cpp)
target_include_directories(fuzz_regression_test PRIVATE ${BSBCHART_FUZZ_DIR})
target_compile_definitions(fuzz_regression_test PRIVATE
                           BSBCHART_FUZZ_REGRESSIONS="${BSBCHART_FUZZ_DIR}/regressions")
