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
# The window's settings, which the program run from there writes when it closes.
list(FILTER actual EXCLUDE REGEX "^Bootwarden\\.ini$")
list(REMOVE_ITEM actual StoreBase.dat) # the store's record of what its mirrors held
list(REMOVE_ITEM actual StoreOwner.dat) # whose the store is: the account and the computer
list(REMOVE_ITEM actual SeenEntries.dat) # the window's record of the entries the user has seen
list(REMOVE_ITEM actual History.dat) # the history of the changes seen and made

compare_contents("The stage folder ${STAGE_DIR}" "${expected}" "${actual}")
