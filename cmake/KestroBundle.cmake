# kestro-bundle: assembles build/bundle/Kestro Agent.app from the programs in
# KESTRO_BUNDLE_PROGRAMS and the files of packaging/:
#
#   Kestro Agent.app/bin/<each program>
#   Kestro Agent.app/share/applications/io.kestro.agent.desktop
#   Kestro Agent.app/share/icons/hicolor/scalable/apps/io.kestro.agent.svg
#   Kestro Agent.app/share/icons/hicolor/scalable/status/io.kestro.agent-menubar.svg
set(KESTRO_BUNDLE_DIR "${CMAKE_BINARY_DIR}/bundle/Kestro Agent.app")
set(KESTRO_BUNDLE_STAMP "${CMAKE_BINARY_DIR}/bundle/bundle.stamp")
set(_programs "")
foreach(program IN LISTS KESTRO_BUNDLE_PROGRAMS)
    list(APPEND _programs "$<TARGET_FILE:${program}>")
endforeach()
# A "|"-separated list survives the trip through the command line whole.
list(JOIN _programs "|" _program_paths)
file(GLOB _packaging_files CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/packaging/*" "${CMAKE_SOURCE_DIR}/packaging/icons/*")
add_custom_command(
    OUTPUT "${KESTRO_BUNDLE_STAMP}"
    COMMAND "${CMAKE_COMMAND}" "-DBUNDLE=${KESTRO_BUNDLE_DIR}" "-DPROGRAMS=${_program_paths}"
            "-DPACKAGING=${CMAKE_SOURCE_DIR}/packaging" "-DVERSION=${KESTRO_VERSION}"
            -P "${CMAKE_SOURCE_DIR}/cmake/make_bundle.cmake"
    COMMAND "${CMAKE_COMMAND}" -E touch "${KESTRO_BUNDLE_STAMP}"
    DEPENDS ${KESTRO_BUNDLE_PROGRAMS} ${_packaging_files} "${CMAKE_SOURCE_DIR}/cmake/make_bundle.cmake"
    COMMENT "Assembling Kestro Agent.app"
    VERBATIM)
add_custom_target(kestro-bundle ALL DEPENDS "${KESTRO_BUNDLE_STAMP}")
