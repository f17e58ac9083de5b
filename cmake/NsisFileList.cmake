# Writes the uninstaller's part of the NSIS script: a Delete line for every file of the
# deployable folder and an RMDir for every folder, deepest first, so that the uninstaller removes
# what the installer put there and nothing the agent made beside it (paths.ini, the log).
#   cmake -DDEPLOY=folder -DOUT=file.nsh -P NsisFileList.cmake
file(GLOB_RECURSE files RELATIVE "${DEPLOY}" "${DEPLOY}/*")
set(text "; Made by cmake/NsisFileList.cmake from ${DEPLOY}\n")
set(folders)
foreach(file IN LISTS files)
    string(REPLACE "/" "\\" name "${file}")
    string(APPEND text "Delete \"$INSTDIR\\${name}\"\n")
    get_filename_component(folder "${file}" DIRECTORY)
    while(folder)
        list(APPEND folders "${folder}")
        get_filename_component(folder "${folder}" DIRECTORY)
    endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)
list(SORT folders ORDER DESCENDING)
foreach(folder IN LISTS folders)
    string(REPLACE "/" "\\" name "${folder}")
    string(APPEND text "RMDir \"$INSTDIR\\${name}\"\n")
endforeach()
file(WRITE "${OUT}" "${text}")
