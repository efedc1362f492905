# find_package(treeprep CONFIG): the commands as imported executable targets (treeprep::prepFolder,
# treeprep::mountDir, treeprep::finalName) and the functions of treeprepFunctions.cmake.
include("${CMAKE_CURRENT_LIST_DIR}/treeprepTargets.cmake")
include("${CMAKE_CURRENT_LIST_DIR}/treeprepFunctions.cmake")
