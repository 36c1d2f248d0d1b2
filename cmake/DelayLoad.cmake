# Delay-loading system DLLs with MinGW-w64.
#
# Why: both programs run elevated from a folder that others may write to. They first restrict the
# DLL search to the system folder (RestrictDllSearchToSystem); every DLL loaded before that call
# could come from the program's own folder. So the programs import in the ordinary way only what
# the loader needs to start them (kernel32.dll, msvcrt.dll), and every other system DLL is loaded
# on the first call into it, after the restriction. MinGW-w64's delay-load helper
# (__delayLoadHelper2) is in libmingwex, which every program links.
#
# Where the import slots go: the helper writes a function's delay-load import slot on the first
# call, so the slots must lie in a writable section. dlltool puts them in .idata$5, beside the
# ordinary import address table, and binutils 2.44 and later mark the .idata section read-only (the
# loader unprotects it while it binds the ordinary imports; nothing unprotects it for the helper):
# the first delay-loaded call then stops the program with a page fault on write. No linker option or
# script changes that: the linker gives .idata its flags by the section's name. So the delay-import
# libraries are rewritten before they are linked: their .idata$5 sections become .didat$5, and
# delayload.ld adds a writable output section .didat of them, after .data, kept whole and sorted by
# input file name as .idata$5 is, so that the slots stay parallel to their names in .idata$4 (the
# helper finds a slot's name by its index). Both binutils 2.40 and 2.44 link this the same way;
# the build's check_delay_slots.py fails any program whose slots lie in a section that is not
# writable.
#
# instkit_delay_load(TARGET DEFS_DIR DLL...)
#   For each DLL, DEFS_DIR/<dll>.def lists the functions called (with their i686 argument bytes,
#   `Name@8`); dlltool makes a delay-import library of them, and TARGET links it ahead of the
#   ordinary import libraries (in its build interface only: an installed TARGET imports the DLLs as
#   usual). A function missing from the .def is imported in the ordinary way instead; the programs'
#   image test says which.

# cmake -D AR=... -D LIBRARY=... -D RESPONSE=... [-D BASE=...] -P DelayLoad.cmake (run by the
# build): unpacks every member of LIBRARY into the current folder and writes their paths to
# RESPONSE, for the linker, in the order dlltool made them; relative to BASE, the folder the
# linker runs in, when given. (The linker breaks ties in its section order by the input files'
# names: paths relative to the build tree keep the programs the same wherever the tree lies.)
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${AR} t ${LIBRARY} OUTPUT_VARIABLE members RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not list the members of ${LIBRARY}")
  endif()
  execute_process(COMMAND ${AR} x ${LIBRARY} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not unpack ${LIBRARY}")
  endif()
  string(STRIP "${members}" members)
  string(REPLACE "\n" ";" members "${members}")
  # Sorted, the members come in the order the import tables need: the head (_h), the thunks
  # (_s<number>), the tail (_t) last.
  list(SORT members)
  set(paths "")
  foreach(member IN LISTS members)
    set(path ${CMAKE_CURRENT_BINARY_DIR}/${member})
    if(BASE)
      file(RELATIVE_PATH path ${BASE} ${path})
    endif()
    string(APPEND paths "\"${path}\"\n")
  endforeach()
  file(WRITE ${RESPONSE} "${paths}")
  return()
endif()

function(instkit_delay_load target defs_dir)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/delayload)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(machine -m i386:x86-64)
  else()
    set(machine -m i386 --kill-at)
  endif()
  set(outputs "")
  set(links "")
  foreach(dll ${ARGN})
    set(def ${defs_dir}/${dll}.def)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
    file(READ ${def} exports)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      # x86_64 names carry no argument bytes.
      string(REGEX REPLACE "@[0-9]+" "" exports "${exports}")
    endif()
    file(CONFIGURE OUTPUT ${out}/${dll}.def CONTENT "${exports}")
    set(lib ${out}/libdelay_${dll}.a)
    add_custom_command(OUTPUT ${lib}
      COMMAND ${CMAKE_DLLTOOL} ${machine} --input-def ${dll}.def --dllname ${dll}.dll
              --output-delaylib libdelay_${dll}.a
      # The import slots into .didat$5, writable (see above).
      COMMAND ${CMAKE_OBJCOPY} --rename-section .idata$5=.didat$5,contents,alloc,load,data
              libdelay_${dll}.a
      WORKING_DIRECTORY ${out}
      DEPENDS ${out}/${dll}.def
      COMMENT "Delay-import library for ${dll}.dll"
      VERBATIM)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      list(APPEND outputs ${lib})
      list(APPEND links "$<BUILD_INTERFACE:${lib}>")
      continue()
    endif()
    # The i686 linker (binutils 2.40) drops the code of the per-function thunks when it takes them
    # from the archive, leaving their symbols at address 0; the same members linked as objects are
    # kept. At build time the archive's members, as `ar t` lists them, are unpacked and named in
    # a response file that the linker reads (-Wl,@FILE).
    set(response ${out}/libdelay_${dll}.objects)
    set(base "")
    if(CMAKE_GENERATOR MATCHES "Ninja")
      set(base -D BASE=${CMAKE_BINARY_DIR}) # where Ninja runs the linker
    endif()
    add_custom_command(OUTPUT ${response}
      COMMAND ${CMAKE_COMMAND} -D AR=${CMAKE_AR} -D LIBRARY=${lib} -D RESPONSE=${response}
              ${base} -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      WORKING_DIRECTORY ${out}
      DEPENDS ${lib} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
      COMMENT "Objects of the delay-import library for ${dll}.dll"
      VERBATIM)
    list(APPEND outputs ${response})
    list(APPEND links "$<BUILD_INTERFACE:-Wl,@${response}>")
    set_property(TARGET ${target} APPEND PROPERTY INTERFACE_LINK_DEPENDS
      "$<BUILD_INTERFACE:${response}>")
  endforeach()
  add_custom_target(${target}_delay_libs DEPENDS ${outputs})
  add_dependencies(${target} ${target}_delay_libs)
  # The output section of the import slots.
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/delayload.ld)
  target_link_options(${target} INTERFACE "$<BUILD_INTERFACE:LINKER:-T,${script}>")
  set_property(TARGET ${target} APPEND PROPERTY INTERFACE_LINK_DEPENDS
    "$<BUILD_INTERFACE:${script}>")
  # Ahead of the ordinary import libraries on the link line, so that they, not those, supply the
  # functions they list.
  target_link_libraries(${target} PUBLIC ${links})
endfunction()
