# Refuses an include that runs up the layers (see CMakeLists.txt):
#   cmake -DTOP=<source folder> [-DSTAMP=<file to touch>] -P check-layers.cmake
# Each source file belongs to the layer of its folder and may include the
# headers of its own layer and of the layers it is allowed to use.

cmake_minimum_required(VERSION 3.22)

function(layer_of path out)
    if(path MATCHES "^platform/")
        set(layer platform)
    elseif(path MATCHES "^(player|playlist|trackinfo)/core/")
        set(layer core)
    elseif(path MATCHES "^player/media/")
        set(layer media)
    elseif(path MATCHES "^desktop/")
        set(layer desktop)
    elseif(path MATCHES "^player/(Program|Project1|Launcher)\\.")
        set(layer program)
    elseif(path MATCHES "^(player|playlist|trackinfo|windows)/")
        set(layer windows)
    else()
        set(layer "")
    endif()
    set(${out} "${layer}" PARENT_SCOPE)
endfunction()

set(uses_platform platform)
set(uses_core platform core)
set(uses_media platform media)
set(uses_windows platform core media windows)
# The desktop integration reaches the windows only through the controller.
set(uses_desktop platform core desktop)
set(desktop_may_include player/PlayerControl.h)
set(uses_program platform core media windows desktop program)

file(GLOB_RECURSE sources RELATIVE "${TOP}"
    "${TOP}/platform/*" "${TOP}/player/*" "${TOP}/playlist/*"
    "${TOP}/trackinfo/*" "${TOP}/windows/*" "${TOP}/desktop/*")
list(FILTER sources INCLUDE REGEX "\\.(h|cpp)$")

set(faults "")
foreach(source ${sources})
    layer_of("${source}" layer)
    if(layer STREQUAL "")
        continue()
    endif()
    file(STRINGS "${TOP}/${source}" includes REGEX "^#include \"[^\"]+/[^\"]+\"")
    foreach(line ${includes})
        string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
        layer_of("${header}" used)
        if(used STREQUAL "")
            continue()
        endif()
        if(used IN_LIST uses_${layer})
            continue()
        endif()
        if(layer STREQUAL "desktop" AND header IN_LIST desktop_may_include)
            continue()
        endif()
        string(APPEND faults "  ${source} (${layer}) includes ${header} (${used})\n")
    endforeach()
endforeach()

if(faults)
    message(FATAL_ERROR "Includes that run up the layers:\n${faults}")
endif()
if(STAMP)
    file(TOUCH "${STAMP}")
endif()
