# Signs FILE in place with osslsigncode: SHA-256, DESCRIPTION and INFO_URL in the signature,
# CERT and KEY as PEM files or CERT as PKCS#12 (KEY empty). The key's password comes from the
# environment variable HALVEX_SIGN_PASSWORD, through a file only the builder can read, never
# on a command line. The signing time is SOURCE_DATE_EPOCH or the commit's time, so two
# builds of one commit with one key give the same bytes (unless TIMESTAMP_URL adds a
# time-stamp, which a server dates as it answers).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(signing_time "$ENV{SOURCE_DATE_EPOCH}")
else()
    execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct
        OUTPUT_VARIABLE signing_time OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE git_result ERROR_QUIET)
    if(NOT git_result EQUAL 0)
        set(signing_time "")
    endif()
endif()
if(NOT signing_time MATCHES "^[0-9]+$")
    message(FATAL_ERROR "Signing needs a fixed signing time: set SOURCE_DATE_EPOCH "
        "(seconds since 1970) or build from a git checkout")
endif()

if(CERT MATCHES "\\.(p12|pfx)$")
    set(credentials -pkcs12 ${CERT})
else()
    if(KEY STREQUAL "")
        message(FATAL_ERROR "HALVEX_SIGN_KEY is not set: a PEM certificate needs its key")
    endif()
    set(credentials -certs ${CERT} -key ${KEY})
endif()

set(password_dir ${FILE}.sign)
file(REMOVE_RECURSE ${password_dir})
if(DEFINED ENV{HALVEX_SIGN_PASSWORD})
    # The folder is closed to others before the password is written into it.
    file(MAKE_DIRECTORY ${password_dir})
    file(CHMOD ${password_dir} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    file(WRITE ${password_dir}/password "$ENV{HALVEX_SIGN_PASSWORD}")
    list(APPEND credentials -readpass ${password_dir}/password)
endif()

set(timestamp "")
if(NOT TIMESTAMP_URL STREQUAL "")
    set(timestamp -ts ${TIMESTAMP_URL})
endif()

execute_process(COMMAND ${OSSLSIGNCODE} sign ${credentials} -h sha256 -n ${DESCRIPTION}
        -i ${INFO_URL} -time ${signing_time} ${timestamp} -in ${FILE} -out ${FILE}.signed
    RESULT_VARIABLE sign_result OUTPUT_VARIABLE sign_output ERROR_VARIABLE sign_output)
file(REMOVE_RECURSE ${password_dir})
if(NOT sign_result EQUAL 0)
    # No unsigned file may pass for the signed output.
    file(REMOVE ${FILE}.signed ${FILE})
    message(FATAL_ERROR "osslsigncode could not sign ${FILE}:\n${sign_output}")
endif()
file(RENAME ${FILE}.signed ${FILE})
file(CHMOD ${FILE} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
