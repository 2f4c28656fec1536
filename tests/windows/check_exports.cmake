cmake_minimum_required(VERSION 3.25)
# Fails unless DLL is an x86-64 PE image exporting every entry point of the
# SNMP service and every application function, by name.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
if(NOT dump MATCHES "file format pei-x86-64")
    message(FATAL_ERROR "${DLL} is not an x86-64 PE image")
endif()

# The export name table lists "[ordinal] name" lines after its heading.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
    message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${start} -1 table)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
set(names "")
foreach(entry IN LISTS entries)
    string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${entry}")
    list(APPEND names "${name}")
endforeach()

# C entry points keep their plain names.
foreach(required SnmpExtensionInit SnmpExtensionInitEx SnmpExtensionQuery SnmpExtensionTrap SnmpExtensionClose)
    if(NOT required IN_LIST names)
        message(FATAL_ERROR "missing C export ${required}")
    endif()
endforeach()

# C++ exports are compared in demangled form.
list(JOIN names "\n" joined)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/exports.txt "${joined}\n")
execute_process(COMMAND ${CXXFILT} INPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/exports.txt
    OUTPUT_VARIABLE demangled RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "c++filt failed")
endif()
string(REPLACE "\n" ";" demangled_list "${demangled}")
set(required_cxx
    "SnmpSharedMemory::GetInstance()"
    "SnmpSharedMemory::SetSharedMemoryBasePointer(QVSNMP_COMBufferHeaderLine*)"
    "SnmpSharedMemory::GetSharedMemoryBasePointer()"
    "SnmpSharedMemory::SetSharedMemoryInputPointer(unsigned int, void*)"
    "SnmpSharedMemory::GetSharedMemoryInputPointer(unsigned int)"
    "SnmpSharedMemory::SetSharedMemoryOutputPointer(unsigned int, void*)"
    "SnmpSharedMemory::GetSharedMemoryOutputPointer(unsigned int)"
    "SnmpSharedMemory::SnmpSharedMemory()"
    "SnmpSharedMemory::~SnmpSharedMemory()"
    "SnmpSharedMemory::operator=(SnmpSharedMemory const&)"
    "SnmpSession::GetCurrentSnmpSessionId(unsigned short, signed char, signed char)"
    "SnmpSession::FreeSessionId(signed char)"
    "SnmpTime::Init()"
    "SnmpTime::GetTime()"
    "SnmpLog::LogMessage(CString, int)"
    "SnmpLog::IsLogEnabled()")
foreach(required IN LISTS required_cxx)
    if(NOT required IN_LIST demangled_list)
        message(FATAL_ERROR "missing C++ export ${required}")
    endif()
endforeach()
list(LENGTH names count)
message(STATUS "${count} exports checked in ${DLL}")
