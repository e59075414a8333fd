# Value text benchmarks, and the catalogue fixture that other benchmarks reuse.
add_library(dct_bench_fixture INTERFACE)
target_link_libraries(dct_bench_fixture INTERFACE dct_values)

add_executable(values_bench ${CMAKE_CURRENT_LIST_DIR}/values_bench.cpp)
target_link_libraries(values_bench PRIVATE dct_bench_fixture dct_values dct_support pugixml::pugixml
                      benchmark::benchmark)
