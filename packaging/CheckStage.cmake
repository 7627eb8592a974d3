# CTest: the stage folder holds the portable program and nothing else: no build files beside it.
# Shortcuts inside the store folders are allowed, since the program run from there keeps its entries
# in them. Arguments: -DSTAGE_DIR, -DCONTENTS (packaging/contents.txt).
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/Contents.cmake)

read_expected_contents("${CONTENTS}" expected)
list(REMOVE_ITEM expected README.txt) # only the zip has it

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${STAGE_DIR}" "${STAGE_DIR}/*")
file(GLOB_RECURSE folders LIST_DIRECTORIES true RELATIVE "${STAGE_DIR}" "${STAGE_DIR}/*")
set(actual ${files})
foreach(entry IN LISTS folders)
    if(IS_DIRECTORY "${STAGE_DIR}/${entry}")
        list(APPEND actual "${entry}/")
    endif()
endforeach()
# The store's own entries, and the folders of the 32-bit view that the program (or bwcli) makes at its first start
# on a 64-bit system.
list(FILTER actual EXCLUDE REGEX "^(Run|NoRun)/(Local|User|StartUp|Local32|Common)/[^/]+\\.[lL][nN][kK]$")
list(FILTER actual EXCLUDE REGEX "^(Run|NoRun)/Local32/$")
# The store's own files, which the program run from there writes: what its mirrors held, what each link stands
# for, whose the store is, the entries the user has seen, the history of the changes seen and made, and the window's
# settings. In the data folder, or beside the store folders where an older program wrote them and none has run since
# to move them.
list(FILTER actual EXCLUDE REGEX
     "^(Data/)?(StoreBase\.dat|StoreRecords\.dat|StoreOwner\.dat|SeenEntries\.dat|History\.dat|Bootwarden\.ini)$")

compare_contents("The stage folder ${STAGE_DIR}" "${expected}" "${actual}")
