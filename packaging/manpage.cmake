# Writes a man page from a program's --help: cmake -DEXE=... -DNAME=... -DSUMMARY=... -DOUT=... -P manpage.cmake
# Lines wider than the page's text column (80 less man's indent of 7) are wrapped.
execute_process(COMMAND ${EXE} --help COMMAND awk -v width=72 -f ${CMAKE_CURRENT_LIST_DIR}/manwrap.awk
    OUTPUT_VARIABLE help RESULTS_VARIABLE rc)
if(NOT rc STREQUAL "0;0")
    message(FATAL_ERROR "${EXE} --help failed: ${rc}")
endif()
# The program's own name in place of the build path it was started with.
string(REPLACE "${EXE}" "${NAME}" help "${help}")
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "\n([.'])" "\n\\\\&\\1" help "\n${help}")
string(TOUPPER "${NAME}" upper)
file(WRITE ${OUT} ".TH ${upper} 1 \"\" \"Tarnix2 Utility ${VERSION}\" \"User Commands\"\n"
    ".SH NAME\n${NAME} \\- ${SUMMARY}\n.SH DESCRIPTION\n.nf${help}\n.fi\n"
    ".SH SEE ALSO\n.BR tarnix2-utility (1)\n")
