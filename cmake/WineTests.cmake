# A Windows build made on Linux runs its tests under Wine: CTest starts every test program
# through build-windows/wine-test.sh and wine-run.sh, which give Wine a prefix of its own inside
# the build folder, no display, and Qt's and MinGW's DLLs on the program's path.

find_program(CRIBSYNC_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CRIBSYNC_WINE NAMES wine64 wine)
find_program(CRIBSYNC_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CRIBSYNC_WINESERVER NAMES wineserver)
if(NOT CRIBSYNC_WINE OR NOT CRIBSYNC_WINESERVER)
    message(STATUS "Wine not found: the Windows tests cannot run here (Debian package wine64)")
    return()
endif()

# A Linux path as Wine's drive Z: shows it.
function(cribsync_wine_path out path)
    string(REPLACE "/" "\\" native "${path}")
    set(${out} "Z:${native}" PARENT_SCOPE)
endfunction()

set(dll_dirs ${CRIBSYNC_QT_BIN_DIR} ${CRIBSYNC_MINGW_DLL_DIRS})
set(wine_dirs)
foreach(dir IN LISTS dll_dirs)
    cribsync_wine_path(native "${dir}")
    list(APPEND wine_dirs "${native}")
endforeach()
list(JOIN wine_dirs ";" CRIBSYNC_WINE_DLL_PATH)
cribsync_wine_path(CRIBSYNC_WINE_PLUGINS "${CRIBSYNC_QT_PLUGIN_DIR}")
set(CRIBSYNC_WINE_PREFIX "${CMAKE_BINARY_DIR}/wine")

configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CRIBSYNC_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-test.sh.in ${CMAKE_BINARY_DIR}/wine-test.sh @ONLY
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-test.sh)
