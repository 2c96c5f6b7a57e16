# The Linux build's Debian packages, made by CPack's DEB generator (scripts/package):
#   update          Update with System.ini.example in UPDATE_INSTALL_DIR, the link
#                   System.ini there to the settings in UPDATE_STATE_DIR, and the
#                   command `update` on the PATH, a symbolic link to it
#   libtagport1     libtagport.so.1 and the reader's udev rule
#   libtagport-dev  tagport.h, the libtagport.so link and tagport.pc
#   tagport-probe   the technician's check of a reader
# Included from the top-level CMakeLists.txt after the subdirectories, so it can
# install their targets.

# Update reads System.ini from the directory of its real executable file (symbolic
# links resolved), so the program lives outside /usr, and the command on the PATH
# only points there. The operators who run it must not be able to change the
# program, yet its dialog writes the settings and every run appends to its log: the
# System.ini beside the program is a link into a directory of their own, and the log
# goes beside the link's target. The maintainer scripts make that directory and the
# group, move the settings of an earlier install there, and remove it on purge.
set(UPDATE_INSTALL_DIR /opt/venue-backoffice CACHE PATH
  "Where Update and System.ini.example are installed (absolute)")
set(UPDATE_STATE_DIR /var/lib/venue-backoffice CACHE PATH
  "Where the update package keeps System.ini and Update.log (absolute)")
set(UPDATE_OPERATORS_GROUP venue-operators CACHE STRING
  "The system group whose members may write the settings and the log")
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/debian)
if(TARGET Update)
  install(TARGETS Update RUNTIME DESTINATION ${UPDATE_INSTALL_DIR} COMPONENT update)
  install(FILES ${PROJECT_SOURCE_DIR}/upgrade/System.ini.example
    DESTINATION ${UPDATE_INSTALL_DIR} COMPONENT update)
  file(CREATE_LINK ${UPDATE_STATE_DIR}/System.ini ${CMAKE_CURRENT_BINARY_DIR}/debian/System.ini
    SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/System.ini
    DESTINATION ${UPDATE_INSTALL_DIR} COMPONENT update)
  file(CREATE_LINK ${UPDATE_INSTALL_DIR}/Update ${CMAKE_CURRENT_BINARY_DIR}/debian/update SYMBOLIC)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/update
    DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT update)
  foreach(_script preinst postinst postrm)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/update/${_script}.in
      ${CMAKE_CURRENT_BINARY_DIR}/debian/update-scripts/${_script} @ONLY)
  endforeach()
endif()

set(CPACK_PACKAGE_NAME venue-backoffice)
set(CPACK_PACKAGE_VENDOR "Venue back office")
set(CPACK_PACKAGE_CONTACT "Venue back office maintainers <backoffice@example.org>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL update libtagport1 libtagport-dev tagport-probe)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# tagport-probe links the library being packed; its dependency on libtagport1 is
# written out below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/reader)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# A shlibs file for libtagport.so.1, so that programs packed against it depend on
# libtagport1.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)

set(_same_version "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_UPDATE_PACKAGE_NAME update)
set(CPACK_DEBIAN_UPDATE_PACKAGE_SECTION misc)
# Beyond the libraries it links (found by dpkg-shlibdeps): the SQL Server driver it
# picks on Linux, the driver manager's tools, and a font with Chinese glyphs for
# its messages and dialog; adduser for the operators' group.
set(CPACK_DEBIAN_UPDATE_PACKAGE_DEPENDS "tdsodbc, unixodbc, fonts-wqy-zenhei, adduser")
# Maintainer scripts: the operators' group and directory, the settings moved there.
set(CPACK_DEBIAN_UPDATE_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_BINARY_DIR}/debian/update-scripts/preinst
  ${CMAKE_CURRENT_BINARY_DIR}/debian/update-scripts/postinst
  ${CMAKE_CURRENT_BINARY_DIR}/debian/update-scripts/postrm)
set(CPACK_COMPONENT_UPDATE_DESCRIPTION
  "upgrade a venue's point-of-sale database to the newest schema
Update brings the SQL Server database of a leisure venue's point-of-sale suite
to the newest schema version, step by step, each step in its own transaction.
It reads its connection settings from System.ini beside the program in
${UPDATE_INSTALL_DIR}, a link to ${UPDATE_STATE_DIR}/System.ini, and
asks for them in a dialog when they do not connect; its run log is
${UPDATE_STATE_DIR}/Update.log. Members of the group ${UPDATE_OPERATORS_GROUP}
may write both, never the program. It reaches SQL Server through unixODBC with
the FreeTDS driver.")

set(CPACK_DEBIAN_LIBTAGPORT1_PACKAGE_NAME libtagport1)
set(CPACK_DEBIAN_LIBTAGPORT1_PACKAGE_SECTION libs)
# Maintainer scripts: the udev rule takes effect at once; the ldconfig trigger.
set(CPACK_DEBIAN_LIBTAGPORT1_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_LIST_DIR}/libtagport1/postinst
  ${CMAKE_CURRENT_LIST_DIR}/libtagport1/postrm
  ${CMAKE_CURRENT_LIST_DIR}/libtagport1/triggers)
set(CPACK_COMPONENT_LIBTAGPORT1_DESCRIPTION
  "driver library of the USB RFID wristband reader
tagport drives the RFID wristband reader (USB 16C0:88DC) of a leisure venue's
point-of-sale suite through libusb 0.1: tag identifiers, card data, hand
numbers and types, limit cards, the reader's version and clock.
The package's udev rule gives the reader to group plugdev.")

set(CPACK_DEBIAN_LIBTAGPORT-DEV_PACKAGE_NAME libtagport-dev)
set(CPACK_DEBIAN_LIBTAGPORT-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBTAGPORT-DEV_PACKAGE_DEPENDS "libtagport1 ${_same_version}")
set(CPACK_COMPONENT_LIBTAGPORT-DEV_DESCRIPTION
  "driver library of the USB RFID wristband reader (development files)
The header tagport.h, which documents the sixteen exports and their result
codes, and the pkg-config file tagport.pc for building programs that use
tagport.")

set(CPACK_DEBIAN_TAGPORT-PROBE_PACKAGE_NAME tagport-probe)
set(CPACK_DEBIAN_TAGPORT-PROBE_PACKAGE_SECTION utils)
# The probe reports the check code its library was built with, so it must run
# with the library of its own build.
set(CPACK_DEBIAN_TAGPORT-PROBE_PACKAGE_DEPENDS "libtagport1 ${_same_version}")
set(CPACK_COMPONENT_TAGPORT-PROBE_DESCRIPTION
  "check a USB RFID wristband reader through tagport
tagport-probe lists the wristband readers on the USB busses, calls tagport's
read-only operations and prints each result with its meaning. It can set the
reader's clock and try a check code against the reader.")

# Each package's documentation: copyright, changelog and what lintian is told.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog
  COMMAND_ERROR_IS_FATAL ANY)
foreach(_package IN LISTS CPACK_COMPONENTS_ALL)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_package} COMPONENT ${_package})
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/${_package}.lintian-overrides)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/${_package}.lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
      RENAME ${_package} COMPONENT ${_package})
  endif()
endforeach()

include(CPack)

# The packaged command is a symbolic link; Update must still find System.ini beside
# its real file. Checked on the program's own path function, without a display.
if(BUILD_TESTING AND TARGET Update)
  add_executable(settings_path_probe ${CMAKE_CURRENT_LIST_DIR}/tests/settings_path_probe.cpp)
  target_link_libraries(settings_path_probe PRIVATE upgrade_app upgrade_settings project_warnings)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME UpdatePackage.SettingsAreFoundBesideTheRealProgramThroughALink
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/tests/check_settings_path.py
            $<TARGET_FILE:settings_path_probe>)
endif()
