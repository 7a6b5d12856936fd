# halvex_delay_import(dll): an interface target `delay_<dll>` that links the DLL so it is
# loaded on first use instead of at process start. wWinMain limits the DLL search to
# System32 first, so a same-named DLL planted beside the exe is never loaded. Used for
# the DLLs that are not among Windows' known DLLs.
function(halvex_delay_import dll)
    if(TARGET delay_${dll})
        return()
    endif()
    add_library(delay_${dll} INTERFACE)
    if(MSVC)
        target_link_libraries(delay_${dll} INTERFACE ${dll} delayimp)
        target_link_options(delay_${dll} INTERFACE /DELAYLOAD:${dll}.dll)
        return()
    endif()
    find_library(HALVEX_IMPLIB_${dll} NAMES lib${dll}.a REQUIRED)
    set(dir ${CMAKE_BINARY_DIR}/delayload)
    set(def ${dir}/${dll}.def)
    set(lib ${dir}/lib${dll}_delay.a)
    if(HALVEX_LINKER_DELAYLOAD)
        # LLD builds the delay-import tables itself, from a short import library. Given
        # dlltool's tables it would merge their address table into read-only .rdata, and the
        # first call into the DLL would fault writing the resolved address.
        set(make_lib ${CMAKE_DLLTOOL} -m i386:x86-64 -d ${def} -l ${lib} -D ${dll}.dll)
        target_link_options(delay_${dll} INTERFACE -Wl,--delayload=${dll}.dll)
    else()
        set(make_lib ${CMAKE_DLLTOOL} --input-def ${def} --output-delaylib ${lib}
            --dllname ${dll}.dll)
    endif()
    add_custom_command(OUTPUT ${lib}
        COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DIMPLIB=${HALVEX_IMPLIB_${dll}}
                -DDLL=${dll}.dll -DDEF=${def} -P ${CMAKE_SOURCE_DIR}/cmake/MakeDelayDef.cmake
        COMMAND ${make_lib}
        DEPENDS ${CMAKE_SOURCE_DIR}/cmake/MakeDelayDef.cmake
        VERBATIM)
    add_custom_target(delay_${dll}_lib DEPENDS ${lib})
    add_dependencies(delay_${dll} delay_${dll}_lib)
    target_link_libraries(delay_${dll} INTERFACE ${lib})
endfunction()
