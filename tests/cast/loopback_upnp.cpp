// Preloaded into the test's UPnP renderer (libupnp), which refuses loopback
// interfaces and those without multicast: "lo" is reported as a multicast
// interface like any other, and every multicast it sends goes out on "lo"
// (IPv6 multicast is dropped), so that the renderer and the test talk over
// loopback and nothing leaves the machine.
#include <arpa/inet.h>
#include <cstdarg>
#include <cstring>
#include <dlfcn.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    using Ioctl = int (*)(int, unsigned long, void *);
    static Ioctl real = nullptr;
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (!real)
        real = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    int result = real(fd, request, arg);
    if (result == 0 && request == SIOCGIFFLAGS) {
        auto *req = static_cast<struct ifreq *>(arg);
        if (std::strcmp(req->ifr_name, "lo") == 0) {
            req->ifr_flags &= ~IFF_LOOPBACK;
            req->ifr_flags |= IFF_MULTICAST;
        }
    }
    return result;
}

extern "C" ssize_t sendto(int fd, const void *buffer, size_t size, int flags,
                          const struct sockaddr *to, socklen_t length)
{
    using Sendto = ssize_t (*)(int, const void *, size_t, int, const struct sockaddr *, socklen_t);
    static Sendto real = nullptr;
    if (!real)
        real = reinterpret_cast<Sendto>(dlsym(RTLD_NEXT, "sendto"));
    if (to && to->sa_family == AF_INET6 &&
        IN6_IS_ADDR_MULTICAST(&reinterpret_cast<const sockaddr_in6 *>(to)->sin6_addr))
        return ssize_t(size);
    if (to && to->sa_family == AF_INET &&
        IN_MULTICAST(ntohl(reinterpret_cast<const sockaddr_in *>(to)->sin_addr.s_addr))) {
        in_addr loopback{};
        loopback.s_addr = htonl(INADDR_LOOPBACK);
        const unsigned char loop = 1;
        if (setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback) != 0 ||
            setsockopt(fd, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0)
            return -1;
    }
    return real(fd, buffer, size, flags, to, length);
}
