#include "web/microhttpd.h"

#include <dlfcn.h>

#include <mutex>

using namespace Qt::StringLiterals;

namespace {

template <typename Function> bool find(void *library, const char *name, Function &function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

} // namespace

const MicroHttpd *MicroHttpd::load(QString *error)
{
    static MicroHttpd functions{};
    static QString problem;
    static std::once_flag loaded;
    std::call_once(loaded, [] {
        void *library = dlopen("libmicrohttpd.so.12", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            problem = u"The web face needs libmicrohttpd (Debian: libmicrohttpd12): %1"_s.arg(
                QString::fromLocal8Bit(dlerror()));
            return;
        }
        MicroHttpd &f = functions;
        const bool all = find(library, "MHD_start_daemon", f.start_daemon) &&
                         find(library, "MHD_stop_daemon", f.stop_daemon) &&
                         find(library, "MHD_get_daemon_info", f.get_daemon_info) &&
                         find(library, "MHD_lookup_connection_value", f.lookup_connection_value) &&
                         find(library, "MHD_get_connection_values", f.get_connection_values) &&
                         find(library, "MHD_get_connection_info", f.get_connection_info) &&
                         find(library, "MHD_create_response_from_buffer_with_free_callback_cls", f.create_response) &&
                         find(library, "MHD_add_response_header", f.add_response_header) &&
                         find(library, "MHD_queue_response", f.queue_response) &&
                         find(library, "MHD_destroy_response", f.destroy_response) &&
                         find(library, "MHD_suspend_connection", f.suspend_connection) &&
                         find(library, "MHD_resume_connection", f.resume_connection) &&
                         find(library, "MHD_create_post_processor", f.create_post_processor) &&
                         find(library, "MHD_post_process", f.post_process) &&
                         find(library, "MHD_destroy_post_processor", f.destroy_post_processor);
        if (!all)
            problem = u"The libmicrohttpd of this machine is older than the web face needs (0.9.75 or later)"_s;
    });
    if (!problem.isEmpty()) {
        *error = problem;
        return nullptr;
    }
    return &functions;
}
