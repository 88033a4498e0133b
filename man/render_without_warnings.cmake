# SPDX-License-Identifier: Apache-2.0
# cmake -DPAGE=file -P render_without_warnings.cmake
# Renders a manual page with groff and with man, every warning enabled, and
# fails when either fails or writes anything to standard error.
find_program(GROFF groff REQUIRED)
find_program(MAN man REQUIRED)

function(render)
  execute_process(COMMAND ${ARGN} OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "${shown}: status ${status}\n${warnings}")
  endif()
endfunction()

render(${GROFF} -t -man -ww -z ${PAGE})
# The page's own first line asks man for tbl.
render(${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 --unset=MANROFFSEQ
       ${MAN} --warnings=w -E UTF-8 -l -Tutf8 ${PAGE})
