# Installation: the four libraries, icdhost, the host SDK headers, the module's type stub, the
# documents and examples, and the CMake package that lets a host project write
#     find_package(ProxyPythonPlugin REQUIRED)
#     target_link_libraries(myhost PRIVATE ProxyPythonPlugin::ICDHandler ProxyPythonPlugin::icd_sdk)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installed headers keep the layout the sources use: the SDK folder holds host/*.h, and the
# plug-in headers a host needs sit below it in plugin/.
set(PPP_INSTALL_SDK_DIR ${CMAKE_INSTALL_INCLUDEDIR}/icdhost)
set(PPP_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ProxyPythonPlugin)

# The plug-in library's headers are found from the source tree while building and from the SDK
# folder once installed.
set_property(TARGET ProxyPythonPlugin PROPERTY INTERFACE_INCLUDE_DIRECTORIES
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${PPP_INSTALL_SDK_DIR}>)

install(TARGETS icd_sdk ICDHandler _interpreter _qtinterpreter ProxyPythonPlugin
    EXPORT ProxyPythonPluginTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS icdhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

file(GLOB PPP_SDK_HEADERS ${PROJECT_SOURCE_DIR}/host/*.h)
install(FILES ${PPP_SDK_HEADERS} DESTINATION ${PPP_INSTALL_SDK_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/plugin/ProxyPythonPluginNS.h
              ${PROJECT_SOURCE_DIR}/plugin/ProxyPythonPlugin.h
        DESTINATION ${PPP_INSTALL_SDK_DIR}/plugin)

install(FILES ${PROJECT_SOURCE_DIR}/pymodule/proxyplugin.pyi
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ProxyPythonPlugin)
file(GLOB PPP_DOCS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PPP_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN ProxyPluginObject.html EXCLUDE)

install(EXPORT ProxyPythonPluginTargets
    NAMESPACE ProxyPythonPlugin::
    DESTINATION ${PPP_INSTALL_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ProxyPythonPluginConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfig.cmake
    INSTALL_DESTINATION ${PPP_INSTALL_CMAKE_DIR}
    PATH_VARS CMAKE_INSTALL_DATADIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfigVersion.cmake
        DESTINATION ${PPP_INSTALL_CMAKE_DIR})

if(PPP_BUILD_TESTS)
    # icdhost's tests run the built program and load the built plug-in library.
    if(TARGET test_icdhost)
        add_dependencies(test_icdhost icdhost ProxyPythonPlugin)
    endif()
    # Installs into a scratch prefix, builds a small host against the installed package, and runs
    # it and the installed icdhost.
    add_test(NAME icdhost.InstalledPackageBuildsAHostAndRunsIcdhost
        COMMAND ${CMAKE_COMMAND}
            -DBUILD_DIR=${CMAKE_BINARY_DIR}
            -DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/tests/data/icdhost/install_consumer
            -DEXAMPLES_DIR=${PROJECT_SOURCE_DIR}/examples
            -DWORK_DIR=${CMAKE_BINARY_DIR}/install-check
            -DPython3_EXECUTABLE=${Python3_EXECUTABLE}
            -DPython3_ROOT_DIR=${Python3_ROOT_DIR}
            -P ${PROJECT_SOURCE_DIR}/tests/data/icdhost/install_consumer/check_install.cmake)
    set_tests_properties(icdhost.InstalledPackageBuildsAHostAndRunsIcdhost PROPERTIES
        LABELS "icdhost" TIMEOUT 300 ENVIRONMENT_MODIFICATION "PYTHONUNBUFFERED=unset:")
endif()
