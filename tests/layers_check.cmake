# Fails when an include runs back up the layers: app -> ui -> core; cli -> core; sim -> core.
# Inside ui, the seams know no dialog or window, and the dialogs know no main window.
# Run as: cmake -DSRC=<source>/src -P layers_check.cmake
set(rules
    "core|#include[ \t]*[<\"](Q[A-Za-z]|ui/|app/|cli/|sim/)"
    "cli|#include[ \t]*[<\"](Q[A-Za-z]|ui/|app/|sim/)"
    "sim|#include[ \t]*[<\"](Q[A-Za-z]|ui/|app/|cli/)"
    "ui|#include[ \t]*\"(app/|cli/|sim/)"
    "ui/seams|#include[ \t]*\"ui/(dialogs|main|help)/"
    "ui/help|#include[ \t]*\"ui/(dialogs|main)/"
    "ui/dialogs|#include[ \t]*\"ui/(main|site)/"
    "ui/site|#include[ \t]*\"ui/main/")
set(faults "")
foreach(rule IN LISTS rules)
    string(REPLACE "|" ";" parts "${rule}")
    list(GET parts 0 dir)
    list(SUBLIST parts 1 -1 rest)
    list(JOIN rest "|" pattern)
    file(GLOB_RECURSE files "${SRC}/${dir}/*.h" "${SRC}/${dir}/*.cpp")
    foreach(f IN LISTS files)
        file(STRINGS "${f}" lines REGEX "${pattern}")
        foreach(l IN LISTS lines)
            file(RELATIVE_PATH rel "${SRC}" "${f}")
            string(APPEND faults "  ${rel}: ${l}\n")
        endforeach()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "Includes that run back up the layers:\n${faults}")
endif()
message(STATUS "Layers: every include runs one way")
