# Run by ctest (see cmake/Install.cmake): installs the build into WORK_DIR/prefix and checks what
# is installed; builds the consumer host against the installed package while the development
# files of the package's CPython look missing (SDK only), then with the component Python, then
# with pkg-config, and runs it; then runs the installed icdhost on the example.
file(REMOVE_RECURSE ${WORK_DIR})

function(run_checked)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

function(expect_in text)
    string(FIND "${last_output}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "'${text}' missing from:\n${last_output}")
    endif()
endfunction()

set(prefix ${WORK_DIR}/prefix)
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/ProxyPythonPlugin/ICDHandler.h include/ProxyPythonPlugin/ProxyPythonPluginNS.h
             include/ProxyPythonPlugin/PyInterpreter.h lib/pkgconfig/proxypythonplugin.pc
             share/doc/ProxyPythonPlugin/scripting.md share/doc/ProxyPythonPlugin/icdhost.md
             share/doc/ProxyPythonPlugin/examples/nav_plugin.py bin/icdhost
             share/ProxyPythonPlugin/proxyplugin.pyi share/ProxyPythonPlugin/proxyplugin_ext.pyi)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# One folder of headers, without the project's private ones.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
list(FILTER headers EXCLUDE REGEX "^ProxyPythonPlugin/[A-Za-z]+\\.h$")
file(GLOB_RECURSE private RELATIVE ${prefix} ${prefix}/*PyCompat.h ${prefix}/*PyRef.h)
if(headers OR private)
    message(FATAL_ERROR "installed outside include/ProxyPythonPlugin/ or private: ${headers} ${private}")
endif()
# Each library carries its major version in its name.
foreach(library ICDHandler _interpreter _qtinterpreter ProxyPythonPlugin)
    run_checked(readelf -d ${prefix}/lib/lib${library}.so)
    expect_in("Library soname: [lib${library}.so.4]")
endforeach()

# Without the development files of the package's CPython: the SDK and the host library still
# serve a host; asking for the component Python names what is missing.
set(python_file ${prefix}/lib/cmake/ProxyPythonPlugin/ProxyPythonPluginPython.cmake)
file(READ ${python_file} python_text)
string(REGEX REPLACE "(set\\(_ppp_python_include_dirs \")" "\\1${WORK_DIR}/missing" missing_text
       "${python_text}")
file(WRITE ${python_file} "${missing_text}")
run_checked(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/sdk -DCMAKE_PREFIX_PATH=${prefix})
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/sdk)
run_checked(${WORK_DIR}/sdk/consumer ${EXAMPLES_DIR}/nav_bus.xml)
expect_in("icd NAV_BUS clock 20000")
expect_in("plug-in API $Revision: 122971 $ P8.8")
execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/nopython
    -DCMAKE_PREFIX_PATH=${prefix} -DWITH_PYTHON=ON
    RESULT_VARIABLE status OUTPUT_VARIABLE last_output ERROR_VARIABLE last_output)
string(REGEX REPLACE "[ \n]+" " " last_output "${last_output}")
if(status EQUAL 0)
    message(FATAL_ERROR "the component Python was found without Python.h")
endif()
expect_in("${WORK_DIR}/missing")
expect_in("${PYTHON_DEV_HINT}")

# With them, the component Python gives the interpreter library and the CPython it embeds.
file(WRITE ${python_file} "${python_text}")
run_checked(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/python -DCMAKE_PREFIX_PATH=${prefix}
    -DWITH_PYTHON=ON)
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/python)
run_checked(${WORK_DIR}/python/consumer ${EXAMPLES_DIR}/nav_bus.xml)
expect_in("holds an interpreter: 0")

# pkg-config gives the SDK's include folder and the host library.
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run_checked(pkg-config --cflags --libs proxypythonplugin)
string(STRIP "${last_output}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run_checked(pkg-config --variable=libdir proxypythonplugin)
string(STRIP "${last_output}" libdir)
run_checked(${CXX} ${CONSUMER_DIR}/main.cpp -o ${WORK_DIR}/pkgconfig-consumer
    "-DPLUGIN_LIBRARY=\"${libdir}/libProxyPythonPlugin.so.4\"" ${flags} -Wl,-rpath,${libdir} -ldl)
run_checked(${WORK_DIR}/pkgconfig-consumer ${EXAMPLES_DIR}/nav_bus.xml)
expect_in("icd NAV_BUS clock 20000")

file(COPY ${EXAMPLES_DIR}/ DESTINATION ${WORK_DIR}/examples PATTERN ProxyPluginObject.html EXCLUDE)
run_checked(${prefix}/bin/icdhost --icd ${WORK_DIR}/examples/nav_bus.xml
    --script ${WORK_DIR}/examples/nav_plugin.py -c "plugins")
expect_in("0 NAV 4.0.0")
file(REMOVE_RECURSE ${WORK_DIR})
