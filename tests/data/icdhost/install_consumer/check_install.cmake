# Run by ctest (see cmake/Install.cmake): installs the build into WORK_DIR/prefix, builds the
# consumer host against the installed package and runs it, then runs the installed icdhost on the
# example with its default plug-in library.
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
foreach(file include/icdhost/ICDHandler.h include/icdhost/plugin/ProxyPythonPluginNS.h
             share/doc/ProxyPythonPlugin/scripting.md share/doc/ProxyPythonPlugin/icdhost.md
             share/doc/ProxyPythonPlugin/examples/nav_plugin.py bin/icdhost)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

# A CPython other than the system's is found again where the build found it.
set(python_root)
if(Python3_ROOT_DIR)
    set(python_root -DPython3_ROOT_DIR=${Python3_ROOT_DIR})
endif()
run_checked(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer
    -DCMAKE_PREFIX_PATH=${prefix} -DPython3_EXECUTABLE=${Python3_EXECUTABLE} ${python_root})
run_checked(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run_checked(${WORK_DIR}/consumer/consumer ${EXAMPLES_DIR}/nav_bus.xml)
expect_in("icd NAV_BUS clock 20000")
expect_in("plug-in API $Revision: 122971 $ P8.8")

file(COPY ${EXAMPLES_DIR}/ DESTINATION ${WORK_DIR}/examples PATTERN ProxyPluginObject.html EXCLUDE)
run_checked(${prefix}/bin/icdhost --icd ${WORK_DIR}/examples/nav_bus.xml
    --script ${WORK_DIR}/examples/nav_plugin.py -c "plugins")
expect_in("0 NAV 4.0.0")
file(REMOVE_RECURSE ${WORK_DIR})
