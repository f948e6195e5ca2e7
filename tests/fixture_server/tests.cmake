# The fixture web server for every test program that fetches pages: a setup test
# starts tests/fixture_server.py in the background on 127.0.0.1 (serving the
# tests folder, so /fixtures/... and /fixture_server/pages/... are reachable)
# and writes its port to NOVELFETCH_FIXTURE_PORT_FILE; a cleanup test stops it.
# A test that needs it declares FIXTURES_REQUIRED fixture_server and reads the
# port from that file. Under Wine the Windows programs reach it through the same
# path (the Z: drive).
include_guard(GLOBAL)
find_program(NOVELFETCH_PYTHON NAMES python3 REQUIRED)
set(NOVELFETCH_FIXTURE_PORT_FILE ${CMAKE_BINARY_DIR}/fixture_server.port)
set(NOVELFETCH_FIXTURE_PID_FILE ${CMAKE_BINARY_DIR}/fixture_server.pid)

add_test(NAME fixture_server_start
  COMMAND ${NOVELFETCH_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/../fixture_server.py
          --root ${CMAKE_CURRENT_LIST_DIR}/.. --port-file ${NOVELFETCH_FIXTURE_PORT_FILE}
          --pid-file ${NOVELFETCH_FIXTURE_PID_FILE} --idle-exit 900 --background)
set_tests_properties(fixture_server_start PROPERTIES FIXTURES_SETUP fixture_server)
add_test(NAME fixture_server_stop
  COMMAND ${NOVELFETCH_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/../fixture_server.py --stop ${NOVELFETCH_FIXTURE_PID_FILE})
set_tests_properties(fixture_server_stop PROPERTIES FIXTURES_CLEANUP fixture_server)

set_property(TEST unit_tests APPEND PROPERTY FIXTURES_REQUIRED fixture_server)
target_compile_definitions(unit_tests PRIVATE NOVELFETCH_FIXTURE_PORT_FILE="${NOVELFETCH_FIXTURE_PORT_FILE}")
