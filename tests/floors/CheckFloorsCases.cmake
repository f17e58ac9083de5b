# Runs CheckFloors.cmake on small trees, each one include away from a clean one, so that a way of
# writing an include that the check misses fails here.
# Run as: cmake -DWORK=<scratch dir> -P CheckFloorsCases.cmake
set(check "${CMAKE_CURRENT_LIST_DIR}/CheckFloors.cmake")

# Each case: file|line|expected (0 accepted, 1 refused).
set(cases
    "cycle/A.cpp|#include \"db/Connection.h\"|0"
    "db/Connection.cpp|#include \"db/odbc/OdbcEngine.h\"|0"
    "model/A.cpp|#include \"db/embedded/EmbeddedProcedure.h\"|0"
    "db/odbc/OdbcEngine.cpp|#include \"db/Connection.h\"|0"
    "cycle/A.cpp|#include <QString>|0"
    "cycle/A.cpp|#include \"db/odbc/OdbcEngine.h\"|1"
    "cycle/A.cpp|#include <db/odbc/OdbcEngine.h>|1"
    "cycle/A.cpp|  #  include \"db/odbc/OdbcEngine.h\"|1"
    "cycle/A.cpp|#include\t\"../db/embedded/SqliteEngine.h\"|1"
    "cycle/A.cpp|#include \"db/./embedded/../odbc/OdbcEngine.h\"|1"
    "model/A.cpp|#include \"db/embedded/../embedded/SqliteEngine.h\"|1"
    "model/A.h|#include \"db/embedded/EmbeddedProcedure.h\"|1"
    "db/Connection.h|#include \"db/odbc/OdbcEngine.h\"|1"
    "db/embedded/SqliteEngine.cpp|#include \"../odbc/OdbcEngine.h\"|1"
    "db/embedded/EmbeddedProcedure.h|#include \"db/embedded/SqliteEngine.h\"|1"
    "push/A.inl|#include \"db/Connection.h\"|1"
    "push/sub/A.cpp|#include \"db/Connection.h\"|1"
    "db/A.cpp|#include \"config/ConfigStore.h\"|1"
    "push/A.cpp|#include \"apply/OutboxApply.h\"|1")

set(tree db/Connection.h db/Connection.cpp db/odbc/OdbcEngine.h db/odbc/OdbcEngine.cpp db/embedded/SqliteEngine.h
    db/embedded/SqliteEngine.cpp db/embedded/EmbeddedProcedure.h config/ConfigStore.h apply/OutboxApply.h)
set(failures 0)
set(index 0)
foreach(case IN LISTS cases)
    string(REPLACE "|" ";" parts "${case}")
    list(GET parts 0 file)
    list(GET parts 1 line)
    list(GET parts 2 expected)
    math(EXPR index "${index} + 1")
    set(src "${WORK}/case${index}/src")
    file(REMOVE_RECURSE "${WORK}/case${index}")
    foreach(present IN LISTS tree)
        file(WRITE "${src}/${present}" "")
    endforeach()
    file(APPEND "${src}/${file}" "${line}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -DSRC=${src} -P ${check} RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
    set(got 1)
    if(result EQUAL 0)
        set(got 0)
    endif()
    if(got EQUAL expected)
        file(REMOVE_RECURSE "${WORK}/case${index}")
    else()
        message(SEND_ERROR "${file}: '${line}' was judged ${got}, expected ${expected} (tree kept in ${WORK}/case${index})")
        math(EXPR failures "${failures} + 1")
    endif()
endforeach()
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} of ${index} floor cases judged wrongly")
endif()
message(STATUS "${index} floor cases judged as expected")
