# The module's layers and the console host's rooms, lowest first. A file may
# include (#include "...") files of its own layer and of the layers below it,
# never of one above: the folders then tell which way the code depends.
#   src/            platform < host < engine < settings < dialog < plugin
#   hosts/console/  panel < cli < dialog < session < the files beside them
#                   (main.cpp); a room includes the module's layers freely
#   cmake -DROOT=<folder holding src/ and hosts/> -P check_layers.cmake
# Fails, naming every offending line, when a file includes a higher layer or
# room, or a quoted header of src/ outside the layers.
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

set(faults "")

# Checks the files below ROOT/<folder>: an include that begins with <prefix>
# names a layer by its next folder; a file directly in <folder> ranks above
# every layer. With <strict>, an include without the prefix is a fault too.
function(check_tree folder prefix strict)
  set(layers ${ARGN})
  list(LENGTH layers top)
  file(GLOB_RECURSE sources RELATIVE ${ROOT}/${folder} ${ROOT}/${folder}/*.h
    ${ROOT}/${folder}/*.cpp ${ROOT}/${folder}/*.inc)
  if(NOT sources)
    set(faults "${faults}  no sources under ${folder}\n" PARENT_SCOPE)
    return()
  endif()
  foreach(source IN LISTS sources)
    if(source MATCHES "/")
      string(REGEX MATCH "^[^/]+" own ${source})
      list(FIND layers ${own} ownRank)
      if(ownRank EQUAL -1)
        string(APPEND faults "  ${folder}/${source}: in no layer\n")
        continue()
      endif()
    else()
      set(own "the top")
      set(ownRank ${top})
    endif()
    file(STRINGS ${ROOT}/${folder}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" header "${line}")
      string(LENGTH "${prefix}" prefixLength)
      string(SUBSTRING "${header}" 0 ${prefixLength} head)
      if(NOT head STREQUAL prefix)
        if(strict)
          string(APPEND faults "  ${folder}/${source}: \"${header}\" is in no layer\n")
        endif()
        continue()
      endif()
      string(SUBSTRING "${header}" ${prefixLength} -1 rest)
      string(REGEX MATCH "^[^/]+/" layer "${rest}")
      string(REGEX REPLACE "/$" "" layer "${layer}")
      list(FIND layers "${layer}" rank)
      if(rank EQUAL -1)
        string(APPEND faults "  ${folder}/${source}: \"${header}\" is in no layer\n")
      elseif(rank GREATER ownRank)
        string(APPEND faults
          "  ${folder}/${source}: ${own} includes \"${header}\" of the higher layer ${layer}\n")
      endif()
    endforeach()
  endforeach()
  set(faults "${faults}" PARENT_SCOPE)
endfunction()

check_tree(src "" TRUE platform host engine settings dialog plugin)
if(EXISTS ${ROOT}/hosts/console)
  check_tree(hosts/console "console/" FALSE panel cli dialog session)
endif()

if(faults)
  message(FATAL_ERROR "includes must point down (src: platform < host < engine < settings < "
    "dialog < plugin; hosts/console: panel < cli < dialog < session < main.cpp):\n${faults}")
endif()
