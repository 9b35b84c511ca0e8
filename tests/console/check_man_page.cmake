# The manual page: groff finds nothing to warn about, man renders it, and it
# names every option that --help names, as do the shell completions.
#   cmake -DPAGE=<marlit.1> -DPROGRAM=<marlit> "-DCOMPLETIONS=<file>;..."
#         -P check_man_page.cmake
execute_process(COMMAND groff -ww -z -man ${PAGE}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "groff -ww -z -man ${PAGE}: status ${status}\n${out}${err}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env MANWIDTH=80 MAN_KEEP_FORMATTING= man -l ${PAGE}
  RESULT_VARIABLE status OUTPUT_VARIABLE page ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  message(FATAL_ERROR "man -l ${PAGE}: status ${status}\n${err}")
endif()
foreach(section NAME SYNOPSIS DESCRIPTION OPTIONS CRITERIA ATTRIBUTES "EXIT STATUS" ENVIRONMENT
    FILES EXAMPLES)
  if(NOT page MATCHES "\n${section}\n")
    message(FATAL_ERROR "the rendered page lacks the section ${section}")
  endif()
endforeach()

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
string(REGEX MATCHALL "--[a-z][a-z-]*" options "${help}")
list(REMOVE_DUPLICATES options)
list(LENGTH options count)
if(status OR count LESS 20)
  message(FATAL_ERROR "--help names too few options (${count})")
endif()
# The page's source and each completion name every option (hyphenation in
# the rendered page would hide some).
file(READ ${PAGE} source)
string(REPLACE "\\-" "-" source "${source}")
set(texts source)
foreach(completion IN LISTS COMPLETIONS)
  get_filename_component(name ${completion} NAME)
  file(READ ${completion} "${name}")
  list(APPEND texts "${name}")
endforeach()
foreach(option IN LISTS options)
  string(SUBSTRING "${option}" 2 -1 word)
  foreach(text IN LISTS texts)
    # fish names a long option with -l.
    if(NOT "${${text}}" MATCHES "(--|-l )${word}([^a-z-]|$)")
      message(FATAL_ERROR "${text} does not name ${option}")
    endif()
  endforeach()
endforeach()
