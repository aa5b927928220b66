# Delay-import libraries: a DLL linked through one is loaded on the first call
# into it (mingw-w64's __delayLoadHelper2), not when the process starts.
# Importing user32 costs every start ~16 ms under Wine, also the worker's and
# the silent command line's, which never show a window.
#
#   vandrel_delay_import(<dll>)  e.g. vandrel_delay_import(user32)
# defines the library target vandrel_delay_<dll>: link it instead of <dll>.
# The library is made at build time from the toolchain's own import library
# (its functions, through nm, into a .def file, then dlltool -y); nothing
# generated is kept in the sources.
set(vandrel_delay_dir ${CMAKE_CURRENT_LIST_DIR})

function(vandrel_delay_import dll)
  execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=lib${dll}.a
    OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${import_library}" OR NOT EXISTS "${import_library}")
    message(FATAL_ERROR "No import library lib${dll}.a for ${CMAKE_C_COMPILER}")
  endif()
  file(REAL_PATH "${import_library}" import_library)

  # i686 symbols carry a leading underscore and stdcall's @N; the names the
  # DLL exports carry neither (-k).
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(machine -m i386 -k)
    set(underscore ON)
  else()
    set(machine -m i386:x86-64)
    set(underscore OFF)
  endif()

  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  file(MAKE_DIRECTORY ${dir})
  set(def ${dir}/${dll}.def)
  set(library ${dir}/lib${dll}-delay.a)
  add_custom_command(OUTPUT ${def}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DIMPORT_LIBRARY=${import_library}
      -DDLL=${dll}.dll -DDEF=${def} -DLEADING_UNDERSCORE=${underscore}
      -P ${vandrel_delay_dir}/DelayImportDef.cmake
    DEPENDS ${import_library} ${vandrel_delay_dir}/DelayImportDef.cmake
    COMMENT "Listing the functions of ${dll}.dll"
    VERBATIM)
  # A fixed temporary prefix per DLL: dlltool names its members after it
  # (by default after its process id), and the builds must not differ.
  add_custom_command(OUTPUT ${library}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${library}
    COMMAND ${CMAKE_DLLTOOL} ${machine} --deterministic-libraries -t ${dll}_delay
      -d ${def} -y ${library}
    DEPENDS ${def}
    WORKING_DIRECTORY ${dir}
    COMMENT "Making the delay-import library of ${dll}.dll"
    VERBATIM)
  add_custom_target(vandrel_delay_${dll}_library DEPENDS ${library})

  add_library(vandrel_delay_${dll} STATIC IMPORTED GLOBAL)
  set_target_properties(vandrel_delay_${dll} PROPERTIES IMPORTED_LOCATION ${library})
  add_dependencies(vandrel_delay_${dll} vandrel_delay_${dll}_library)
endfunction()
