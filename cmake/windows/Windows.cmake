# Settings of every Windows build: the cross build of the windows preset
# (i686-w64-mingw32.toolchain.cmake), and a native build of Update with Qt.

# Every program and DLL in one directory, as they ship: the Windows loader looks
# beside the executable first, which is how the tests find the stub libusb0.dll.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Programs and libraries take the names Windows users expect (tagport.dll, not
# libtagport.dll); import libraries keep mingw's lib*.dll.a.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
