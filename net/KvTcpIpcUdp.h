// KvTcpIpcUdp: the blocking IPv4 TCP socket (TKvBlockSocket, used through the counted
// interface TKvSocketInterface), its error texts, and the TCP client for one data server
// (TKvTcpBlockClient). Misuse and failed set-up raise RuntimeError; failed transfers are
// reported by results and by closing the socket. Unlike a bare shutdown, Close also hands
// the handle back to the system, so endless reconnection attempts do not run out of handles.
#pragma once

#include "platform/Sockets.h"

#include <cstdint>
#include <functional>
#include <string>
#include <typeinfo>
#include <utility>

class TKvBlockSocket;

// Texts shown while the server's address or port has not been set.
namespace kvtexts {
inline constexpr char UnsetAddress[] = "<unknown>";
inline constexpr char UnsetPort[] = "<unset>";
inline constexpr char NoConnection[] = "No connection established";
inline constexpr char InvalidAddress[] = "Invalid address: ";
inline constexpr char InvalidPort[] = "Invalid port: ";
inline constexpr char AddressNotSet[] = "Server-address not set.";
inline constexpr char PortNotSet[] = "Server-port not set";
inline constexpr char InvalidSocket[] = "Invalid socket returned, message: ";
inline constexpr char IoctlFailed[] = "Ioctl went wrong, message: ";
inline constexpr char StartupFailed[] = "WSAStartup error #%d";
}  // namespace kvtexts

// The text of a Windows Sockets error number ("Connection refused" for 10061, the empty
// text for 11004, "Not a WinSock error" for numbers not in the table).
std::string SocketErrorText(int code);

// True when the text is not empty and holds only the digits 0 to 9.
bool IsNumeric(const std::string& text);

// Starts the socket library (version 1.1) once, when the program starts.
// Raises RuntimeError "WSAStartup error #%d" when the library refuses.
void StartSocketLibrary();

// Receives the error reports of a socket that was given one at construction.
class TKvErrorSink {
public:
    virtual ~TKvErrorSink() = default;
    virtual void ReportError(const std::string& text) = 0;
};

using TKvErrorEvent = std::function<void(const std::string& text)>;
using TKvDisconnectEvent = std::function<void(TKvBlockSocket* socket)>;

// The socket as its owner sees it. Reference-counted: the object goes when the last
// reference is released. No interface identifier: only this interface itself can be asked for.
class TKvSocketInterface {
public:
    virtual bool QueryInterface(const std::type_info& type, void** object) = 0;
    virtual int AddRef() = 0;
    virtual int Release() = 0;

    virtual void Disconnect() = 0;
    virtual int Connect() = 0;
    virtual bool SendBuf(const void* buffer, std::int32_t length) = 0;
    virtual const char* ReceiveBuf(std::int32_t& size) = 0;
    virtual bool WaitForData(std::int32_t seconds) = 0;
    virtual std::string GetPort() = 0;
    virtual void SetAddress(const std::string& text) = 0;
    virtual std::string GetAddress() = 0;
    virtual std::string GetErrorText() = 0;
    virtual SOCKET GetHandle() = 0;
    virtual void SetHandle(SOCKET handle) = 0;
    virtual void SetPort(const std::string& text) = 0;
    virtual void Close() = 0;

protected:
    virtual ~TKvSocketInterface() = default;
};

// A counted reference to a socket interface: adds a reference when it takes one, releases
// it when it lets go.
class TKvSocketRef {
public:
    TKvSocketRef() = default;
    explicit TKvSocketRef(TKvSocketInterface* target) : target_(target) {
        if (target_) target_->AddRef();
    }
    TKvSocketRef(const TKvSocketRef& other) : TKvSocketRef(other.target_) {}
    TKvSocketRef& operator=(const TKvSocketRef& other) {
        TKvSocketRef copy(other);
        std::swap(target_, copy.target_);
        return *this;
    }
    ~TKvSocketRef() {
        if (target_) target_->Release();
    }
    TKvSocketInterface* operator->() const { return target_; }
    TKvSocketInterface* Get() const { return target_; }
    explicit operator bool() const { return target_ != nullptr; }

private:
    TKvSocketInterface* target_ = nullptr;
};

// One blocking IPv4 TCP socket. Operations the interface carries out "plainly" are final
// here; the others a descendant may override, and the interface then follows the override.
class TKvBlockSocket : public TKvSocketInterface {
public:
    explicit TKvBlockSocket(TKvErrorSink* errorSink = nullptr);
    TKvBlockSocket(const TKvBlockSocket&) = delete;
    TKvBlockSocket& operator=(const TKvBlockSocket&) = delete;

    bool QueryInterface(const std::type_info& type, void** object) override;
    int AddRef() final;
    int Release() final;

    // Writable within 10 microseconds. Only asked while a socket exists.
    virtual bool CanWrite();
    // Closes a connected socket and fires onDisconnect; without a socket nothing happens.
    void Disconnect() override;
    // One blocking connect to the address record: 0 on success, SOCKET_ERROR on failure.
    int Connect() override;
    // Sends the bytes; false when the socket is not writable now (nothing sent, connection
    // kept) or the send failed (socket closed). Raises "No connection established".
    bool SendBuf(const void* buffer, std::int32_t length) override;
    // Everything waiting on the socket, read at once; nullptr when nothing came within a
    // second, or the peer closed or the read failed (socket closed then). The data stay
    // valid until the next ReceiveBuf. Raises "No connection established".
    const char* ReceiveBuf(std::int32_t& size) override;
    // Readable within the seconds; false at once without a socket.
    bool WaitForData(std::int32_t seconds) override;
    std::string GetPort() override;
    void SetAddress(const std::string& text) final;
    std::string GetAddress() override;
    std::string GetErrorText() final;
    SOCKET GetHandle() final;
    void SetHandle(SOCKET handle) final;
    void SetPort(const std::string& text) final;
    void Close() override;

    // Hands an error text to the sink, else to onError, else drops it.
    void ReportError(const std::string& text);

    // Where Connect goes: survives Close, unlike the texts.
    const sockaddr_in& AddressRecord() const { return address_; }

    TKvErrorEvent onError;
    TKvDisconnectEvent onDisconnect;

protected:
    ~TKvBlockSocket() override;

private:
    SOCKET handle_ = INVALID_SOCKET;
    bool connected_ = false;
    sockaddr_in address_{};
    std::string portText_;
    std::string addressText_;
    char* receiveBuffer_ = nullptr;
    TKvErrorSink* errorSink_ = nullptr;
    int references_ = 0;

    void ReadPeerAddress();
};

// The instrument's connection to the data server: one socket, made on demand.
class TKvTcpBlockClient {
public:
    TKvTcpBlockClient();
    virtual ~TKvTcpBlockClient();
    TKvTcpBlockClient(const TKvTcpBlockClient&) = delete;
    TKvTcpBlockClient& operator=(const TKvTcpBlockClient&) = delete;

    // Connects unless connected already; true when connected afterwards. A failed attempt
    // closes its socket and puts the address and port texts back at their unset markers.
    bool Connect();
    bool Connected();
    // Ends the connection as a lost one: the socket closes and onDisconnect fires.
    void Disconnect();
    void SetServerAddress(const std::string& text);
    void SetServerPort(const std::string& text);
    std::string GetServerAddress();
    std::string GetServerPort();
    bool SendBuf(const void* buffer, std::int32_t length);
    // Sends the text and one zero byte.
    bool SendText(const std::string& text);
    // Waits up to the seconds for data and reads what is waiting; false with data nullptr
    // and size 0 when nothing came (or the connection ended, or there is none).
    bool Receive(const char*& data, std::int32_t& size, std::int32_t seconds);
    virtual void SetOnError(const TKvErrorEvent& event);
    virtual TKvErrorEvent GetOnError();
    // The socket, for those who need its handle or its own operations.
    TKvSocketInterface* Socket() const { return socketInterface_.Get(); }

    TKvDisconnectEvent onDisconnect;

private:
    TKvSocketRef socketInterface_;
    TKvBlockSocket* socketObject_ = nullptr;

    void SocketDisconnected(TKvBlockSocket* socket);
};
