# Refuses a vendor host the program could not use, at configure time rather than by an update that silently never
# comes. Included by the top CMakeLists.txt; also runs alone with cmake -DTEMPVARO_VENDOR_HOST=... -P.
if(NOT TEMPVARO_VENDOR_HOST MATCHES "^[A-Za-z0-9.-]+$")
    message(FATAL_ERROR "TEMPVARO_VENDOR_HOST must be a plain host name")
endif()

# The download request is built in a 256-byte buffer with its terminating zero: 119 characters of fixed request
# text, then the folder "/soft/Chronvik/", the file "Chronvik.exe" and the host. These mirror net/http_request.cpp
# and update/update_task.cpp.
set(request_buffer 256)
set(request_fixed_text 119)
string(LENGTH "/soft/Chronvik/" folder_length)
string(LENGTH "Chronvik.exe" file_length)
math(EXPR host_limit "${request_buffer} - 1 - ${request_fixed_text} - ${folder_length} - ${file_length}")
set(dns_name_limit 253)
if(host_limit GREATER dns_name_limit)
    set(host_limit ${dns_name_limit})
endif()
string(LENGTH "${TEMPVARO_VENDOR_HOST}" host_length)
if(host_length GREATER host_limit)
    message(FATAL_ERROR "TEMPVARO_VENDOR_HOST has ${host_length} characters; the update request has room for at most "
                        "${host_limit}")
endif()
