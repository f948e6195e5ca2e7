# Test helpers that put work on the calling thread's message queue (Windows) or
# the default GLib main context (Linux), for the unit tests of the timed wait and
# the message pump. Chosen per platform like the program's own seam.
target_sources(unit_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/message_queue_${NOVELFETCH_PLATFORM}.cpp)
