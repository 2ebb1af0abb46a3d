// A loopback CONNECT relay that WinHTTP uses as its proxy when the TLS
// policy checks certificates itself. WinHTTP's sending-request callback
// runs after the handshake and before the request is written, but closing
// the request handle there does not stop the write on every WinHTTP (Wine
// sends it anyway). The relay does: it carries the handshake through,
// and once the callback refuses the certificate it cuts the upstream
// connection, so nothing written afterwards reaches the server.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarn::tls {

class Gate {
public:
    Gate() = default;
    ~Gate();
    Gate(const Gate &) = delete;
    Gate &operator=(const Gate &) = delete;

    // Listens on a loopback address ("127.0.0.1"); false when it cannot.
    bool start(const char *address);
    // "ADDRESS:PORT", for WinHttpOpen's named proxy.
    const wchar_t *proxy() const { return proxy_; }
    // The verdict on the connection whose handshake just ended.
    void decide(bool pass);

    enum State : int { kUndecided, kOpen, kShut };
    struct Link {
        SOCKET client = INVALID_SOCKET;
        std::atomic<int> state{kUndecided};
    };

private:
    void accept_loop();
    void relay(Link *link);

    SOCKET listener_ = INVALID_SOCKET;
    bool wsa_ = false;
    wchar_t proxy_[32] = L"";
    std::atomic<bool> stopping_{false};
    std::mutex mu_;
    std::vector<std::unique_ptr<Link>> links_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace tarn::tls
