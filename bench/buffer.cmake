# Data buffer benchmarks: the layer and TDataBuffer against the bare SQLite C interface.
# The bare floor links the engine directly; the layer binds the same library at run time.
add_executable(buffer_bench ${CMAKE_CURRENT_LIST_DIR}/buffer_bench.cpp)
target_link_libraries(buffer_bench PRIVATE dct_buffer SQLite::SQLite3 benchmark::benchmark)
