# Recording: Start, STOP, the timer and the acquisition tick on the real main
# window, with an in-process meter driver.
dsg_add_test(tst_recording
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/recording/tst_recording.cpp
          ${CMAKE_CURRENT_LIST_DIR}/recording/FakeMeterDriver.h
  LIBS mainwindow handlecheck)
target_include_directories(tst_recording PRIVATE ${CMAKE_CURRENT_LIST_DIR}/recording)
