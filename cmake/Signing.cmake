# halvex_sign_after_link(target): when HALVEX_SIGN_CERT is set, signs the target's file
# with osslsigncode right after it is linked, so the signed file is the build's output. The
# signature names the product as its version resource does and points at the support page.
function(halvex_sign_after_link target)
    if(HALVEX_SIGN_CERT STREQUAL "")
        return()
    endif()
    find_program(HALVEX_OSSLSIGNCODE osslsigncode REQUIRED)
    # A comment takes no generator expressions (before CMake 3.26): name the file here.
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${HALVEX_OSSLSIGNCODE}
                -DFILE=$<TARGET_FILE:${target}> -DCERT=${HALVEX_SIGN_CERT} -DKEY=${HALVEX_SIGN_KEY}
                -DTIMESTAMP_URL=${HALVEX_SIGN_TIMESTAMP_URL} "-DDESCRIPTION=Halvex Nefo"
                -DINFO_URL=${HALVEX_SUPPORT_URL} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                -P ${CMAKE_SOURCE_DIR}/cmake/SignFile.cmake
        COMMENT "Signing ${name}${CMAKE_EXECUTABLE_SUFFIX}"
        VERBATIM)
endfunction()
