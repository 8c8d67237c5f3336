# cmake -DJAR_TOOL=<jar> -DPLAIN_JAR=<zelkor.jar> -DOUTPUT=<zelkor-with-natives.jar>
#       -DLIBRARIES=<platform>=<libzelkor.so>[|...] -DSTAGING=<dir> -P natives_jar.cmake
#
# zelkor-with-natives.jar is zelkor.jar with its entries as they are (classes,
# module descriptor with its main class, manifest) and each platform's
# library added at org/tarvik/zelkor/util/native/<platform>/libzelkor.so,
# where NativeCodeLoader finds it by a name relative to its own class.  That
# directory is no legal package name ("native" is a keyword), so the module
# gains no package and the library stays a plain resource on the module path.
foreach(var JAR_TOOL PLAIN_JAR OUTPUT LIBRARIES STAGING)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "natives_jar.cmake: -D${var}= is required")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGING})
string(REPLACE "|" ";" LIBRARIES "${LIBRARIES}")
set(resources org/tarvik/zelkor/util/native)
foreach(entry IN LISTS LIBRARIES)
  if(NOT entry MATCHES "^([a-z0-9_-]+)=(.+)$")
    message(FATAL_ERROR "natives_jar.cmake: ${entry} is not <platform>=<file>")
  endif()
  set(platform ${CMAKE_MATCH_1})
  set(library ${CMAKE_MATCH_2})
  if(NOT EXISTS ${library})
    message(FATAL_ERROR "no library for ${platform} at ${library}: build it first "
                        "(scripts/natives-jar.sh builds every preset the jar takes, then the jar)")
  endif()
  # Follows the links of a build tree's libzelkor.so to the file itself.
  file(MAKE_DIRECTORY ${STAGING}/${resources}/${platform})
  file(COPY_FILE ${library} ${STAGING}/${resources}/${platform}/libzelkor.so)
  message(STATUS "zelkor-with-natives.jar: ${platform} from ${library}")
endforeach()

# Built beside the output and renamed, so that a failed step leaves no
# half-made jar where the install and the tests look.
set(partial ${OUTPUT}.partial)
file(COPY_FILE ${PLAIN_JAR} ${partial})
execute_process(COMMAND ${JAR_TOOL} --update --file ${partial} -C ${STAGING} ${resources}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${partial})
  message(FATAL_ERROR "jar --update failed (${status})")
endif()
file(RENAME ${partial} ${OUTPUT})
