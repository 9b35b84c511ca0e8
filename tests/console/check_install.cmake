# Installs the build into a fresh prefix and runs the installed program on a
# directory: it must find its module and its language file relative to
# itself, also after the whole tree is moved, and name a language file that
# is missing.
#   cmake -DBUILD=<build tree> -DWORK=<scratch folder> -DMODULE_DIR=<lib/marlit>
#         -DDATA_DIR=<share/marlit> -DMANDIR=<share/man> -P check_install.cmake
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()

foreach(file bin/marlit ${MODULE_DIR}/marlit.so ${DATA_DIR}/marlit_eng.lng
    ${DATA_DIR}/marlit_rus.hlf ${MANDIR}/man1/marlit.1.gz
    share/bash-completion/completions/marlit share/zsh/vendor-completions/_marlit
    share/fish/vendor_completions.d/marlit.fish)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# A panel of two files, one of them 60,000 bytes.
file(MAKE_DIRECTORY ${WORK}/panel)
string(REPEAT "x" 60000 big)
file(WRITE ${WORK}/panel/big.log "${big}")
file(WRITE ${WORK}/panel/small.log "x")

function(run_installed program expect_out expect_err)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env LANG=C LC_ALL= LC_MESSAGES= MARLIT_REGISTRY=${WORK}/store.reg
      ${program} --explain --size 50k.. ${WORK}/panel
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "${expect_out}" OR NOT err MATCHES "${expect_err}")
    message(FATAL_ERROR "${program}: status ${status}\nout: ${out}\nerr: ${err}")
  endif()
endfunction()

# Found: --explain tells the reading, and no warning names a missing file.
set(told "^marlit: mask: every name\nmarlit: size: from 51,200 bytes, no upper bound\n")
run_installed(${prefix}/bin/marlit "${WORK}/panel/big.log\n" "${told}marlit: date: any\n[^\n]*\n[^\n]*\n[^\n]*\n$")
# The tree moved whole still works.
file(RENAME ${prefix} ${WORK}/moved)
run_installed(${WORK}/moved/bin/marlit "${WORK}/panel/big.log\n" "${told}")
# Without its language files the run goes on, and the missing file is named.
file(RENAME ${WORK}/moved/${DATA_DIR} ${WORK}/data-away)
run_installed(${WORK}/moved/bin/marlit "${WORK}/panel/big.log\n"
  "warning: cannot open ${WORK}/moved/${DATA_DIR}/marlit_eng.lng: No such file")
file(REMOVE_RECURSE ${WORK})
