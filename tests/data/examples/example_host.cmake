# Run by ctest (see cmake/Install.cmake): puts the package where a host finds it, builds the
# example host it ships (share/doc/ProxyPythonPlugin/examples/host) against it with another
# python3 first on PATH, and runs it on a copy of its script, once with that PATH and once in a
# virtual environment of the package's CPython.
#   MODE deb:     the Debian package made by `cpack -G DEB`, unpacked into a scratch root
#   MODE install: `cmake --install` into a scratch prefix; FLAGS: the sanitizer flags the build
#                 uses, for a host that loads sanitized libraries
file(REMOVE_RECURSE ${WORK_DIR})

function(run_checked)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
    endif()
    set(last_output "${out}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "deb")
    run_checked(${CMAKE_COMMAND} -E chdir ${BUILD_DIR} cpack -G DEB -B ${WORK_DIR}/package)
    file(GLOB package ${WORK_DIR}/package/proxypythonplugin_*.deb)
    run_checked(dpkg-deb -x ${package} ${WORK_DIR}/root)
    set(prefix ${WORK_DIR}/root/usr)
else()
    set(prefix ${WORK_DIR}/prefix)
    run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
endif()

# Another CPython of the same minor version first on PATH, as pyenv or conda put it.
set(path "$ENV{PATH}")
if(EXISTS ${OTHER_PYTHON_BIN}/python3)
    set(path "${OTHER_PYTHON_BIN}:${path}")
endif()
set(example ${prefix}/share/doc/ProxyPythonPlugin/examples/host)
run_checked(${CMAKE_COMMAND} -E env PATH=${path} ${CMAKE_COMMAND} -S ${example}
    -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=RelWithDebInfo
    "-DCMAKE_CXX_FLAGS=${FLAGS}")
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

# A virtual environment made from the package's CPython, as `python3 -m venv` makes one.
set(venv ${WORK_DIR}/venv)
get_filename_component(python_bin ${PYTHON} DIRECTORY)
file(MAKE_DIRECTORY ${venv}/bin ${venv}/lib/python${PYTHON_MINOR}/site-packages)
file(CREATE_LINK ${PYTHON} ${venv}/bin/python3 SYMBOLIC)
file(WRITE ${venv}/pyvenv.cfg "home = ${python_bin}\ninclude-system-site-packages = false\n")

file(COPY ${example}/host_bus.xml ${example}/host_plugin.py DESTINATION ${WORK_DIR}/run)
# First with the other CPython first on PATH, then with the caller's PATH in the environment.
foreach(run_env IN ITEMS "PATH=${path}" "VIRTUAL_ENV=${venv}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E env ${run_env}
            ${WORK_DIR}/build/example_host ${WORK_DIR}/run/host_bus.xml
            ${WORK_DIR}/run/host_plugin.py
        WORKING_DIRECTORY ${WORK_DIR}/run
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    # The guide's progress lines, and a partial line of stdio before a later write().
    set(missing)
    foreach(line "plugin 0x" "ProxyPythonPlugin::EXAMPLE\n" "wrote ProxyPluginObject.html\n"
                 "stdout is unbuffered: yes\n" "destroying plugin 0x")
        string(FIND "${out}" "${line}" at)
        if(at EQUAL -1)
            list(APPEND missing "${line}")
        endif()
    endforeach()
    if(NOT status EQUAL 0 OR missing)
        message(FATAL_ERROR "the example host failed (${status}) with ${run_env}, "
                            "missing [${missing}]:\n${out}\n${err}")
    endif()
endforeach()
message(STATUS "${out}")
file(REMOVE_RECURSE ${WORK_DIR})
