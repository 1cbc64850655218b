# One helper per kind of target, so every test is declared the same way.

# tallix_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
# A GoogleTest executable whose tests CTest discovers one by one.
function(tallix_add_gtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} tallix_test_support GTest::gtest GTest::gtest_main)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    gtest_discover_tests(${name}
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/tests
        PROPERTIES ENVIRONMENT "TALLIX_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data"
        DISCOVERY_TIMEOUT 60)
endfunction()

# tallix_moc(TARGET): runs Qt's moc over the target's sources (only targets with Q_OBJECT
# classes need it; the others are spared the step).
function(tallix_moc target)
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
endfunction()

# tallix_add_qttest(NAME SOURCES a.cpp LIBS lib1)
# A Qt Test executable run under the offscreen platform.
function(tallix_add_qttest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} tallix_test_support Qt6::Test Qt6::Widgets)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    tallix_moc(${name})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TALLIX_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
endfunction()

# tallix_add_e2e(NAME SCRIPT file.sh)
# An end-to-end test: a shell script that runs the real programs from build/bin.
function(tallix_add_e2e name)
    cmake_parse_arguments(ARG "" "SCRIPT" "" ${ARGN})
    add_test(NAME ${name} COMMAND bash ${ARG_SCRIPT})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "TALLIX_BIN=${CMAKE_BINARY_DIR}/bin;TALLIX_SOURCE=${CMAKE_SOURCE_DIR};TALLIX_TEST_DATA=${CMAKE_SOURCE_DIR}/tests/data")
endfunction()
