#pragma once

#include <microhttpd.h>

#include <QString>

// libmicrohttpd, loaded when the web face starts rather than with the program:
// it brings GnuTLS and its libraries, a few megabytes a server without the web
// face would carry for nothing. Only the functions the web face calls.
struct MicroHttpd
{
    decltype(&MHD_start_daemon) start_daemon;
    decltype(&MHD_stop_daemon) stop_daemon;
    decltype(&MHD_get_daemon_info) get_daemon_info;
    decltype(&MHD_lookup_connection_value) lookup_connection_value;
    decltype(&MHD_get_connection_values) get_connection_values;
    decltype(&MHD_get_connection_info) get_connection_info;
    decltype(&MHD_create_response_from_buffer_with_free_callback_cls) create_response;
    decltype(&MHD_add_response_header) add_response_header;
    decltype(&MHD_queue_response) queue_response;
    decltype(&MHD_destroy_response) destroy_response;
    decltype(&MHD_suspend_connection) suspend_connection;
    decltype(&MHD_resume_connection) resume_connection;
    decltype(&MHD_create_post_processor) create_post_processor;
    decltype(&MHD_post_process) post_process;
    decltype(&MHD_destroy_post_processor) destroy_post_processor;

    // The library, loaded once; nullptr and why when it cannot be.
    [[nodiscard]] static const MicroHttpd *load(QString *error);
};
