# Fails when a folder of src/ includes a header from another folder on its own floor or a higher
# one, so that every folder builds only on the floors below it; and when code outside the client
# layer reaches into one of its engines.
# Run as: cmake -DSRC=<src dir> -P CheckFloors.cmake
cmake_policy(SET CMP0057 NEW)
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

# The engines behind the client layer. The client layer makes them; an engine includes the client
# layer and never the other engine; nothing above the client layer includes an engine's header,
# except the embedded procedure format, which the objects the agent installs are written in.
set(engines db/odbc db/embedded)
set(engine_format db/embedded/EmbeddedProcedure.h)
set(engine_format_users model schema demo)

file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*.h" "${SRC}/*.cpp")
set(violations 0)
foreach(source IN LISTS sources)
    string(REGEX MATCH "^[^/]+" folder "${source}")
    get_filename_component(room "${source}" DIRECTORY)
    if(NOT DEFINED floor_${folder})
        message(SEND_ERROR "${source}: folder '${folder}' has no floor")
        math(EXPR violations "${violations} + 1")
        continue()
    endif()
    if(NOT room STREQUAL folder AND NOT room IN_LIST engines)
        message(SEND_ERROR "${source}: folder '${room}' is neither a floor nor an engine")
        math(EXPR violations "${violations} + 1")
        continue()
    endif()
    file(STRINGS "${SRC}/${source}" includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
        string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
        string(REGEX MATCH "^[^/]+" target "${header}")
        get_filename_component(target_room "${header}" DIRECTORY)
        if(target_room IN_LIST engines AND NOT target_room STREQUAL room)
            if(room IN_LIST engines)
                message(SEND_ERROR "${source} (engine ${room}) includes the other engine's ${header}")
                math(EXPR violations "${violations} + 1")
            elseif(NOT room STREQUAL "db" AND NOT (header STREQUAL engine_format AND folder IN_LIST engine_format_users))
                message(SEND_ERROR "${source} reaches into an engine: ${header}")
                math(EXPR violations "${violations} + 1")
            endif()
            continue()
        endif()
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
message(STATUS "${count} files of src/ include only from lower floors, and none reaches into an engine")
