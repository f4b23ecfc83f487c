# The polkit action: valid against polkit's own DTD, and holding the values
# pkexec and the program rely on. Run with -DPOLICY=<file> -DDTD=<file>
# -DHELPER=<installed helper path>.
execute_process(COMMAND xmllint --noout --dtdvalid ${DTD} ${POLICY} RESULT_VARIABLE invalid)
if(invalid)
  message(FATAL_ERROR "${POLICY} is not valid against ${DTD}")
endif()

file(READ ${POLICY} policy)
string(REGEX REPLACE "<!--.*-->" "" policy "${policy}")
foreach(expected
    "<action id=\"io.github.tarnwick.Tarnwick.create-system-dsn\">"
    "<message>Authentication is required to create a System DSN for an Access database</message>"
    "<allow_any>auth_admin</allow_any>"
    "<allow_inactive>auth_admin</allow_inactive>"
    "<allow_active>auth_admin_keep</allow_active>"
    "<annotate key=\"org.freedesktop.policykit.exec.path\">${HELPER}</annotate>")
  string(FIND "${policy}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${POLICY} lacks ${expected}")
  endif()
endforeach()
string(REGEX MATCHALL "<action " actions "${policy}")
list(LENGTH actions count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "${POLICY} declares ${count} actions, expected exactly one")
endif()
