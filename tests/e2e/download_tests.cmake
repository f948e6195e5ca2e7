# End-to-end downloads: the real program, a private X server, the fixture novel
# sites served on 127.0.0.1; the book files and status texts are compared
# exactly (tests/e2e/download_e2e.py). The Windows program runs under Wine in
# the same prefix as the dialog tests, one test at a time.
set(NOVELFETCH_DOWNLOAD_WORK ${CMAKE_BINARY_DIR}/e2e-download)

if(CMAKE_CROSSCOMPILING)
  add_test(NAME download_windows
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/download_e2e.py windows
      --program $<TARGET_FILE:novelfetch> --driver $<TARGET_FILE:dialog_driver>
      --wine-run ${CMAKE_CROSSCOMPILING_EMULATOR} --prefix ${CMAKE_BINARY_DIR}/e2e-wineprefix
      --work ${NOVELFETCH_DOWNLOAD_WORK})
  set_tests_properties(download_windows PROPERTIES TIMEOUT 1200 RESOURCE_LOCK e2e-wineprefix)
else()
  add_executable(linux_second_command ${CMAKE_CURRENT_LIST_DIR}/linux_second_command.cpp)
  target_link_libraries(linux_second_command PRIVATE novelfetch_core)
  add_test(NAME download_linux
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/download_e2e.py linux
      --program $<TARGET_FILE:novelfetch> --second-command $<TARGET_FILE:linux_second_command>
      --work ${NOVELFETCH_DOWNLOAD_WORK})
  set_tests_properties(download_linux PROPERTIES TIMEOUT 900)
endif()
