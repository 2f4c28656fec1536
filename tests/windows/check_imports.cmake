cmake_minimum_required(VERSION 3.25)
# Fails unless DLL imports from system DLLs and snmpapi.dll only. "System DLLs"
# are those every supported Windows ships in System32: KERNEL32, USER32,
# ADVAPI32 and msvcrt (the C runtime of the system, which mingw-w64 links
# against; it is not a redistributable runtime). A C++ runtime DLL
# (libstdc++, libgcc, libwinpthread) or any other DLL means the static
# runtime link was lost.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(allowed kernel32.dll user32.dll advapi32.dll msvcrt.dll snmpapi.dll)
set(seen "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^DLL Name: " "" name "${line}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" lower)
    if(NOT lower IN_LIST allowed)
        message(FATAL_ERROR "${DLL} imports ${name}, which is not a system DLL")
    endif()
    list(APPEND seen ${lower})
endforeach()
foreach(required kernel32.dll snmpapi.dll)
    if(NOT required IN_LIST seen)
        message(FATAL_ERROR "${DLL} does not import ${required}")
    endif()
endforeach()
message(STATUS "imports of ${DLL}: ${seen}")
