# The desktop entry, the AppStream data and the .dzp file type pass the
# desktop's own tools, and the MIME database they build names the type, its
# parent and its icon.
# Usage: cmake -DRESOURCES=... -DAPP_ID=... -DWORK=... -P desktop_files.cmake
cmake_minimum_required(VERSION 3.21)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command} ended with ${code}:\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

foreach(tool desktop-file-validate appstreamcli update-mime-database)
  find_program(found_${tool} ${tool})
  if(NOT found_${tool})
    message(STATUS "SKIPPED: ${tool} is not installed (apt-get install desktop-file-utils appstream shared-mime-info)")
    return()
  endif()
endforeach()

run(${found_desktop-file-validate} ${RESOURCES}/${APP_ID}.desktop)
run(${found_appstreamcli} validate --no-net ${RESOURCES}/${APP_ID}.metainfo.xml)

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/mime/packages)
file(COPY_FILE ${RESOURCES}/${APP_ID}.mime.xml ${WORK}/mime/packages/${APP_ID}.xml)
run(${found_update-mime-database} ${WORK}/mime)
foreach(want "globs2|:application/x-sparkloom-particle:\\*\\.dzp\n"
             "subclasses|application/x-sparkloom-particle application/zip\n"
             "icons|application/x-sparkloom-particle:application-x-sparkloom-particle\n")
  string(REPLACE "|" ";" want "${want}")
  list(GET want 0 file)
  list(GET want 1 line)
  file(READ ${WORK}/mime/${file} text)
  if(NOT text MATCHES "${line}")
    message(FATAL_ERROR "mime/${file} lacks ${line}:\n${text}")
  endif()
endforeach()
if(NOT EXISTS ${RESOURCES}/images/application-x-sparkloom-particle.svg)
  message(FATAL_ERROR "the file type's icon is missing")
endif()

# One application ID names the entry, its icon and the software-centre data.
file(READ ${RESOURCES}/${APP_ID}.desktop entry)
file(READ ${RESOURCES}/${APP_ID}.metainfo.xml metainfo)
foreach(check "entry|\nIcon=${APP_ID}\n" "entry|\nExec=sparkloom %f\n" "entry|\nMimeType=video/mp4;"
              "metainfo|<id>${APP_ID}</id>" "metainfo|>${APP_ID}.desktop</launchable>")
  string(REPLACE "|" ";" check "${check}")
  list(GET check 0 variable)
  list(GET check 1 text)
  string(FIND "${${variable}}" "${text}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${variable} lacks ${text}")
  endif()
endforeach()
