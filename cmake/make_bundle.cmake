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
