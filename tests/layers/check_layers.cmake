# The module's layers, lowest first. A file in src/<layer>/ may include
# (#include "...") files of its own layer and of the layers below it, never of
# one above: the folders then tell which way the code depends.
#   cmake -DROOT=<folder holding src/> -P check_layers.cmake
# Fails, naming every offending line, when a file includes a higher layer or a
# quoted header outside the layers.
set(layers platform host engine settings dialog plugin)

if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
file(GLOB_RECURSE sources RELATIVE ${ROOT}/src ${ROOT}/src/*.h ${ROOT}/src/*.cpp)
if(NOT sources)
  message(FATAL_ERROR "no sources under ${ROOT}/src")
endif()

set(faults "")
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" own ${source})
  list(FIND layers ${own} ownRank)
  if(ownRank EQUAL -1)
    string(APPEND faults "  src/${source}: in no layer\n")
    continue()
  endif()
  file(STRINGS ${ROOT}/src/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" header "${line}")
    string(REGEX MATCH "^[^/]+/" prefix "${header}")
    string(REGEX REPLACE "/$" "" prefix "${prefix}")
    list(FIND layers "${prefix}" rank)
    if(rank EQUAL -1)
      string(APPEND faults "  src/${source}: \"${header}\" is in no layer\n")
    elseif(rank GREATER ownRank)
      string(APPEND faults "  src/${source}: ${own} includes \"${header}\" of the higher layer ${prefix}\n")
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN layers " < " order)
  message(FATAL_ERROR "includes must point down (${order}):\n${faults}")
endif()
