# Every option that PROGRAM --help prints is described in the manual PAGE, and
# the page names no option the program does not know. The options are read from
# the real --help, so a new option fails this test until the page has it.
# Usage: cmake -DPROGRAM=... -DPAGE=... -P man_options.cmake
cmake_minimum_required(VERSION 3.21)
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE code)
if(NOT code EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help ended with ${code}")
endif()

# Option lines of the help, QCommandLineParser's layout, which the converter's
# own keeps: "  -o, --output <PACKAGE>  ...".
string(REGEX MATCHALL "\n  --?[A-Za-z0-9][A-Za-z0-9-]*(, --?[A-Za-z0-9][A-Za-z0-9-]*)*"
       option_lines "${help}")
if(NOT option_lines)
  message(FATAL_ERROR "no options found in the --help of ${PROGRAM}:\n${help}")
endif()
set(options "")
foreach(line IN LISTS option_lines)
  string(REGEX MATCHALL "-?-[A-Za-z0-9][A-Za-z0-9-]*" names "${line}")
  list(APPEND options ${names})
endforeach()

# The page as a reader sees it: "\-" is a minus, font changes are not text.
file(READ "${PAGE}" page)
string(REPLACE "\\-" "-" page "${page}")
string(REGEX REPLACE "\\\\f(\\[[A-Za-z]*\\]|[BIRP])" "" page "${page}")
set(page "\n${page}\n")

set(missing "")
foreach(option IN LISTS options)
  if(NOT page MATCHES "[^A-Za-z0-9-]${option}[^A-Za-z0-9-]")
    list(APPEND missing ${option})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${PAGE} does not describe: ${missing}")
endif()

string(REGEX MATCHALL "[^A-Za-z0-9-]--[A-Za-z0-9][A-Za-z0-9-]*" named "${page}")
set(unknown "")
foreach(option IN LISTS named)
  string(SUBSTRING "${option}" 1 -1 option)
  if(NOT option IN_LIST options)
    list(APPEND unknown ${option})
  endif()
endforeach()
if(unknown)
  list(REMOVE_DUPLICATES unknown)
  message(FATAL_ERROR "${PAGE} describes options ${PROGRAM} does not know: ${unknown}")
endif()

# The page renders without a warning from man (lintian runs the same check).
find_program(MAN man)
if(MAN)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
                          ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z "${PAGE}"
                  OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE code)
  if(NOT code EQUAL 0 OR warnings)
    message(FATAL_ERROR "man reports on ${PAGE} (${code}):\n${warnings}")
  endif()
endif()
list(LENGTH options count)
message(STATUS "${PAGE}: all ${count} options of --help are described")
