cmake_minimum_required(VERSION 3.25)
# Writes the Windows package with CPack into WORK and checks its listing: the
# folder Marlit/ with the module and the four language and help files, and
# nothing else.
set(expected
  Marlit/marlit.dll Marlit/marlit_eng.hlf Marlit/marlit_eng.lng
  Marlit/marlit_rus.hlf Marlit/marlit_rus.lng)
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${CPACK} --config ${CONFIG} -B ${WORK} RESULT_VARIABLE failed
  OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(failed)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
set(zip "${WORK}/marlit-${VERSION}-win32.zip")
if(NOT EXISTS "${zip}")
  message(FATAL_ERROR "no ${zip}:\n${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cannot list ${zip}")
endif()
string(REPLACE "\n" ";" entries "${listing}")
set(files "")
foreach(entry IN LISTS entries)
  if(entry STREQUAL "" OR entry MATCHES "/$")
    continue()
  endif()
  list(APPEND files "${entry}")
endforeach()
list(SORT files)
message(STATUS "${zip}: ${files}")
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "the package holds [${files}], expected [${expected}]")
endif()
