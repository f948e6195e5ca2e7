# The download benchmark: a whole download of 1,000 chapters of 20 KB each,
# answered 20 ms late by the fixture server, beside curl --parallel fetching the
# same pages; prints both wall times, their ratio and (on Linux) the peak
# resident memory of the download. The Windows build runs it under Wine.
# The update benchmark: the same book downloaded whole, then again after 5 new
# chapters, taking what the state file holds; prints requests, the time split
# into its phases, the peak memory and how long a 20 MB state file takes to read.
# The throttled benchmark: 300 chapters from a server that allows 20 requests a
# second; prints whether the book is complete and the time against 15 s.
# The paced benchmark: 200 chapters from servers that throttle in three ways or
# fail each chapter's first request; prints times, requests and refusals.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_executable(download_bench ${CMAKE_CURRENT_LIST_DIR}/download_bench.cpp)
target_link_libraries(download_bench PRIVATE novelfetch_core)
set(NOVELFETCH_BENCH_COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/bench_download.py
  --program $<TARGET_FILE:download_bench>)
if(CMAKE_CROSSCOMPILING)
  list(APPEND NOVELFETCH_BENCH_COMMAND --wine-run ${CMAKE_CROSSCOMPILING_EMULATOR})
endif()
add_test(NAME download_bench COMMAND ${NOVELFETCH_BENCH_COMMAND} --work ${CMAKE_BINARY_DIR}/bench-download)
set_tests_properties(download_bench PROPERTIES TIMEOUT 600)
add_test(NAME download_bench_throttled COMMAND ${NOVELFETCH_BENCH_COMMAND} --throttled
  --work ${CMAKE_BINARY_DIR}/bench-download-throttled)
set_tests_properties(download_bench_throttled PROPERTIES TIMEOUT 600)
add_test(NAME download_bench_paced COMMAND ${NOVELFETCH_BENCH_COMMAND} --sites
  --work ${CMAKE_BINARY_DIR}/bench-download-paced)
set_tests_properties(download_bench_paced PROPERTIES TIMEOUT 900)
add_test(NAME download_bench_update COMMAND ${NOVELFETCH_BENCH_COMMAND} --update
  --work ${CMAKE_BINARY_DIR}/bench-download-update)
set_tests_properties(download_bench_update PROPERTIES TIMEOUT 600)
