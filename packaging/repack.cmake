# Run by cpack once it has written the archive. CPack lists the entries in the order the file
# system returns them, dates each one when it was built, and records the packing account's owner
# and group and the modes its umask left; this packs the same staged tree again with write_zip.py
# (Python's zipfile): the entries sorted by name, all dated at one instant, $ENV{SOURCE_DATE_EPOCH}
# when set, else the time of the commit the sources come from (written as UTC), with fixed modes
# and no owner.
# Two packs of one commit are then byte-identical, whoever packs them, wherever and whenever.
include(${CMAKE_CURRENT_LIST_DIR}/release_time.cmake)

get_filename_component(root_name "${CPACK_TEMPORARY_DIRECTORY}" NAME)
get_filename_component(stage "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
file(GLOB_RECURSE entries LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/${root_name}/*")
list(SORT entries)
list(JOIN entries "\n" listing)
file(WRITE "${stage}/${root_name}.entries" "${listing}\n")

foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  if(NOT archive MATCHES "\\.zip$")
    continue()  # a source package, which this does not normalise
  endif()
  file(REMOVE "${archive}")
  execute_process(
    COMMAND python3 "${CPACK_INSTKIT_SOURCE_DIR}/packaging/write_zip.py" "${archive}" ${epoch}
            "${root_name}.entries"
    WORKING_DIRECTORY "${stage}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Could not repack ${archive}")
  endif()
endforeach()
