# Delay-loading system DLLs with MinGW-w64.
#
# Why: both programs run elevated from a folder that others may write to. They first restrict the
# DLL search to the system folder (RestrictDllSearchToSystem); every DLL loaded before that call
# could come from the program's own folder. So the programs import in the ordinary way only what
# the loader needs to start them (kernel32.dll, msvcrt.dll), and every other system DLL is loaded
# on the first call into it, after the restriction. MinGW-w64's delay-load helper
# (__delayLoadHelper2) is in libmingwex, which every program links: nothing else is needed.
#
# instkit_delay_load(TARGET DEFS_DIR DLL...)
#   For each DLL, DEFS_DIR/<dll>.def lists the functions called (with their i686 argument bytes,
#   `Name@8`); dlltool makes a delay-import library of them, and TARGET links it ahead of the
#   ordinary import libraries (in its build interface only: an installed TARGET imports the DLLs as
#   usual). A function missing from the .def is imported in the ordinary way instead; the programs'
#   image test says which.
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
    # kept. dlltool names the members by position: the head, one thunk per function (five digits),
    # the tail.
    string(REGEX MATCHALL "\n[A-Za-z_][A-Za-z0-9_]*@[0-9]+" functions "${exports}")
    list(LENGTH functions count)
    math(EXPR last "${count} - 1")
    set(members libdelay_${dll}_a_h.o)
    foreach(i RANGE ${last})
      string(LENGTH "${i}" digits)
      math(EXPR pad "5 - ${digits}")
      string(REPEAT "0" ${pad} zeros)
      list(APPEND members libdelay_${dll}_a_s${zeros}${i}.o)
    endforeach()
    list(APPEND members libdelay_${dll}_a_t.o)
    list(TRANSFORM members PREPEND ${out}/)
    add_custom_command(OUTPUT ${members}
      COMMAND ${CMAKE_AR} x ${lib}
      WORKING_DIRECTORY ${out}
      DEPENDS ${lib}
      VERBATIM)
    list(APPEND outputs ${members})
    foreach(member ${members})
      list(APPEND links "$<BUILD_INTERFACE:${member}>")
    endforeach()
  endforeach()
  add_custom_target(${target}_delay_libs DEPENDS ${outputs})
  add_dependencies(${target} ${target}_delay_libs)
  # First on the link line, so that they, not the ordinary import libraries, supply the functions
  # they list.
  target_link_libraries(${target} PUBLIC ${links})
endfunction()
