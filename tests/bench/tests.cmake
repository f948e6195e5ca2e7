# Speed figures of the text commands, printed by Google Benchmark. Built only
# natively; ctest runs it in a short mode so that CI proves it builds and runs.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(benchmark REQUIRED)
  add_executable(text_bench ${CMAKE_CURRENT_LIST_DIR}/text_bench.cpp)
  target_link_libraries(text_bench PRIVATE novelfetch_core benchmark::benchmark)
  add_test(NAME text_bench COMMAND text_bench --benchmark_min_time=0.01)
endif()
