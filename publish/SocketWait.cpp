#include "publish/SocketWait.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using NativeSocket = SOCKET;
const NativeSocket kNoSocket = INVALID_SOCKET;

void CloseSocket(NativeSocket socket) {
    closesocket(socket);
}

bool MakeNonBlocking(NativeSocket socket) {
    u_long on = 1;
    return ioctlsocket(socket, FIONBIO, &on) == 0;
}

NativeSocket OpenDatagramSocket() {
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}
#else
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;

void CloseSocket(NativeSocket socket) {
    close(socket);
}

bool MakeNonBlocking(NativeSocket socket) {
    const int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

NativeSocket OpenDatagramSocket() {
    return ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}
#endif

NativeSocket Native(std::intptr_t handle) {
    return static_cast<NativeSocket>(handle);
}

// A UDP socket bound to a free loopback port and connected to itself, non-blocking.
NativeSocket OpenSelfConnected() {
    const NativeSocket socket = OpenDatagramSocket();
    if (socket == kNoSocket) {
        return kNoSocket;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (bind(socket, generic, sizeof address) != 0 || getsockname(socket, generic, &length) != 0 ||
        connect(socket, generic, sizeof address) != 0 || !MakeNonBlocking(socket)) {
        CloseSocket(socket);
        return kNoSocket;
    }
    return socket;
}

}  // namespace

LoopbackWaker::LoopbackWaker() : handle(static_cast<std::intptr_t>(OpenSelfConnected())) {}

LoopbackWaker::~LoopbackWaker() {
    if (Valid()) {
        CloseSocket(Native(handle));
    }
}

bool LoopbackWaker::Valid() const {
    return Native(handle) != kNoSocket;
}

void LoopbackWaker::Notify() {
    if (Valid() && !pending.exchange(true)) {
        const char signal = 1;
        send(Native(handle), &signal, 1, 0);
    }
}

// Clears the flag only once the datagrams are read, so a Notify meanwhile is not lost: its state
// change came before, and the waiting thread looks at the state after this.
void LoopbackWaker::Drain() {
    char buffer[16];
    while (recv(Native(handle), buffer, sizeof buffer, 0) > 0) {
    }
    pending = false;
}

#ifdef _WIN32

// select(), which reports a connection that failed among the exceptions (WSAPoll, in some
// Windows versions, not at all).
SocketReadiness SocketWait::Wait(LoopbackWaker& waker, int socket, bool read, bool write,
                                 std::chrono::milliseconds timeout) {
    fd_set reads;
    fd_set writes;
    fd_set failures;
    FD_ZERO(&reads);
    FD_ZERO(&writes);
    FD_ZERO(&failures);
    const NativeSocket wake = Native(waker.handle);
    const NativeSocket watched = socket >= 0 ? static_cast<NativeSocket>(socket) : kNoSocket;
    FD_SET(wake, &reads);
    if (watched != kNoSocket) {
        if (read) {
            FD_SET(watched, &reads);
        }
        if (write) {
            FD_SET(watched, &writes);
            FD_SET(watched, &failures);
        }
    }
    timeval wait{};
    wait.tv_sec = static_cast<long>(timeout.count() / 1000);
    wait.tv_usec = static_cast<long>(timeout.count() % 1000 * 1000);
    SocketReadiness readiness;
    if (select(0, &reads, &writes, &failures, &wait) <= 0) {
        return readiness;
    }
    if (FD_ISSET(wake, &reads)) {
        waker.Drain();
    }
    if (watched != kNoSocket) {
        readiness.readable = FD_ISSET(watched, &reads);
        readiness.writable = FD_ISSET(watched, &writes);
        if (FD_ISSET(watched, &failures)) {
            int error = 0;
            int length = sizeof error;
            getsockopt(watched, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            readiness.error = error != 0 ? error : WSAECONNREFUSED;
        }
    }
    return readiness;
}

#else

SocketReadiness SocketWait::Wait(LoopbackWaker& waker, int socket, bool read, bool write,
                                 std::chrono::milliseconds timeout) {
    pollfd watched[2] = {};
    watched[0].fd = Native(waker.handle);
    watched[0].events = POLLIN;
    watched[1].fd = socket;  // poll skips a negative one
    watched[1].events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
    SocketReadiness readiness;
    if (poll(watched, 2, static_cast<int>(timeout.count())) <= 0) {
        return readiness;
    }
    if ((watched[0].revents & POLLIN) != 0) {
        waker.Drain();
    }
    // A failure shows as readable: reading it tells the error.
    readiness.readable = (watched[1].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
    readiness.writable = (watched[1].revents & POLLOUT) != 0;
    return readiness;
}

#endif
