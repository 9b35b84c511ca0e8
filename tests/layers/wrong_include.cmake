# The layer check must refuse an include that points up: a copy of a small
# tree whose engine includes the plug-in layer, and whose console panel
# includes the session room.
#   cmake -DCHECK=<check_layers.cmake> -DWORK=<scratch folder> -P wrong_include.cmake
file(REMOVE_RECURSE ${WORK})
file(WRITE ${WORK}/src/host/records.h "#include \"platform/clock.h\"\n")
file(WRITE ${WORK}/src/engine/selection.h "#include \"host/records.h\"\n#include \"plugin/entry.h\"\n")
file(WRITE ${WORK}/src/plugin/entry.h "#include \"engine/selection.h\"\n")
file(WRITE ${WORK}/hosts/console/panel/walk.h "#include \"host/records.h\"\n")
file(WRITE ${WORK}/hosts/console/panel/listing.h
  "#include \"console/panel/walk.h\"\n#include \"console/session/session.h\"\n")
file(WRITE ${WORK}/hosts/console/session/session.h "#include \"console/panel/listing.h\"\n")
file(WRITE ${WORK}/hosts/console/main.cpp "#include \"console/session/session.h\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECK}
  RESULT_VARIABLE result ERROR_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "the layer check passed an engine that includes the plug-in layer")
endif()
if(NOT output MATCHES "src/engine/selection.h: engine includes \"plugin/entry.h\"")
  message(FATAL_ERROR "the layer check failed without naming the wrong include:\n${output}")
endif()
if(NOT output MATCHES "hosts/console/panel/listing.h: panel includes \"console/session/session.h\"")
  message(FATAL_ERROR "the layer check failed without naming the console's wrong include:\n${output}")
endif()
if(output MATCHES "src/host/records.h:|src/plugin/entry.h:|panel/walk.h:|session/session.h:|main.cpp:")
  message(FATAL_ERROR "the layer check named an include that points down:\n${output}")
endif()
