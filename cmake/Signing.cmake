# halvex_sign_after_link(target): when HALVEX_SIGN_CERT is set, signs the target's file
# with osslsigncode right after it is linked, so the signed file is the build's output. The
# signature names the product as its version resource does and points at the support page.
function(halvex_sign_after_link target)
    if(HALVEX_SIGN_CERT STREQUAL "")
        return()
    endif()
    find_program(HALVEX_OSSLSIGNCODE osslsigncode REQUIRED)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${HALVEX_OSSLSIGNCODE}
                -DFILE=$<TARGET_FILE:${target}> -DCERT=${HALVEX_SIGN_CERT} -DKEY=${HALVEX_SIGN_KEY}
                -DTIMESTAMP_URL=${HALVEX_SIGN_TIMESTAMP_URL} "-DDESCRIPTION=Halvex Nefo"
                -DINFO_URL=${HALVEX_SUPPORT_URL} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                -P ${CMAKE_SOURCE_DIR}/cmake/SignFile.cmake
        COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
        VERBATIM)
endfunction()
