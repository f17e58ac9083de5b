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
# Only sources (.cpp) may include an engine, so that no header hands one on to its includers.
set(engines db/odbc db/embedded)
set(engine_format db/embedded/EmbeddedProcedure.h)
set(engine_format_users model schema demo)

get_filename_component(SRC "${SRC}" ABSOLUTE)
file(GLOB_RECURSE sources RELATIVE "${SRC}" "${SRC}/*")
set(violations 0)
set(checked 0)
macro(violation text)
    message(SEND_ERROR "${text}")
    math(EXPR violations "${violations} + 1")
endmacro()

foreach(source IN LISTS sources)
    get_filename_component(name "${source}" NAME)
    if(name STREQUAL "CMakeLists.txt")
        continue()
    endif()
    if(NOT source MATCHES "\\.(h|cpp)$")
        violation("${source}: only .h and .cpp files belong in src/")
        continue()
    endif()
    math(EXPR checked "${checked} + 1")
    string(REGEX MATCH "^[^/]+" folder "${source}")
    get_filename_component(room "${source}" DIRECTORY)
    if(NOT DEFINED floor_${folder})
        violation("${source}: folder '${folder}' has no floor")
        continue()
    endif()
    if(NOT room STREQUAL folder AND NOT room IN_LIST engines)
        violation("${source}: folder '${room}' is neither a floor nor an engine")
        continue()
    endif()
    file(STRINGS "${SRC}/${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[<\"]([^\">]+)[\">].*" "\\1" written "${line}")
        # A header is found beside the including file first, then from src/; written with ./ or ../
        # it still names one file of src/, or none (Qt, the system).
        set(header "")
        foreach(base "${SRC}/${room}" "${SRC}")
            cmake_path(ABSOLUTE_PATH written BASE_DIRECTORY "${base}" NORMALIZE OUTPUT_VARIABLE candidate)
            if(EXISTS "${candidate}")
                cmake_path(RELATIVE_PATH candidate BASE_DIRECTORY "${SRC}" OUTPUT_VARIABLE header)
                break()
            endif()
        endforeach()
        if(header STREQUAL "" OR header MATCHES "^\\.\\./")
            continue()
        endif()
        string(REGEX MATCH "^[^/]+" target "${header}")
        get_filename_component(target_room "${header}" DIRECTORY)
        if(target_room IN_LIST engines AND NOT target_room STREQUAL room)
            if(room IN_LIST engines)
                violation("${source} (engine ${room}) includes the other engine's ${header}")
            elseif(NOT source MATCHES "\\.cpp$")
                violation("${source} is a header and hands the engine's ${header} on to its includers")
            elseif(NOT room STREQUAL "db" AND NOT (header STREQUAL engine_format AND folder IN_LIST engine_format_users))
                violation("${source} reaches into an engine: ${header}")
            endif()
            continue()
        endif()
        if(source STREQUAL engine_format AND target_room STREQUAL room)
            violation("${source} is the procedure format alone and must not include ${header}")
            continue()
        endif()
        if(target STREQUAL folder)
            continue()
        endif()
        if(NOT DEFINED floor_${target} OR NOT floor_${target} LESS floor_${folder})
            violation("${source} (floor ${floor_${folder}}) includes ${target}/ (floor ${floor_${target}})")
        endif()
    endforeach()
endforeach()
if(violations GREATER 0)
    message(FATAL_ERROR "${violations} include(s) against the floors")
endif()
message(STATUS "${checked} files of src/ include only from lower floors, and none reaches into an engine")
