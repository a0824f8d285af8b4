# Install rules and Debian packages. Components:
#   module      libZumvoPayment.so, its example settings file and the QR reader program, in one
#               folder (the module finds its settings, log and reader next to its own file)
#   refhost     the reference host programs Invoicing and BackOffice (they find the module in
#               their own folder, else in the module folder relative to theirs)
#   simulators  the voucher and brand service simulators with their data files
#   sdk         the host SDK headers with the CMake package ZumvoHostSDK
# `./run package` builds one .deb per component.
include(CMakePackageConfigHelpers)

set(ZUMVO_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/zumvo-payment)

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

# module
install(TARGETS ZumvoPayment LIBRARY DESTINATION ${ZUMVO_INSTALL_MODULEDIR} COMPONENT module)
install(FILES ${CMAKE_SOURCE_DIR}/module/ZumvoPayment.example.ini DESTINATION ${ZUMVO_INSTALL_MODULEDIR}
        RENAME libZumvoPayment.ini.example COMPONENT module)
# The QR reader is built in tools/ when that folder is there; it runs from the module's folder.
if(TARGET Trelvan_QR_Detect)
  install(TARGETS Trelvan_QR_Detect RUNTIME DESTINATION ${ZUMVO_INSTALL_MODULEDIR} COMPONENT module)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/CHANGELOG.md DESTINATION ${ZUMVO_DOCDIR}
        COMPONENT module)

# refhost
foreach(program Invoicing BackOffice)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT refhost)
  endif()
endforeach()
# The host's style sheets: the host and the module's report look for Res/ beside the program.
if(EXISTS ${CMAKE_SOURCE_DIR}/refhost/Res)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/refhost/Res DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT refhost)
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
        COMPONENT simulators)

# sdk
file(GLOB ZUMVO_SDK_HEADERS ${CMAKE_SOURCE_DIR}/host/*.h)
install(FILES ${ZUMVO_SDK_HEADERS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zumvo COMPONENT sdk)
install(FILES ${CMAKE_SOURCE_DIR}/host/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zumvo-host-sdk-dev
        COMPONENT sdk)
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
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL module refhost simulators sdk)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Packages carry stripped programs; the build tree keeps the debug information.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_MODULE_PACKAGE_NAME zumvo-payment)
set(CPACK_DEBIAN_MODULE_DESCRIPTION
    "Zumvo payment module for point-of-sale hosts\n The shared library libZumvoPayment.so with its example settings file and the QR reader program Trelvan_QR_Detect.")
set(CPACK_DEBIAN_REFHOST_PACKAGE_NAME zumvo-refhost)
set(CPACK_DEBIAN_REFHOST_PACKAGE_DEPENDS "zumvo-payment (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_REFHOST_PACKAGE_SUGGESTS "libsqliteodbc, tdsodbc")
set(CPACK_DEBIAN_REFHOST_DESCRIPTION
    "Zumvo reference host: Invoicing and BackOffice\n Programs that load the Zumvo payment module as a till and a back office do, on a SQLite or ODBC database.")
set(CPACK_DEBIAN_SIMULATORS_PACKAGE_NAME zumvo-simulators)
set(CPACK_DEBIAN_SIMULATORS_DESCRIPTION
    "Zumvo voucher and brand service simulators\n Test servers that play the voucher service (SOAP over HTTP) and the brand web service, with their data files.")
set(CPACK_DEBIAN_SDK_PACKAGE_NAME zumvo-host-sdk-dev)
set(CPACK_DEBIAN_SDK_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_SDK_DESCRIPTION
    "Zumvo host SDK headers\n The C++ interfaces a point-of-sale host implements to load the Zumvo payment module, with the CMake package ZumvoHostSDK.")
include(CPack)
