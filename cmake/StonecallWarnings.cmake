# Every target of ours builds with the same warnings; CI turns them into errors.
function(stonecall_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
    if(STONECALL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
