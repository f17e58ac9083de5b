# Fails when a folder of src/ includes a header from another folder on its own floor or a higher
# one, so that every folder builds only on the floors below it.
# Run as: cmake -DSRC=<src dir> -P CheckFloors.cmake
set(floor_config 0) # settings
set(floor_db 0) # the client layer
set(floor_clock 0) # the clock and time zones
set(floor_model 1) # statement catalogue and table rules
set(floor_crib 1) # the crib's connection strings and computer registration
set(floor_schema 2) # local schema maintenance
set(floor_step 3) # what push and apply share: cycle context, statements, failures, item lists
set(floor_push 4) # local to remote
set(floor_apply 4) # remote to local
set(floor_cycle 5) # the agent and its cycle
set(floor_demo 5) # the demo databases
set(floor_app 6) # the program and its window

file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
set(violations 0)
foreach(source IN LISTS sources)
    string(REGEX MATCH "^[^/]+" folder "${source}")
    if(NOT DEFINED floor_${folder})
        message(SEND_ERROR "${source}: folder '${folder}' has no floor")
        math(EXPR violations "${violations} + 1")
        continue()
    endif()
    file(STRINGS "${SRC}/${source}" includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" target "${line}")
        if(target STREQUAL folder)
            continue()
        endif()
        if(NOT DEFINED floor_${target} OR NOT floor_${target} LESS floor_${folder})
            message(SEND_ERROR "${source} (floor ${floor_${folder}}) includes ${target}/ (floor ${floor_${target}})")
            math(EXPR violations "${violations} + 1")
        endif()
    endforeach()
endforeach()
list(LENGTH sources count)
if(violations GREATER 0)
    message(FATAL_ERROR "${violations} include(s) against the floors")
endif()
message(STATUS "${count} files of src/ include only from lower floors")
