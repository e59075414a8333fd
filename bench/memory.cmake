# Peak resident memory of the program over 3 rounds of catalogue load and download, for
# 100,000 and 1,000,000 items, with both calls timed against their in-process floors
# (about 2 minutes).
add_executable(catalogue_memory_bench ${CMAKE_CURRENT_LIST_DIR}/catalogue_memory_bench.cpp)
target_link_libraries(catalogue_memory_bench PRIVATE dct_bench_fixture dct_values pugixml::pugixml
                      SQLite::SQLite3 Threads::Threads)
add_custom_target(bench_catalogue_memory
  COMMAND catalogue_memory_bench $<TARGET_FILE:dct_korvelmobilesvc>
  DEPENDS catalogue_memory_bench dct_korvelmobilesvc
  USES_TERMINAL)
