# The project's version has one source, the newest entry of debian/changelog, which the Debian
# package takes its own from: "2.4.1", "1:2.4.1-2", "2.4.1~rc1" and "2.4.1+ds" all give 2.4.1
# (an epoch, the package's revision and a pre-release or repack mark are the package's).
#
#   qrb_changelog_version(CHANGELOG OUT)   sets OUT to it, or stops the configuration saying why.
#   cmake -DCHANGELOG=FILE -P qrb_version.cmake   prints it (status 1 and the reason when none).

function(qrb_changelog_version changelog out)
  if(NOT EXISTS "${changelog}")
    message(FATAL_ERROR "${changelog}, which gives the version, does not exist")
  endif()
  file(READ "${changelog}" head LIMIT 1024)
  string(REGEX REPLACE "\n.*" "" head "${head}")
  set(number "[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?")
  if(NOT head MATCHES "^qrb-tftp-controller \\(([0-9]+:)?(${number})([-~+][^)]*)?\\) ")
    message(FATAL_ERROR "${changelog}, which gives the version, begins with \"${head}\", not "
                        "\"qrb-tftp-controller (VERSION) ...\" with a VERSION of one to four "
                        "numbers")
  endif()
  set(${out} ${CMAKE_MATCH_2} PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  qrb_changelog_version("${CHANGELOG}" version)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${version}")
endif()
