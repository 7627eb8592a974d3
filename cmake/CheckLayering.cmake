# The layers include one way only: app/ -> store/ -> platform/, and cli/ beside app/. Run as the test
# LayersIncludeOneWay: nothing under platform/ includes anything of store/, app/, cli/ or resources/; nothing
# under store/ includes anything of app/ or cli/; nothing under cli/ includes anything of app/; neither platform/
# nor store/ includes the common controls' header. The front ends (app/, cli/ and every folder beside them) reach the
# store through its door only: they include none of its inner workings (the operations, the import, the readers,
# the mirror, the records and the codec of its links, the classifier, Windows' own switch), only the door, the
# entries, the places and the questions of StoreQueries.h. Fails naming each include that breaks this.
if(NOT SOURCE_DIR)
    message(FATAL_ERROR "CheckLayering.cmake needs -DSOURCE_DIR=<the source tree>")
endif()

set(failures "")
function(check_layer folder pattern)
    file(GLOB_RECURSE sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
    foreach(source ${sources})
        file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include")
        foreach(line ${includes})
            if(line MATCHES "${pattern}")
                file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
                list(APPEND failures "${name}: ${line}")
            endif()
        endforeach()
    endforeach()
    set(failures "${failures}" PARENT_SCOPE)
endfunction()

check_layer(platform "[\"<](store|app|cli|resources)/|[\"<][Cc]ommctrl\\.h[\">]")
check_layer(store "[\"<](app|cli)/|[\"<][Cc]ommctrl\\.h[\">]")
check_layer(cli "[\"<]app/")
set(storeInside "EntryOperations|Import|StoreReader|SystemReader|Mirror|LinkRecords|StoreLinkCodec|EntryChange|StartupApproved")
foreach(frontEnd app cli watch)
    check_layer(${frontEnd} "[\"<]store/(${storeInside})\\.h[\">]")
endforeach()

list(LENGTH failures count)
if(count GREATER 0)
    string(REPLACE ";" "\n  " text "${failures}")
    message(FATAL_ERROR "Includes against the layering (app -> store -> platform):\n  ${text}")
endif()
message(STATUS "The layers include one way")
