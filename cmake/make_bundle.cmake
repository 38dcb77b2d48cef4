# Run by the kestro-bundle target: builds the bundle afresh, so nothing from an
# earlier build lingers in it. Inputs: BUNDLE, PROGRAMS ("|"-separated paths),
# PACKAGING (the packaging/ folder), VERSION.
file(REMOVE_RECURSE "${BUNDLE}")
set(exec_perms OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(data_perms OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
string(REPLACE "|" ";" programs "${PROGRAMS}")
foreach(program IN LISTS programs)
    file(COPY "${program}" DESTINATION "${BUNDLE}/bin" FILE_PERMISSIONS ${exec_perms})
endforeach()
set(icons "${BUNDLE}/share/icons/hicolor/scalable")
file(COPY "${PACKAGING}/icons/io.kestro.agent.svg" DESTINATION "${icons}/apps" FILE_PERMISSIONS ${data_perms})
file(COPY "${PACKAGING}/icons/io.kestro.agent-menubar.svg" DESTINATION "${icons}/status" FILE_PERMISSIONS ${data_perms})
# The entry names the usual install location; scripts/install rewrites Exec
# for wherever it installs.
set(KESTRO_EXEC "\"/opt/Kestro Agent.app/bin/kestro-agent\"")
configure_file("${PACKAGING}/io.kestro.agent.desktop.in" "${BUNDLE}/share/applications/io.kestro.agent.desktop" @ONLY)
file(CHMOD "${BUNDLE}/share/applications/io.kestro.agent.desktop" PERMISSIONS ${data_perms})
# The installer travels with the bundle: a downloaded release installs itself.
file(COPY "${PACKAGING}/install" DESTINATION "${BUNDLE}" FILE_PERMISSIONS ${exec_perms})

# The libraries and plugins that make the bundle run on any current desktop.
set(bundle_arguments "")
string(REPLACE "|" ";" plugins "${PLUGINS}")
foreach(plugin IN LISTS plugins)
    list(APPEND bundle_arguments --plugin "${plugin}")
endforeach()
string(REPLACE "|" ";" opened "${OPENED}")
foreach(library IN LISTS opened)
    list(APPEND bundle_arguments --opened "${library}")
endforeach()
execute_process(COMMAND "${PYTHON}" "${BUNDLE_LIBRARIES}" "${BUNDLE}" ${bundle_arguments}
                RESULT_VARIABLE bundled)
if(NOT bundled EQUAL 0)
    message(FATAL_ERROR "could not gather the bundle's libraries")
endif()
