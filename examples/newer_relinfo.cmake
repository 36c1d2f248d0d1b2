# Included by each example's CMakeLists.txt: relinfo-18.2.xml in its build folder, the example's
# sample relinfo.xml with revision 18.1 replaced by 18.2, for the newer build that the tests
# install over the example.
file(READ relinfo.xml relinfo)
string(REPLACE "18.1" "18.2" relinfo "${relinfo}")
file(CONFIGURE OUTPUT relinfo-18.2.xml CONTENT "${relinfo}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS relinfo.xml)
