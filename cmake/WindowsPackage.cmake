# What a crib computer gets: the deployable folder (target `deploy`: build-windows/deploy with
# cribsync.exe and every DLL and plug-in it loads) and the installer made from it with NSIS
# (target `installer`: cribsync-<version>-setup.exe).

set(CRIBSYNC_DEPLOY_DIR ${CMAKE_BINARY_DIR}/deploy)
set(CRIBSYNC_INSTALLER ${CMAKE_BINARY_DIR}/cribsync-${PROJECT_VERSION}-setup.exe)

# The plug-ins the program loads: the windows platform, both SQL drivers, the Windows look, and
# the icon format of the tray (PNG is built into Qt Gui).
set(plugin_dir ${CRIBSYNC_QT_PLUGIN_DIR})
install(TARGETS cribsync RUNTIME DESTINATION .)
foreach(plugin platforms/qwindows sqldrivers/qsqlite sqldrivers/qsqlodbc styles/qwindowsvistastyle
    imageformats/qico)
    get_filename_component(folder ${plugin} DIRECTORY)
    install(FILES "${plugin_dir}/${plugin}.dll" DESTINATION ${folder})
endforeach()

# Then every DLL those import that is not part of Windows, from Qt's and MinGW's folders.
install(CODE "
    set(CRIBSYNC_DLL_DIRS \"${CRIBSYNC_QT_BIN_DIR};${CRIBSYNC_MINGW_DLL_DIRS}\")
    set(CRIBSYNC_OBJDUMP \"${CMAKE_OBJDUMP}\")
    set(CRIBSYNC_STRIP \"${CMAKE_STRIP}\")
")
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/DeployRuntime.cmake)

add_custom_target(deploy
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${CRIBSYNC_DEPLOY_DIR}
    COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${CRIBSYNC_DEPLOY_DIR} --strip
    DEPENDS cribsync
    COMMENT "Deployable folder ${CRIBSYNC_DEPLOY_DIR}"
    VERBATIM)

find_program(CRIBSYNC_MAKENSIS makensis)
if(CRIBSYNC_MAKENSIS)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/cribsync.nsi.in ${CMAKE_BINARY_DIR}/cribsync.nsi @ONLY)
    add_custom_target(installer
        COMMAND ${CMAKE_COMMAND} -DDEPLOY=${CRIBSYNC_DEPLOY_DIR} -DOUT=${CMAKE_BINARY_DIR}/cribsync-files.nsh
            -P ${CMAKE_CURRENT_LIST_DIR}/NsisFileList.cmake
        COMMAND ${CRIBSYNC_MAKENSIS} -V2 ${CMAKE_BINARY_DIR}/cribsync.nsi
        DEPENDS deploy
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
        COMMENT "Installer ${CRIBSYNC_INSTALLER}"
        VERBATIM)
else()
    message(STATUS "makensis not found: no installer target (Debian package nsis)")
endif()
