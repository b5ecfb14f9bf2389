# veltranic-cli-demo's sample-log to standard output and with --output: the same bytes, every
# line ended by EOL (CRLF on Windows, LF elsewhere). Run by ctest with
#   -DCLI=<program> -DDIR=<scratch folder> -DEOL=CRLF|LF [-DEMULATOR=<runner>]
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
execute_process(COMMAND ${EMULATOR} "${CLI}" sample-log --device sim:1 WORKING_DIRECTORY "${DIR}"
                OUTPUT_FILE "${DIR}/stdout.csv" RESULT_VARIABLE printed)
execute_process(COMMAND ${EMULATOR} "${CLI}" sample-log --device sim:1 --output saved.csv WORKING_DIRECTORY "${DIR}"
                RESULT_VARIABLE saved)
file(READ "${DIR}/stdout.csv" out HEX)
file(READ "${DIR}/saved.csv" file HEX)
if(NOT printed EQUAL 0 OR NOT saved EQUAL 0 OR NOT out STREQUAL file)
  message(FATAL_ERROR "exit codes ${printed} and ${saved}; standard output and --output differ:\n${out}\n${file}")
endif()
# Each byte in turn (two hex digits): the ends of the lines as they are.
string(REGEX MATCHALL ".." bytes "${file}")
list(JOIN bytes " " spaced)
string(REGEX MATCHALL "(0d )*0a" ends "${spaced}")
list(LENGTH ends lines)
list(REMOVE_DUPLICATES ends)
if(EOL STREQUAL "CRLF")
  set(expected "0d 0a")
else()
  set(expected "0a")
endif()
if(lines LESS 3 OR NOT ends STREQUAL expected)
  message(FATAL_ERROR "${lines} lines ending in ${ends}, not ${expected} alone:\n${file}")
endif()
