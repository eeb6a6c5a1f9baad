# Installation: the four libraries, icdhost, the host SDK headers, the module's type stub, the
# documents and examples, a pkg-config file and the CMake package that lets a host project write
#     find_package(ProxyPythonPlugin 4 REQUIRED)
#     target_link_libraries(myhost PRIVATE ProxyPythonPlugin::icd_sdk ProxyPythonPlugin::ICDHandler)
# and a Debian package of all of it: `cpack -G DEB` in the build folder.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Every installed header in one folder: the SDK's (host/*.h) and the plug-in library's entry
# points and class. The project's private headers (internal/) are never installed.
set(PPP_INSTALL_HEADER_DIR ${CMAKE_INSTALL_INCLUDEDIR}/ProxyPythonPlugin)
set(PPP_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ProxyPythonPlugin)

set_property(TARGET ProxyPythonPlugin PROPERTY INTERFACE_INCLUDE_DIRECTORIES
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

# Two export sets: the SDK and the host library need nothing of Python; the libraries that embed
# Python are imported only by a project that asks for the component Python.
install(TARGETS icd_sdk ICDHandler EXPORT ProxyPythonPluginTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS _interpreter _qtinterpreter ProxyPythonPlugin EXPORT ProxyPythonPluginPythonTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS icdhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

file(GLOB PPP_SDK_HEADERS ${PROJECT_SOURCE_DIR}/host/*.h)
install(FILES ${PPP_SDK_HEADERS}
              ${PROJECT_SOURCE_DIR}/plugin/ProxyPythonPluginNS.h
              ${PROJECT_SOURCE_DIR}/plugin/ProxyPythonPlugin.h
        DESTINATION ${PPP_INSTALL_HEADER_DIR})

install(FILES ${PROJECT_SOURCE_DIR}/pymodule/proxyplugin.pyi
              ${PROJECT_SOURCE_DIR}/pymodule/proxyplugin_ext.pyi
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ProxyPythonPlugin)
file(GLOB PPP_DOCS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PPP_DOCS} DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
        PATTERN ProxyPluginObject.html EXCLUDE)

install(EXPORT ProxyPythonPluginTargets
    NAMESPACE ProxyPythonPlugin::
    DESTINATION ${PPP_INSTALL_CMAKE_DIR})
install(EXPORT ProxyPythonPluginPythonTargets
    NAMESPACE ProxyPythonPlugin::
    DESTINATION ${PPP_INSTALL_CMAKE_DIR})

# The CPython the libraries embed, recorded by its paths: a host project that uses them gets this
# installation and no other, whichever python3 comes first on its PATH.
if(EXISTS /etc/debian_version AND Python3_EXECUTABLE MATCHES "^/usr/bin/")
    set(PPP_PYTHON_DEV_HINT "install Debian's package python3-dev")
else()
    set(PPP_PYTHON_DEV_HINT "reinstall that CPython with its headers and shared library")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/ProxyPythonPluginPython.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginPython.cmake @ONLY)

set(PPP_PLUGIN_LIBRARY_FILE
    ${CMAKE_SHARED_LIBRARY_PREFIX}ProxyPythonPlugin${CMAKE_SHARED_LIBRARY_SUFFIX}.${PROJECT_VERSION_MAJOR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ProxyPythonPluginConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfig.cmake
    INSTALL_DESTINATION ${PPP_INSTALL_CMAKE_DIR}
    PATH_VARS CMAKE_INSTALL_DATADIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginConfigVersion.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ProxyPythonPluginPython.cmake
        DESTINATION ${PPP_INSTALL_CMAKE_DIR})

# pkg-config: the SDK and the host library, for hosts built without CMake. The prefix is found from
# the file's own place, so that the file is right wherever the installation or the package goes.
file(RELATIVE_PATH PPP_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" PPP_PC_PREFIX "${PPP_PC_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/proxypythonplugin.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/proxypythonplugin.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/proxypythonplugin.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The Debian package: everything above under /usr, stripped. Its dependencies come from
# dpkg-shlibdeps, which knows only Debian's libraries: a build on another CPython gets a package
# without them.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME proxypythonplugin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ProxyPythonPlugin developers <proxypythonplugin@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Python scripts as plug-ins of ICD host applications, with a reference host and icdhost")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS python3-dev)
if(PPP_PYTHON_DEV_HINT MATCHES "python3-dev" AND NOT PPP_SANITIZE)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The package's own libraries, which dpkg-shlibdeps finds beside each other.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
endif()
include(CPack)

if(PPP_BUILD_TESTS)
    # icdhost's tests run the built program and load the built plug-in library.
    if(TARGET test_icdhost)
        add_dependencies(test_icdhost icdhost ProxyPythonPlugin)
    endif()
    # Installs into a scratch prefix, checks what is installed, builds small hosts against the
    # installed package (with CMake, without the Python component while Python's development files
    # are missing, with pkg-config), and runs them and the installed icdhost.
    add_test(NAME icdhost.InstalledPackageBuildsAHostAndRunsIcdhost
        COMMAND ${CMAKE_COMMAND}
            -DBUILD_DIR=${CMAKE_BINARY_DIR}
            -DCONSUMER_DIR=${PROJECT_SOURCE_DIR}/tests/data/icdhost/install_consumer
            -DEXAMPLES_DIR=${PROJECT_SOURCE_DIR}/examples
            -DWORK_DIR=${CMAKE_BINARY_DIR}/install-check
            -DPYTHON_DEV_HINT=${PPP_PYTHON_DEV_HINT}
            -DCXX=${CMAKE_CXX_COMPILER}
            -P ${PROJECT_SOURCE_DIR}/tests/data/icdhost/install_consumer/check_install.cmake)
    set_tests_properties(icdhost.InstalledPackageBuildsAHostAndRunsIcdhost PROPERTIES
        LABELS "icdhost" TIMEOUT 300 ENVIRONMENT_MODIFICATION "PYTHONUNBUFFERED=unset:")

    # The example host (examples/host) built against the package and run, with another CPython
    # first on PATH: from the Debian package in the default build, from an installation with the
    # sanitizers of a sanitized build. Only for Debian's python3, the one the package is for.
    if(PPP_PYTHON_DEV_HINT MATCHES "python3-dev")
        set(example_mode deb)
        set(example_flags "")
        if(PPP_SANITIZE)
            set(example_mode install)
            set(example_flags "-fsanitize=${PPP_SANITIZE} -fno-omit-frame-pointer")
        endif()
        add_test(NAME examples.TheExampleHostRunsAgainstTheInstalledPackage
            COMMAND ${CMAKE_COMMAND}
                -DBUILD_DIR=${CMAKE_BINARY_DIR}
                -DMODE=${example_mode}
                -DFLAGS=${example_flags}
                -DWORK_DIR=${CMAKE_BINARY_DIR}/example-host-check
                -DOTHER_PYTHON_BIN=/root/.pyenv/versions/3.11.7/bin
                -DPYTHON=${Python3_EXECUTABLE}
                -DPYTHON_MINOR=${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}
                -P ${PROJECT_SOURCE_DIR}/tests/data/examples/example_host.cmake)
        set_tests_properties(examples.TheExampleHostRunsAgainstTheInstalledPackage PROPERTIES
            LABELS "examples" TIMEOUT 300 ENVIRONMENT_MODIFICATION "PYTHONUNBUFFERED=unset:")
    endif()
endif()
