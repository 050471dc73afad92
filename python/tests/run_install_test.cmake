# Installs the build tree into a scratch prefix, then has the Python
# interpreter import the installed qal3 package from that prefix alone and
# read an example event list with it.
file(REMOVE_RECURSE ${QAL3_WORK_DIR})
set(prefix ${QAL3_WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${QAL3_BINARY_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(rc)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
set(script "
import sys, qal3
assert qal3.__file__.startswith(sys.argv[1]), qal3.__file__
import os
folder = os.path.dirname(qal3.__file__)
for typing_file in ('py.typed', '_core.pyi'):
    assert os.path.isfile(os.path.join(folder, typing_file)), typing_file
entries = qal3.read_evlist(sys.argv[2])
assert [e.evtype for e in entries] == [1, 5], entries
print('qal3 from', qal3.__file__, 'read', len(entries), 'entries')
")
# -I: isolated from the user's site folders and PYTHON* variables; -S keeps
# out the system's site folders, so only the prefix can provide qal3.
execute_process(COMMAND ${QAL3_PYTHON} -I -S -c
    "import sys; sys.path.insert(0, sys.argv.pop(1)); exec(sys.argv.pop(1))"
    ${prefix}/${QAL3_PYTHON_DIR} "${script}" ${prefix} ${QAL3_EXAMPLE}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the installed module failed: ${rc}")
endif()
