# Install rules and Debian packages. Components:
#   module      libZumvoPayment.so and the QR reader program in one folder (the module finds its
#               settings, log and reader next to its own file); its settings file in
#               <sysconfdir>/zumvo, reached from the module's folder by a symbolic link
#   refhost     the reference host programs Invoicing and BackOffice (they find the module in
#               their own folder, else in the module folder relative to theirs) and their data
#               (style sheets in share/zumvo/refhost/Res, example configuration, scenarios)
#   simulators  the voucher and brand service simulators with their data files
#   sdk         the host SDK headers with the CMake package ZumvoHostSDK
# `./run package` builds one .deb per component; debian/ holds what the packages carry besides
# the installed files (copyright, changelog, maintainer scripts, the users' READMEs).
include(CMakePackageConfigHelpers)

set(ZUMVO_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/zumvo-payment)
set(ZUMVO_MANDIR ${CMAKE_INSTALL_MANDIR}/man1)

# The programs' folder to the module's folder, compiled into the host.
file(RELATIVE_PATH ZUMVO_MODULE_FROM_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${ZUMVO_INSTALL_MODULEDIR})

# The version goes into every program.
foreach(program refhost_app zumvo_voucher_sim zumvo_brand_sim Trelvan_QR_Detect)
  if(TARGET ${program})
    target_link_libraries(${program} PRIVATE zumvo_version)
  endif()
endforeach()
if(TARGET refhost_app)
  target_compile_definitions(refhost_app PRIVATE ZUMVO_MODULE_FROM_PROGRAM="${ZUMVO_MODULE_FROM_PROGRAM}")
endif()
# The programs' folder to the host's style sheets (Res), for the host and the module's report
# pages when Res is not beside the program.
file(RELATIVE_PATH ZUMVO_RES_FROM_PROGRAM ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${ZUMVO_INSTALL_DATADIR}/refhost/Res)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/support/HostResFolder.cpp TARGET_DIRECTORY zumvo_support APPEND PROPERTY
             COMPILE_DEFINITIONS ZUMVO_RES_FROM_PROGRAM="${ZUMVO_RES_FROM_PROGRAM}")

# What every package carries in /usr/share/doc/<package>: copyright, the Debian changelog
# (gzip -9n), a README for users of the installed system.
set(ZUMVO_PACKAGE_NAMES zumvo-payment zumvo-refhost zumvo-simulators zumvo-host-sdk-dev)
set(ZUMVO_PACKAGE_COMPONENTS module refhost simulators sdk)
set(ZUMVO_GENERATED_DOCS ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${ZUMVO_GENERATED_DOCS})
# The Debian changelog's latest entry names the packages' version.
file(STRINGS ${CMAKE_SOURCE_DIR}/debian/changelog ZUMVO_DEBIAN_CHANGELOG_TOP LIMIT_COUNT 1)
set(ZUMVO_PACKAGE_REVISION 1)
set(ZUMVO_PACKAGE_VERSION ${PROJECT_VERSION}-${ZUMVO_PACKAGE_REVISION})
if(NOT ZUMVO_DEBIAN_CHANGELOG_TOP MATCHES "^zumvo \\(${ZUMVO_PACKAGE_VERSION}\\) ")
  message(WARNING "debian/changelog: the latest entry must be for version ${ZUMVO_PACKAGE_VERSION} "
                      "(the project's version ${PROJECT_VERSION}, package revision ${ZUMVO_PACKAGE_REVISION}); "
                      "it is: ${ZUMVO_DEBIAN_CHANGELOG_TOP}")
endif()
find_program(ZUMVO_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${ZUMVO_GENERATED_DOCS}/changelog.Debian.gz ${ZUMVO_GENERATED_DOCS}/changelog.gz
                   COMMAND ${ZUMVO_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/debian/changelog > changelog.Debian.gz
                   COMMAND ${ZUMVO_GZIP} -9n -c ${CMAKE_SOURCE_DIR}/CHANGELOG.md > changelog.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/debian/changelog ${CMAKE_SOURCE_DIR}/CHANGELOG.md
                   WORKING_DIRECTORY ${ZUMVO_GENERATED_DOCS} VERBATIM)
set(ZUMVO_PACKAGE_DOC_OUTPUTS ${ZUMVO_GENERATED_DOCS}/changelog.Debian.gz ${ZUMVO_GENERATED_DOCS}/changelog.gz)
foreach(package component IN ZIP_LISTS ZUMVO_PACKAGE_NAMES ZUMVO_PACKAGE_COMPONENTS)
  set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${package})
  install(FILES ${CMAKE_SOURCE_DIR}/debian/copyright ${ZUMVO_GENERATED_DOCS}/changelog.Debian.gz
          DESTINATION ${docdir} COMPONENT ${component})
  install(FILES ${CMAKE_SOURCE_DIR}/debian/${package}.README.md DESTINATION ${docdir} RENAME README.md
          COMPONENT ${component})
  install(FILES ${CMAKE_SOURCE_DIR}/debian/${package}.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${package} COMPONENT ${component})
endforeach()

# Manual pages of the programs, made from their --help and --version by help2man (gzip -9n).
find_program(ZUMVO_HELP2MAN help2man)
set(ZUMVO_MAN_Invoicing "till of the Zumvo reference point-of-sale host")
set(ZUMVO_MAN_BackOffice "back office of the Zumvo reference point-of-sale host")
set(ZUMVO_MAN_zumvo_voucher_sim "simulator of the Zumvo voucher service (SOAP over HTTP)")
set(ZUMVO_MAN_zumvo_brand_sim "simulator of the point-of-sale vendor's brand service")
set(ZUMVO_MAN_Trelvan_QR_Detect "read a QR code or barcode from an image for the Zumvo module")
set(ZUMVO_MAN_COMPONENT_Invoicing refhost)
set(ZUMVO_MAN_COMPONENT_BackOffice refhost)
set(ZUMVO_MAN_COMPONENT_zumvo_voucher_sim simulators)
set(ZUMVO_MAN_COMPONENT_zumvo_brand_sim simulators)
set(ZUMVO_MAN_COMPONENT_Trelvan_QR_Detect module)
# (Not in sanitizer, fuzzing or cross builds: they are not packaged, and their programs may not
# run here.)
if(ZUMVO_HELP2MAN AND NOT ZUMVO_SANITIZE AND NOT ZUMVO_FUZZ AND NOT CMAKE_CROSSCOMPILING)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/man)
  set(ZUMVO_MAN_PAGES)
  foreach(program Invoicing BackOffice zumvo_voucher_sim zumvo_brand_sim Trelvan_QR_Detect)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}.gz
                       COMMAND ${ZUMVO_HELP2MAN} --no-info --section=1
                               "--name=${ZUMVO_MAN_${program}}" --output=${page} $<TARGET_FILE:${program}>
                       COMMAND ${ZUMVO_GZIP} -9nf ${page}
                       DEPENDS ${program} VERBATIM)
    list(APPEND ZUMVO_MAN_PAGES ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${ZUMVO_MANDIR} COMPONENT ${ZUMVO_MAN_COMPONENT_${program}})
  endforeach()
  add_custom_target(zumvo_man_pages ALL DEPENDS ${ZUMVO_MAN_PAGES} ${ZUMVO_PACKAGE_DOC_OUTPUTS})
else()
  if(NOT ZUMVO_HELP2MAN)
    message(STATUS "help2man not found: no manual pages (the Debian packages need them)")
  endif()
  add_custom_target(zumvo_man_pages ALL DEPENDS ${ZUMVO_PACKAGE_DOC_OUTPUTS})
endif()

# module
install(TARGETS ZumvoPayment LIBRARY DESTINATION ${ZUMVO_INSTALL_MODULEDIR} COMPONENT module)
# The settings file: <sysconfdir>/zumvo/libZumvoPayment.ini (a conffile of the package, mode 0640:
# it holds the provider's password; the package gives it the group zumvo), and in the module's
# folder the name the module looks for, a symbolic link to it. The prefix /usr has its settings
# in /etc, any other prefix in <prefix>/etc (as GNUInstallDirs has it), decided when installing
# so that `cmake --install --prefix DIR` keeps everything under DIR.
install(FILES ${CMAKE_SOURCE_DIR}/module/ZumvoPayment.example.ini DESTINATION ${ZUMVO_DOCDIR}/examples
        RENAME libZumvoPayment.ini.example COMPONENT module)
install(CODE "set(ZUMVO_EXAMPLE_INI \"${CMAKE_SOURCE_DIR}/module/ZumvoPayment.example.ini\")
set(ZUMVO_MODULEDIR \"${ZUMVO_INSTALL_MODULEDIR}\")" COMPONENT module)
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(_zumvo_etc "/etc/zumvo")
  else()
    set(_zumvo_etc "${CMAKE_INSTALL_PREFIX}/etc/zumvo")
  endif()
  set(_zumvo_ini "$ENV{DESTDIR}${_zumvo_etc}/libZumvoPayment.ini")
  if(EXISTS "${_zumvo_ini}" AND "$ENV{DESTDIR}" STREQUAL "")
    message(STATUS "Kept (the settings in use): ${_zumvo_ini}")
  else()
    # (file(INSTALL) puts DESTDIR in front of the destination by itself)
    file(INSTALL DESTINATION "${_zumvo_etc}" TYPE FILE RENAME libZumvoPayment.ini
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ FILES "${ZUMVO_EXAMPLE_INI}")
  endif()
  set(_zumvo_link "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ZUMVO_MODULEDIR}/libZumvoPayment.ini")
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(_zumvo_target "${_zumvo_etc}/libZumvoPayment.ini")
  else()
    file(RELATIVE_PATH _zumvo_target "${CMAKE_INSTALL_PREFIX}/${ZUMVO_MODULEDIR}" "${_zumvo_etc}/libZumvoPayment.ini")
  endif()
  if(NOT IS_SYMLINK "${_zumvo_link}" AND EXISTS "${_zumvo_link}")
    message(FATAL_ERROR "${_zumvo_link} is a file of its own: move its settings to ${_zumvo_ini}, then install again")
  endif()
  message(STATUS "Installing: ${_zumvo_link} -> ${_zumvo_target}")
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ZUMVO_MODULEDIR}")
  file(CREATE_LINK "${_zumvo_target}" "${_zumvo_link}" SYMBOLIC)
]] COMPONENT module)
# The QR reader is built in tools/ when that folder is there; it runs from the module's folder,
# and reads its settings beside itself: <sysconfdir>/zumvo/Trelvan_QR_Detect.ini (a conffile,
# 0644: nothing secret), reached from the module's folder by a symbolic link, as the module's.
if(TARGET Trelvan_QR_Detect)
  install(TARGETS Trelvan_QR_Detect RUNTIME DESTINATION ${ZUMVO_INSTALL_MODULEDIR} COMPONENT module)
  install(CODE "set(ZUMVO_QR_EXAMPLE_INI \"${CMAKE_SOURCE_DIR}/tools/Trelvan_QR_Detect.example.ini\")
set(ZUMVO_MODULEDIR \"${ZUMVO_INSTALL_MODULEDIR}\")" COMPONENT module)
  install(CODE [[
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
      set(_zumvo_etc "/etc/zumvo")
      set(_zumvo_target "/etc/zumvo/Trelvan_QR_Detect.ini")
    else()
      set(_zumvo_etc "${CMAKE_INSTALL_PREFIX}/etc/zumvo")
      file(RELATIVE_PATH _zumvo_target "${CMAKE_INSTALL_PREFIX}/${ZUMVO_MODULEDIR}" "${_zumvo_etc}/Trelvan_QR_Detect.ini")
    endif()
    if(EXISTS "$ENV{DESTDIR}${_zumvo_etc}/Trelvan_QR_Detect.ini" AND "$ENV{DESTDIR}" STREQUAL "")
      message(STATUS "Kept (the settings in use): ${_zumvo_etc}/Trelvan_QR_Detect.ini")
    else()
      file(INSTALL DESTINATION "${_zumvo_etc}" TYPE FILE RENAME Trelvan_QR_Detect.ini
           PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ FILES "${ZUMVO_QR_EXAMPLE_INI}")
    endif()
    set(_zumvo_link "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ZUMVO_MODULEDIR}/Trelvan_QR_Detect.ini")
    if(NOT IS_SYMLINK "${_zumvo_link}" AND EXISTS "${_zumvo_link}")
      message(FATAL_ERROR "${_zumvo_link} is a file of its own: move its settings to ${_zumvo_etc}/Trelvan_QR_Detect.ini, then install again")
    endif()
    message(STATUS "Installing: ${_zumvo_link} -> ${_zumvo_target}")
    file(CREATE_LINK "${_zumvo_target}" "${_zumvo_link}" SYMBOLIC)
  ]] COMPONENT module)
  install(FILES ${CMAKE_SOURCE_DIR}/tools/Trelvan_QR_Detect.example.ini DESTINATION ${ZUMVO_DOCDIR}/examples
          RENAME Trelvan_QR_Detect.ini.example COMPONENT module)
endif()
install(FILES ${ZUMVO_GENERATED_DOCS}/changelog.gz DESTINATION ${ZUMVO_DOCDIR} COMPONENT module)

# refhost
foreach(program Invoicing BackOffice)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT refhost)
  endif()
endforeach()
# The host's style sheets: the host and the module's report look for Res/ beside the program,
# else in the host's data folder relative to it (zumvo::HostResFolder).
if(EXISTS ${CMAKE_SOURCE_DIR}/refhost/Res)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/refhost/Res DESTINATION ${ZUMVO_INSTALL_DATADIR}/refhost COMPONENT refhost)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/refhost/demo/host.ini DESTINATION ${ZUMVO_INSTALL_DATADIR}/refhost
        RENAME host.ini.example COMPONENT refhost)
file(GLOB ZUMVO_SCENARIOS ${CMAKE_SOURCE_DIR}/refhost/scenarios/*.json)
if(ZUMVO_SCENARIOS)
  install(FILES ${ZUMVO_SCENARIOS} DESTINATION ${ZUMVO_INSTALL_DATADIR}/refhost/scenarios COMPONENT refhost)
endif()

# simulators
foreach(program zumvo_voucher_sim zumvo_brand_sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT simulators)
  endif()
endforeach()
install(DIRECTORY ${CMAKE_SOURCE_DIR}/sim/data/ DESTINATION ${ZUMVO_INSTALL_DATADIR}/sim COMPONENT simulators)
install(FILES ${CMAKE_SOURCE_DIR}/sim/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zumvo-simulators
        RENAME reference.md COMPONENT simulators)

# sdk
file(GLOB ZUMVO_SDK_HEADERS ${CMAKE_SOURCE_DIR}/host/*.h)
install(FILES ${ZUMVO_SDK_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zumvo COMPONENT sdk)
install(FILES ${CMAKE_SOURCE_DIR}/host/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zumvo-host-sdk-dev
        RENAME reference.md COMPONENT sdk)
# A complete host program with its CMake project, built against the installed package.
install(FILES ${CMAKE_SOURCE_DIR}/host/example/CMakeLists.txt ${CMAKE_SOURCE_DIR}/host/example/zumvo_host_example.cpp
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zumvo-host-sdk-dev/examples/host COMPONENT sdk)
set_target_properties(zumvo_host_sdk PROPERTIES EXPORT_NAME HostSDK)
target_compile_features(zumvo_host_sdk INTERFACE cxx_std_20)
install(TARGETS zumvo_host_sdk EXPORT ZumvoHostSDKTargets COMPONENT sdk)
set(ZUMVO_SDK_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZumvoHostSDK)
install(EXPORT ZumvoHostSDKTargets NAMESPACE Zumvo:: DESTINATION ${ZUMVO_SDK_CMAKEDIR} COMPONENT sdk)
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/ZumvoHostSDKConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/ZumvoHostSDKConfig.cmake INSTALL_DESTINATION ${ZUMVO_SDK_CMAKEDIR})
# The interfaces are binary contracts: a host built against 1.x loads any 1.x module.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ZumvoHostSDKConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/ZumvoHostSDKConfig.cmake ${CMAKE_BINARY_DIR}/ZumvoHostSDKConfigVersion.cmake
        DESTINATION ${ZUMVO_SDK_CMAKEDIR} COMPONENT sdk)

# Debian packages, one per component. Runtime dependencies come from the installed files
# (dpkg-shlibdeps); the host needs the module's package too.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zumvo)
set(CPACK_PACKAGE_VENDOR "Zumvo")
set(CPACK_PACKAGE_CONTACT "Zumvo support <support@zumvo.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZUMVO_PACKAGE_REVISION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL module refhost simulators sdk)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Packages carry stripped programs; the build tree keeps the debug information.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Maintainer scripts 0755, control files 0644, as dpkg-deb expects them.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Descriptions: a synopsis, then lines of at most 80 columns.
set(CPACK_DEBIAN_MODULE_PACKAGE_NAME zumvo-payment)
set(CPACK_DEBIAN_MODULE_PACKAGE_SECTION libs)
# The maintainer scripts make the group zumvo with addgroup or groupadd (passwd; not Essential).
set(CPACK_DEBIAN_MODULE_PACKAGE_DEPENDS "passwd")
# The module's own maintainer scripts (the group zumvo, the settings' mode, what a purge
# removes); they also keep CPack from adding ldconfig calls: the module is loaded by its path.
set(CPACK_DEBIAN_MODULE_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/debian/zumvo-payment/conffiles ${CMAKE_SOURCE_DIR}/debian/zumvo-payment/preinst
    ${CMAKE_SOURCE_DIR}/debian/zumvo-payment/postinst ${CMAKE_SOURCE_DIR}/debian/zumvo-payment/postrm)
set(CPACK_DEBIAN_MODULE_DESCRIPTION "Zumvo payment module for point-of-sale hosts
The shared library libZumvoPayment.so, which a point-of-sale till and back
office load to take payments and discounts with Zumvo voucher codes, the QR
reader program Trelvan_QR_Detect it runs, and its settings file
/etc/zumvo/libZumvoPayment.ini.")
set(CPACK_DEBIAN_REFHOST_PACKAGE_NAME zumvo-refhost)
set(CPACK_DEBIAN_REFHOST_PACKAGE_DEPENDS "zumvo-payment (= ${ZUMVO_PACKAGE_VERSION})")
set(CPACK_DEBIAN_REFHOST_PACKAGE_SUGGESTS "libsqliteodbc, tdsodbc, zumvo-simulators")
set(CPACK_DEBIAN_REFHOST_DESCRIPTION "Zumvo reference host: Invoicing and BackOffice
Programs that load the Zumvo payment module as a point-of-sale till and back
office do, on a SQLite or ODBC database: a till window, till scenarios run
without a display, the back office's report and held-funds list.")
set(CPACK_DEBIAN_SIMULATORS_PACKAGE_NAME zumvo-simulators)
set(CPACK_DEBIAN_SIMULATORS_DESCRIPTION "Zumvo voucher and brand service simulators
Test servers that play the Zumvo voucher service (SOAP over HTTP or HTTPS)
and the point-of-sale vendor's brand web service, with their data files.")
set(CPACK_DEBIAN_SDK_PACKAGE_NAME zumvo-host-sdk-dev)
set(CPACK_DEBIAN_SDK_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_SDK_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_SDK_DESCRIPTION "Zumvo host SDK headers
The C++ interfaces a point-of-sale host implements to load the Zumvo payment
module, the declarations of the module's entry points, and the CMake package
ZumvoHostSDK.")
include(CPack)
