# Flags for the project's own targets: warnings as errors, Unicode Win32, and a
# small, reproducible binary (no build paths, no timestamps).
function(halvex_target target)
    target_compile_features(${target} PUBLIC cxx_std_17)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
            -ffunction-sections -fdata-sections
            -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
            -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
        # Optimised builds favour size: nothing here is compute-bound but SHA-256, which
        # runs no slower at -Os than at -O3 (bench/run.sh measures both the size and it).
        target_compile_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:-Os>)
    endif()
    if(WIN32)
        target_compile_definitions(${target} PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
            _WIN32_WINNT=0x0601)
    endif()
endfunction()

function(halvex_executable_flags target)
    if(MINGW)
        target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--no-insert-timestamp -s)
    endif()
endfunction()
