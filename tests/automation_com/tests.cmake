# The automation bridge over real COM, against small automation objects of the
# tests' own (with and without type information, and one made through a type
# library the test writes). Windows only; runs under Wine.
if(WIN32)
  add_executable(automation_com_tests ${CMAKE_CURRENT_LIST_DIR}/automation_com_test.cpp)
  target_link_libraries(automation_com_tests PRIVATE novelfetch_core ${NOVELFETCH_GTEST} gtest_main ole32 oleaut32 uuid)
  add_test(NAME automation_com_tests COMMAND automation_com_tests)
  set_tests_properties(automation_com_tests PROPERTIES TIMEOUT 300)
endif()
