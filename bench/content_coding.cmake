# The gzip level by measurement: the 100,000-item catalogue answer compressed at levels 1..9,
# MB/s and ratio, and the load request inflated (about half a minute).
add_executable(content_coding_bench ${CMAKE_CURRENT_LIST_DIR}/content_coding_bench.cpp)
target_link_libraries(content_coding_bench PRIVATE dct_service dct_bench_fixture)
add_custom_target(bench_content_coding
  COMMAND content_coding_bench 100000 3
  DEPENDS content_coding_bench
  USES_TERMINAL)

# bench_service_shaped: the catalogue download and load over a loopback shaped to 20 and to
# 2 Mbit/s, gzip against identity, then the download unshaped (root: a network namespace;
# about 10 minutes).
add_custom_target(bench_service_shaped
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/service_shaped.sh $<TARGET_FILE:dct_korvelmobilesvc>
          $<TARGET_FILE:exchange_bench>
  DEPENDS dct_korvelmobilesvc exchange_bench
  USES_TERMINAL)
