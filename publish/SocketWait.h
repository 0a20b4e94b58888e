// Waiting on a network socket and on a wake-up from other threads at once, the same way on every
// platform: the wake-up is a UDP socket on the loopback interface that sends to itself, so one
// select() covers both.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

class LoopbackWaker {
public:
    LoopbackWaker();  // the sockets must work already (on Windows: after WSAStartup)
    ~LoopbackWaker();
    LoopbackWaker(const LoopbackWaker&) = delete;
    LoopbackWaker& operator=(const LoopbackWaker&) = delete;

    // False when the system gave no socket for it; then Notify does nothing.
    bool Valid() const;
    // Any thread. At most one wake-up is pending at a time.
    void Notify();

private:
    friend struct SocketWait;
    void Drain();

    std::intptr_t handle;
    std::atomic<bool> pending{false};
};

struct SocketReadiness {
    bool readable = false;
    bool writable = false;
    int error = 0;  // the system's error of a connection that failed (Windows reports it apart)
};

struct SocketWait {
    // Waits up to timeout until waker has been notified or socket (a descriptor; -1: none) is
    // readable (when read), writable (when write) or has failed. Takes the waker's wake-up.
    // Meant for one thread per waker.
    static SocketReadiness Wait(LoopbackWaker& waker, int socket, bool read, bool write,
                                std::chrono::milliseconds timeout);
};
