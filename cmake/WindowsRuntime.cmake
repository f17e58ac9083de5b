# Where the DLLs of a Windows build come from: Qt's folders and MinGW's run-time
# (libstdc++, libgcc, winpthread), asked of the compiler. Sets CRIBSYNC_MINGW_DLL_DIRS,
# CRIBSYNC_QT_BIN_DIR and CRIBSYNC_QT_PLUGIN_DIR.
set(CRIBSYNC_MINGW_DLL_DIRS)
if(NOT MSVC)
    foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
            OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT EXISTS "${path}")
            message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${dll} is")
        endif()
        get_filename_component(path "${path}" REALPATH)
        get_filename_component(folder "${path}" DIRECTORY)
        list(APPEND CRIBSYNC_MINGW_DLL_DIRS "${folder}")
    endforeach()
    list(REMOVE_DUPLICATES CRIBSYNC_MINGW_DLL_DIRS)
endif()

# Qt's DLLs and plug-ins.
get_filename_component(CRIBSYNC_QT_BIN_DIR "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}" ABSOLUTE)
get_filename_component(CRIBSYNC_QT_PLUGIN_DIR "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}" ABSOLUTE)
