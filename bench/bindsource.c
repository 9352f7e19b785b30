/* Binds every IPv4 TCP socket a program connects to a source address taken in
 * turn from BIND_SOURCES ("127.0.0.2,127.0.0.3,..."), so that one load
 * generator's connections come from several loopback addresses.
 * bench/webface-hostile.py builds it at run time and sets LD_PRELOAD:
 *
 *   cc -shared -fPIC -o bindsource.so bench/bindsource.c -ldl
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#define MAX_SOURCES 256

static struct in_addr sources[MAX_SOURCES];
static int source_count;
static unsigned next_source;
static int (*real_connect)(int, const struct sockaddr *, socklen_t);

__attribute__((constructor)) static void read_sources(void)
{
    real_connect = (int (*)(int, const struct sockaddr *, socklen_t))dlsym(RTLD_NEXT, "connect");
    const char *list = getenv("BIND_SOURCES");
    if (!list)
        return;
    char *copy = strdup(list), *saved = NULL;
    for (char *item = strtok_r(copy, ",", &saved); item && source_count < MAX_SOURCES;
         item = strtok_r(NULL, ",", &saved)) {
        if (inet_pton(AF_INET, item, &sources[source_count]) == 1)
            ++source_count;
    }
    free(copy);
}

int connect(int fd, const struct sockaddr *address, socklen_t length)
{
    int type = 0;
    socklen_t type_length = sizeof type;
    struct sockaddr_in bound;
    socklen_t bound_length = sizeof bound;
    if (source_count > 0 && address && address->sa_family == AF_INET &&
        getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &type_length) == 0 && type == SOCK_STREAM &&
        getsockname(fd, (struct sockaddr *)&bound, &bound_length) == 0 && bound.sin_port == 0) {
        struct sockaddr_in source = {.sin_family = AF_INET, .sin_port = 0};
        source.sin_addr = sources[__atomic_fetch_add(&next_source, 1, __ATOMIC_RELAXED) % (unsigned)source_count];
        bind(fd, (struct sockaddr *)&source, sizeof source); /* a failure leaves the kernel's choice */
    }
    return real_connect(fd, address, length);
}
