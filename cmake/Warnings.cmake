# Warnings are errors in our own code; third-party headers come in as SYSTEM.
function(qv_strict_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /permissive-)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow
                                                 -Wnon-virtual-dtor -Wno-missing-field-initializers)
    endif()
endfunction()
