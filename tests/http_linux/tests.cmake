# The Linux HTTP request class behind the automation layer: its limits, its
# failures and their codes, against the misbehaving fixture server. Linux only:
# on Windows the HTTP classes are the system's own.
if(NOT WIN32)
  add_executable(http_request_tests ${CMAKE_CURRENT_LIST_DIR}/http_request_test.cpp)
  target_link_libraries(http_request_tests PRIVATE novelfetch_core ${NOVELFETCH_GTEST} GTest::gtest_main)
  target_include_directories(http_request_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
  target_compile_definitions(http_request_tests PRIVATE
    NOVELFETCH_FIXTURE_PORT_FILE="${NOVELFETCH_FIXTURE_PORT_FILE}"
    NOVELFETCH_TESTS_DIR="${CMAKE_CURRENT_LIST_DIR}/..")
  add_test(NAME http_request_tests COMMAND http_request_tests)
  set_tests_properties(http_request_tests PROPERTIES FIXTURES_REQUIRED fixture_server TIMEOUT 300)
endif()
