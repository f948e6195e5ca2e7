# Speed figures of the table-of-contents parser and the chapter extraction,
# printed by Google Benchmark. Built only natively; ctest runs it in a short
# mode so that CI proves it builds and runs.
if(NOT CMAKE_CROSSCOMPILING)
  find_package(benchmark REQUIRED)
  add_executable(novel_bench ${CMAKE_CURRENT_LIST_DIR}/../bench/novel_bench.cpp)
  target_link_libraries(novel_bench PRIVATE novelfetch_core benchmark::benchmark)
  add_test(NAME novel_bench COMMAND novel_bench --benchmark_min_time=0.01)
endif()
