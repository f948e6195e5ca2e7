# End-to-end tests of the dialog: each starts its own X server (tests/e2e/xvfb.py)
# and drives the real program as a user would. The Windows program runs under
# Wine in a prefix of these tests' own, where the dialog font is mapped to a
# Chinese font that Debian ships; each run saves screenshots under e2e/.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(NOVELFETCH_E2E ${CMAKE_CURRENT_LIST_DIR})
set(NOVELFETCH_SHOTS ${CMAKE_BINARY_DIR}/e2e)

if(CMAKE_CROSSCOMPILING)
  # The Windows dialog layer in a dialog of its own: the test carries the
  # program's resources, so template 1000, icon 129 and the manifest are in its module.
  add_executable(windows_dialog_test ${NOVELFETCH_E2E}/windows_dialog_test.cpp)
  target_link_libraries(windows_dialog_test PRIVATE novelfetch_core novelfetch_resources gtest gtest_main)
  add_test(NAME windows_dialog_test
    COMMAND ${Python3_EXECUTABLE} ${NOVELFETCH_E2E}/dialog_e2e.py windows-test-program
      --program $<TARGET_FILE:windows_dialog_test> --wine-run ${CMAKE_CROSSCOMPILING_EMULATOR}
      --prefix ${CMAKE_BINARY_DIR}/e2e-wineprefix --shots ${NOVELFETCH_SHOTS})
  set_tests_properties(windows_dialog_test PROPERTIES TIMEOUT 600 RESOURCE_LOCK e2e-wineprefix)

  foreach(locale en zh_CN)
    add_test(NAME dialog_windows_${locale}
      COMMAND ${Python3_EXECUTABLE} ${NOVELFETCH_E2E}/dialog_e2e.py windows
        --program $<TARGET_FILE:novelfetch> --driver $<TARGET_FILE:dialog_driver>
        --wine-run ${CMAKE_CROSSCOMPILING_EMULATOR} --prefix ${CMAKE_BINARY_DIR}/e2e-wineprefix
        --locale ${locale} --shots ${NOVELFETCH_SHOTS})
    # One Wine prefix: its windows are visible to every program in it.
    set_tests_properties(dialog_windows_${locale} PROPERTIES TIMEOUT 600 RESOURCE_LOCK e2e-wineprefix)
  endforeach()
else()
  add_executable(linux_dialog_test ${NOVELFETCH_E2E}/linux_dialog_test.cpp)
  target_link_libraries(linux_dialog_test PRIVATE novelfetch_core GTest::gtest GTest::gtest_main)
  add_test(NAME linux_dialog_test COMMAND ${Python3_EXECUTABLE} ${NOVELFETCH_E2E}/xvfb.py
    $<TARGET_FILE:linux_dialog_test>)
  # Under the sanitizers: the caches of the libraries under GTK are not leaks of
  # ours, and telling them apart needs whole stacks.
  set_tests_properties(linux_dialog_test PROPERTIES TIMEOUT 300 ENVIRONMENT
    "LSAN_OPTIONS=suppressions=${NOVELFETCH_E2E}/lsan.supp;ASAN_OPTIONS=fast_unwind_on_malloc=0")

  add_test(NAME dialog_linux
    COMMAND ${Python3_EXECUTABLE} ${NOVELFETCH_E2E}/dialog_e2e.py linux
      --program $<TARGET_FILE:novelfetch> --shots ${NOVELFETCH_SHOTS})
  set_tests_properties(dialog_linux PROPERTIES TIMEOUT 300)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/download_tests.cmake)
