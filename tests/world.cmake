bsbchart_test(polynomial_test polynomial_test.cpp)
# The reference sums in the test must round like the library's.
target_compile_options(polynomial_test PRIVATE -ffp-contract=off)

bsbchart_host_test(world_extent_test world_extent_test.cpp)
bsbchart_host_test(world_window_test world_window_test.cpp)

bsbchart_test(rotated_window_test rotated_window_test.cpp)
# The test sees every read the chart file layer asks of the platform.
target_link_options(rotated_window_test PRIVATE
                    -Wl,--wrap=_ZN3bsb13ReadChartFileEPNS_9ChartFileEPvjPj)
