# kestro-bundle: assembles build/bundle/Kestro Agent.app from the programs in
# KESTRO_BUNDLE_PROGRAMS and the files of packaging/:
#
#   Kestro Agent.app/bin/<each program>
#   Kestro Agent.app/share/applications/io.kestro.agent.desktop
#   Kestro Agent.app/share/icons/hicolor/scalable/apps/io.kestro.agent.svg
#   Kestro Agent.app/share/icons/hicolor/scalable/status/io.kestro.agent-menubar.svg
#   Kestro Agent.app/lib/       every shared library the programs need but a desktop's own
#   Kestro Agent.app/plugins/   the Qt plugins of KESTRO_BUNDLE_QT_PLUGINS (bin/qt.conf points there)
#   Kestro Agent.app/install    the installer (packaging/install)
set(KESTRO_BUNDLE_DIR "${CMAKE_BINARY_DIR}/bundle/Kestro Agent.app")
set(KESTRO_BUNDLE_STAMP "${CMAKE_BINARY_DIR}/bundle/bundle.stamp")
set(_programs "")
foreach(program IN LISTS KESTRO_BUNDLE_PROGRAMS)
    list(APPEND _programs "$<TARGET_FILE:${program}>")
endforeach()
# The Qt plugins the tray application loads: the X11 platform (the panel is
# placed under its icon, which a Wayland client cannot do, so XWayland serves
# there too), the SVG icons, and the keyboard input methods. No OpenGL
# integration: the panel is drawn without it, and the system's GL drivers
# would then be loaded beside the bundle's older C++ library.
set(KESTRO_BUNDLE_QT_PLUGINS "")
if(TARGET kestro-agent-gui)
    foreach(plugin IN ITEMS platforms/libqxcb.so iconengines/libqsvgicon.so imageformats/libqsvg.so
                            platforminputcontexts/libcomposeplatforminputcontextplugin.so
                            platforminputcontexts/libibusplatforminputcontextplugin.so)
        set(_plugin "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/${plugin}")
        if(NOT EXISTS "${_plugin}")
            message(FATAL_ERROR "the Qt plugin ${_plugin} is missing (qt6-base and qt6-svg packages)")
        endif()
        list(APPEND KESTRO_BUNDLE_QT_PLUGINS "${_plugin}")
    endforeach()
endif()
# Libraries opened at run time rather than linked (src/core/curl_library.cpp).
set(KESTRO_BUNDLE_OPENED libcurl.so.4)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(KESTRO_PATCHELF patchelf REQUIRED)
list(JOIN KESTRO_BUNDLE_QT_PLUGINS "|" _plugin_paths)
list(JOIN KESTRO_BUNDLE_OPENED "|" _opened)
# A "|"-separated list survives the trip through the command line whole.
list(JOIN _programs "|" _program_paths)
file(GLOB _packaging_files CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/packaging/*" "${CMAKE_SOURCE_DIR}/packaging/icons/*")
add_custom_command(
    OUTPUT "${KESTRO_BUNDLE_STAMP}"
    COMMAND "${CMAKE_COMMAND}" "-DBUNDLE=${KESTRO_BUNDLE_DIR}" "-DPROGRAMS=${_program_paths}"
            "-DPACKAGING=${CMAKE_SOURCE_DIR}/packaging" "-DVERSION=${KESTRO_VERSION}"
            "-DPLUGINS=${_plugin_paths}" "-DOPENED=${_opened}" "-DPYTHON=${Python3_EXECUTABLE}"
            "-DBUNDLE_LIBRARIES=${CMAKE_SOURCE_DIR}/cmake/bundle_libraries.py"
            -P "${CMAKE_SOURCE_DIR}/cmake/make_bundle.cmake"
    COMMAND "${CMAKE_COMMAND}" -E touch "${KESTRO_BUNDLE_STAMP}"
    DEPENDS ${KESTRO_BUNDLE_PROGRAMS} ${_packaging_files} "${CMAKE_SOURCE_DIR}/cmake/make_bundle.cmake"
            "${CMAKE_SOURCE_DIR}/cmake/bundle_libraries.py"
    COMMENT "Assembling Kestro Agent.app"
    VERBATIM)
add_custom_target(kestro-bundle ALL DEPENDS "${KESTRO_BUNDLE_STAMP}")
