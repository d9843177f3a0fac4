include(CTest)
if(BUILD_TESTING)
    if(WIN32)
        # Debian ships GoogleTest as source only for the cross target: build
        # it with the same toolchain, under the target names that
        # find_package(GTest) gives natively.
        include(${CMAKE_CURRENT_LIST_DIR}/Wine.cmake)
        set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest
            ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
        if(NOT TARGET GTest::gtest)
            add_library(GTest::gtest ALIAS gtest)
            add_library(GTest::gtest_main ALIAS gtest_main)
        endif()
        # Starting a Windows program under Wine takes a while.
        set(TAMBORIL_GTEST_DISCOVERY_TIMEOUT 120)
    else()
        find_package(GTest REQUIRED)
        set(TAMBORIL_GTEST_DISCOVERY_TIMEOUT 30)
    endif()
    include(GoogleTest)

    # GoogleTest's header is parsed once per build into a precompiled header
    # that every test program's files reuse (a quarter of a test file's
    # compile time). Its definitions are those of every test program.
    add_library(tamboril_gtest_pch STATIC ${CMAKE_CURRENT_LIST_DIR}/gtest_pch.cpp)
    target_link_libraries(tamboril_gtest_pch PRIVATE GTest::gtest)
    target_compile_definitions(tamboril_gtest_pch PRIVATE
        TAMBORIL_SHARED_DIR="${TAMBORIL_SHARED_DIR}"
        TAMBORIL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    target_precompile_headers(tamboril_gtest_pch PRIVATE <gtest/gtest.h>)
endif()

# tamboril_add_gtest(name SOURCES a.cpp b.cpp LIBS lib...)
#
# The test program sees two macros: TAMBORIL_SHARED_DIR, the folder of shared
# test songs (the configured one, or the environment's TAMBORIL_SHARED_DIR),
# and TAMBORIL_SOURCE_DIR, the repository root. Tests are
# listed when ctest runs (PRE_TEST), so building never starts a test program.
function(tamboril_add_gtest name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
    # TAMBORIL_SHARED_DIR is an expression (tests/support/shared_dir.h): the
    # environment may point it elsewhere at run time.
    target_compile_definitions(${name} PRIVATE
        TAMBORIL_SHARED_DIR_BUILT="${TAMBORIL_SHARED_DIR}"
        TAMBORIL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
    target_compile_options(${name} PRIVATE
        "SHELL:-include ${CMAKE_SOURCE_DIR}/tests/support/shared_dir.h")
    target_precompile_headers(${name} REUSE_FROM tamboril_gtest_pch)
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT ${TAMBORIL_GTEST_DISCOVERY_TIMEOUT})
endfunction()

# tamboril_add_shared_test(NAME name COMMAND program args...)
#
# A plain test that reads the shared test songs: while their folder is absent
# it is skipped, saying so, instead of failing. The program is run as given
# (pass a target as $<TARGET_FILE:target>).
function(tamboril_add_shared_test)
    cmake_parse_arguments(T "" "NAME" "COMMAND" ${ARGN})
    find_program(TAMBORIL_SH sh REQUIRED)
    add_test(NAME ${T_NAME}
        COMMAND ${TAMBORIL_SH} ${PROJECT_SOURCE_DIR}/cmake/need-shared
                ${TAMBORIL_SHARED_DIR} ${T_COMMAND})
    set_tests_properties(${T_NAME} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
