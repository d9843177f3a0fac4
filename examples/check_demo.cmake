# Remakes the demo song with the composer and compares it with the committed
# examples/demo.gym.zip: the archive must be what its source makes.
#   cmake -DCOMPOSER=... -DCOMMITTED=... -DOUT=... -P check_demo.cmake
execute_process(COMMAND ${COMPOSER} ${OUT} RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "compose_demo failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT} ${COMMITTED} RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${COMMITTED} differs from what compose_demo makes now; rerun compose_demo on it")
endif()
