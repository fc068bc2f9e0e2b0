# Writes a man page for a command-line program from its --help text, so the two never
# disagree. Run as: cmake -DPROGRAM=... -DNAME=... -DSECTION=1 -DSUMMARY=... -DVERSION=...
#                         -DOUTPUT=... -P manpage.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 ${PROGRAM} --help
                OUTPUT_VARIABLE help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${rc})")
endif()
# roff: a backslash is written \e; a line starting with "." or "'" would be a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(TOUPPER "${NAME}" upper)
file(WRITE ${OUTPUT}
".TH ${upper} ${SECTION} \"\" \"${NAME} ${VERSION}\" \"Dormal2k\"\n"
".SH NOME\n${NAME} \\- ${SUMMARY}\n"
".SH DESCRIZIONE\n"
"Il testo che segue è quello di\n.B ${NAME} --help\n.PP\n.nf\n${help}.fi\n")
