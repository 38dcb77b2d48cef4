find_package(GTest REQUIRED)

# kestro_add_test(NAME SOURCES files... [LIBS libs...])
# One executable and one CTest entry per test file. Every test gets the path of
# the built agent and of the stand-in service so integration tests run the real
# binaries, and the offscreen Qt platform so GUI tests never need a display.
function(kestro_add_test NAME)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${NAME} ${T_SOURCES})
    target_compile_options(${NAME} PRIVATE ${KESTRO_WARNINGS} ${KESTRO_TEST_OPTIMISATION})
    target_link_libraries(${NAME} PRIVATE kestro_testsupport ${T_LIBS} GTest::gtest GTest::gtest_main)
    # The GUI tests see Qt's definitions and would not match the shared
    # precompiled headers; the others reuse them.
    if(NOT T_LIBS)
        target_precompile_headers(${NAME} REUSE_FROM kestro_testsupport)
    endif()
    add_dependencies(${NAME} kestro-agent)
    # The agent's no-argument mode runs the tray application from beside it.
    if(TARGET kestro-agent-gui)
        add_dependencies(${NAME} kestro-agent-gui)
    endif()
    # An empty manifest address keeps every test off the network: a test that
    # wants the manifest fetched sets or unsets it itself.
    set(env "KESTRO_AGENT_BIN=$<TARGET_FILE:kestro-agent>" "QT_QPA_PLATFORM=offscreen" "KESTRO_AGENT_MANIFEST_URL="
        "KESTRO_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
    if(TARGET kestro-devservice)
        add_dependencies(${NAME} kestro-devservice)
        list(APPEND env "KESTRO_DEVSERVICE_BIN=$<TARGET_FILE:kestro-devservice>")
    endif()
    add_test(NAME ${NAME} COMMAND ${NAME})
    set_tests_properties(${NAME} PROPERTIES TIMEOUT 300 ENVIRONMENT "${env}")
endfunction()
