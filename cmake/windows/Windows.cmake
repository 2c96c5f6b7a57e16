# Settings of every Windows build: the cross build of the windows preset
# (i686-w64-mingw32.toolchain.cmake), and a native build of Update with Qt.

# Every program and DLL in one directory, as they ship: the Windows loader looks
# beside the executable first, which is how the tests find the stub libusb0.dll.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Programs and libraries take the names Windows users expect (tagport.dll, not
# libtagport.dll); import libraries keep mingw's lib*.dll.a.
set(CMAKE_SHARED_LIBRARY_PREFIX "")

# The Windows package, a zip: tagport.dll with its header, import library and .def,
# and the command-line tools of Update's core (Update itself too, where it is built).
# `cpack --preset windows` makes it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_windows_flavour win32)
else()
  set(_windows_flavour win64)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME venue-backoffice)
set(CPACK_PACKAGE_FILE_NAME "venue-backoffice-${PROJECT_VERSION}-${_windows_flavour}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The package of the cross build, as the windows preset makes it.
if(BUILD_TESTING AND CMAKE_CROSSCOMPILING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME WindowsPackage.HoldsTheLibraryAndTheToolsWithNothingElseToShip
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_package.py
            ${CMAKE_BINARY_DIR} ${CMAKE_OBJDUMP})
endif()
