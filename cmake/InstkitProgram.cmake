# instkit_add_program(NAME): one of the two shipped programs, from NAME/main.cpp and NAME/NAME.rc
# (its version resource) in the calling folder. Both embed the shared icon and manifest, link the
# quiet terminate handler (an uncaught exception, or a delay-loaded DLL that cannot be had, ends
# them silently with exit code 0) and write a linker map, from which the tests check that every
# delay-load thunk was kept and the build that every delay-load slot is writable.
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
  instkit_check_delay_slots(${name})
endfunction()

# instkit_check_delay_slots(TARGET): fails the build of TARGET, a program that writes its linker map
# beside itself, when any of its delay-load import slots lies in a section that is not writable
# (the program would crash on its first call into a delay-loaded DLL; cmake/DelayLoad.cmake).
find_program(INSTKIT_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
function(instkit_check_delay_slots target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${INSTKIT_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/check_delay_slots.py
            $<TARGET_FILE:${target}> $<TARGET_FILE_DIR:${target}>/${target}.map
    VERBATIM)
endfunction()
