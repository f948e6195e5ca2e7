# Speed of fetch_page against the curl command line, on the same 20 KB page of
# the fixture server: 1,000 fetches in a row and 1,000 over ten threads. Run
# by hand for the figures (fetch_bench --port-file build/<preset>/fixture_server.port
# while the server runs); ctest runs a short round so that CI proves it works.
include(${CMAKE_CURRENT_LIST_DIR}/../fixture_server/tests.cmake)
add_executable(fetch_bench ${CMAKE_CURRENT_LIST_DIR}/fetch_bench.cpp)
target_link_libraries(fetch_bench PRIVATE novelfetch_core)
add_test(NAME fetch_bench COMMAND fetch_bench --port-file ${NOVELFETCH_FIXTURE_PORT_FILE} --count 50)
set_tests_properties(fetch_bench PROPERTIES FIXTURES_REQUIRED fixture_server TIMEOUT 300)
