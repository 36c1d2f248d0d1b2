# Included by each example's CMakeLists.txt.
#
# instkit_example_installer(TARGET RESULT TOOL PROGRAM OUTPUT NAME SOURCE FILE [DEPENDS FILE...]
#                           COMMAND ARGS... [COMMAND ARGS...]...)
#   Where PROGRAM (makensis, wixl) is installed and the build is a 32-bit one (the example
#   installers are 32-bit programs, and so are the programs we ship in them), makes the example
#   from this build's own programs twice, as part of the default build (target TARGET): at
#   revision 18.1 as it stands, and at 18.2, a newer build of the same suite (its version, and
#   relinfo-18.2.xml: the sample relinfo.xml with revision 18.1 replaced by 18.2) that the tests
#   install over it. RESULT, in the calling folder's scope, lists the two files made, 18.1 first.
#   Each COMMAND runs in turn (the tool, then any step after it, such as a post-processing of the
#   package); in their arguments <TOOL> is the program found (cached as TOOL), <VERSION> the
#   version, <RELINFO> the release file and <OUTPUT> the file made, whose name NAME gives with
#   the same placeholders. The file SOURCE (in the calling folder) and the release file are
#   dependencies, with both programs and whatever DEPENDS names.
function(instkit_example_installer target result)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "TOOL;PROGRAM;OUTPUT;SOURCE" "")
  if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    return()
  endif()
  find_program(${arg_TOOL} ${arg_PROGRAM})
  if(NOT ${arg_TOOL})
    message(STATUS "${arg_PROGRAM} not found: the example ${target} is not built")
    return()
  endif()

  set(source_dir ${CMAKE_CURRENT_SOURCE_DIR})
  file(READ ${source_dir}/relinfo.xml relinfo)
  string(REPLACE "18.1" "18.2" relinfo "${relinfo}")
  file(CONFIGURE OUTPUT relinfo-18.2.xml CONTENT "${relinfo}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source_dir}/relinfo.xml)

  set(made)
  foreach(version 18.1 18.2)
    if(version STREQUAL 18.1)
      set(relinfo ${source_dir}/relinfo.xml)
    else()
      set(relinfo ${CMAKE_CURRENT_BINARY_DIR}/relinfo-${version}.xml)
    endif()
    string(REPLACE "<VERSION>" "${version}" output "${CMAKE_CURRENT_BINARY_DIR}/${arg_OUTPUT}")
    set(commands ${arg_UNPARSED_ARGUMENTS})
    set(depends)
    list(FIND commands COMMAND first)
    if(first GREATER 0)
      list(SUBLIST commands 0 ${first} depends)
      list(SUBLIST commands ${first} -1 commands)
      list(POP_FRONT depends keyword)
      if(NOT keyword STREQUAL "DEPENDS")
        message(FATAL_ERROR "instkit_example_installer: unknown argument ${keyword}")
      endif()
    endif()
    list(TRANSFORM commands REPLACE "<TOOL>" "${${arg_TOOL}}")
    list(TRANSFORM commands REPLACE "<VERSION>" "${version}")
    list(TRANSFORM commands REPLACE "<RELINFO>" "${relinfo}")
    list(TRANSFORM commands REPLACE "<OUTPUT>" "${output}")
    get_filename_component(name ${output} NAME)
    add_custom_command(OUTPUT ${output} ${commands}
      DEPENDS ${arg_SOURCE} ${relinfo} add_shortcuts remove_shortcuts ${depends}
      COMMENT "Making the example ${name}"
      VERBATIM)
    list(APPEND made ${output})
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${made})
  set(${result} ${made} PARENT_SCOPE)
endfunction()
