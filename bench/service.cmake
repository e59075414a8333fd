# Web service front benchmarks.
#
# bench_service_wrk: Echo rate over HTTP with wrk, a new connection per request, against
# our server and the minimal responder below, in one run (5 pairs of 3 s rounds, about
# 35 s with start-up).
add_executable(service_floor ${CMAKE_CURRENT_LIST_DIR}/service_floor.cpp)
target_link_libraries(service_floor PRIVATE Boost::headers Threads::Threads)
add_custom_target(bench_service_wrk
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/service_wrk.sh $<TARGET_FILE:service_testserver>
          $<TARGET_FILE:service_floor> ${CMAKE_CURRENT_LIST_DIR}/service_echo.lua
  DEPENDS service_testserver service_floor
  USES_TERMINAL)

# service_catalogue_bench: Echo of the 100,000-item catalogue over HTTP against Decode and
# Encode of the same value in the process, with the peak memory of each.
add_executable(service_catalogue_bench ${CMAKE_CURRENT_LIST_DIR}/service_catalogue_bench.cpp)
target_link_libraries(service_catalogue_bench PRIVATE
  dct_service dct_bench_fixture benchmark::benchmark)
add_custom_target(bench_service_catalogue
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/service_catalogue.sh $<TARGET_FILE:service_catalogue_bench>
          $<TARGET_FILE:service_testserver>
  DEPENDS service_catalogue_bench service_testserver
  USES_TERMINAL)
