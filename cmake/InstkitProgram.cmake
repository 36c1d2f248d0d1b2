# instkit_add_program(NAME): one of the two shipped programs, from NAME/main.cpp and NAME/NAME.rc
# (its version resource) in the calling folder. Both embed the shared icon and manifest, link the
# quiet terminate handler (an uncaught exception, or a delay-loaded DLL that cannot be had, ends
# them silently with exit code 0) and write a linker map, from which the tests check that every
# delay-load thunk was kept.
function(instkit_add_program name)
  add_executable(${name} WIN32 main.cpp ${name}.rc $<TARGET_OBJECTS:instkit_resources>
    $<TARGET_OBJECTS:instutil_quiet_terminate>)
  target_link_options(${name} PRIVATE -municode "LINKER:-Map=$<TARGET_FILE_DIR:${name}>/${name}.map")
  target_link_libraries(${name} PRIVATE instkit_suite instutil)
  # NAME.rc includes resources/version.rc and the project's version from the build tree.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/resources
    ${PROJECT_BINARY_DIR}/resources)
  set_source_files_properties(${name}.rc PROPERTIES OBJECT_DEPENDS
    "${PROJECT_SOURCE_DIR}/resources/version.rc;${PROJECT_BINARY_DIR}/resources/instkit_version.h")
endfunction()
