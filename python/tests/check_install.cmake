# Run by ctest (see python/CMakeLists.txt). The plug-in as a user gets it: installed with the
# project by cmake --install, and built and installed by pip offline.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/tests)

function(run_checked)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
    endif()
endfunction()

# A user's test: no plug-in named, no icdhost named; the installed ones are found.
file(WRITE ${WORK_DIR}/tests/test_installed.py "
def test_the_installed_icdhost_runs_the_example(icdhost):
    host = icdhost('${EXAMPLES_DIR}/nav_bus.xml', '${EXAMPLES_DIR}/nav_plugin.py')
    assert host.plugins() == ['0 NAV 4.0.0']
")
set(prefix ${WORK_DIR}/prefix)
run_checked(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run_checked(${CMAKE_COMMAND} -E env --unset=ICDHOST --unset=PYTEST_DISABLE_PLUGIN_AUTOLOAD
    PYTHONPATH=${prefix}/${PACKAGES_DIR} PYTHONDONTWRITEBYTECODE=1
    ${PYTHON} -m pytest -p no:cacheprovider -q ${WORK_DIR}/tests)

# pip, offline, with the system's setuptools: the entry point comes from pyproject.toml. It builds
# in the folder it is given, so it is given a copy.
file(COPY ${SOURCE_DIR}/ DESTINATION ${WORK_DIR}/source PATTERN __pycache__ EXCLUDE)
run_checked(${CMAKE_COMMAND} -E env PIP_ROOT_USER_ACTION=ignore
    ${PYTHON} -m pip install --quiet --no-build-isolation --no-deps --no-index
    --target ${WORK_DIR}/pip ${WORK_DIR}/source)
run_checked(${CMAKE_COMMAND} -E env --unset=PYTEST_DISABLE_PLUGIN_AUTOLOAD
    ICDHOST=${prefix}/bin/icdhost PYTHONPATH=${WORK_DIR}/pip PYTHONDONTWRITEBYTECODE=1
    ${PYTHON} -m pytest -p no:cacheprovider -q ${WORK_DIR}/tests)
file(REMOVE_RECURSE ${WORK_DIR})
