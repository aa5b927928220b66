# Writes the module-definition file for a delay-import library: every
# function the toolchain's import library for the DLL names. Run at build time
# by cmake/DelayLoad.cmake:
#   cmake -DNM=<nm> -DIMPORT_LIBRARY=<lib.a> -DDLL=<name.dll> -DDEF=<out.def>
#         [-DLEADING_UNDERSCORE=ON] -P DelayImportDef.cmake
# A function has a code stub (T) beside its import slot (__imp_); the few data
# exports have only the slot, and data cannot be delay-loaded, so they are
# left out. On i686 symbols carry a leading underscore and stdcall ones their
# @N, which the definition keeps: dlltool's -k drops it from the imported name.
cmake_minimum_required(VERSION 3.21)

foreach(variable NM IMPORT_LIBRARY DLL DEF)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "DelayImportDef.cmake: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND ${NM} -P -g ${IMPORT_LIBRARY}
  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "DelayImportDef.cmake: ${NM} failed on ${IMPORT_LIBRARY}")
endif()

string(REGEX MATCHALL "(^|\n)[^ \n]+ I " slots "${listing}")
string(REGEX MATCHALL "(^|\n)[^ \n]+ T " stubs "${listing}")
set(imported)
foreach(slot IN LISTS slots)
  string(REGEX REPLACE "^\n?__imp_([^ ]+) I $" "\\1" name "${slot}")
  list(APPEND imported "${name}")
endforeach()
set(exports)
foreach(stub IN LISTS stubs)
  string(REGEX REPLACE "^\n?([^ ]+) T $" "\\1" name "${stub}")
  if(NOT name IN_LIST imported)
    continue()
  endif()
  if(LEADING_UNDERSCORE)
    string(REGEX REPLACE "^_" "" name "${name}")
  endif()
  list(APPEND exports "${name}")
endforeach()
list(REMOVE_DUPLICATES exports)
list(SORT exports)
list(LENGTH exports count)
if(count EQUAL 0)
  message(FATAL_ERROR "DelayImportDef.cmake: no functions found in ${IMPORT_LIBRARY}")
endif()

list(JOIN exports "\n" lines)
file(WRITE ${DEF}.tmp "LIBRARY \"${DLL}\"\nEXPORTS\n${lines}\n")
file(RENAME ${DEF}.tmp ${DEF})
