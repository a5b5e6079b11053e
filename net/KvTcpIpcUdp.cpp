// KvTcpIpcUdp: the blocking socket, its error texts and the TCP client of the data server.
// Everything runs on the program's one thread and blocks; the waits are short and fixed
// (10 microseconds before a send, 1 second inside a read, the caller's seconds otherwise).
#include "net/KvTcpIpcUdp.h"

#include "base/Runtime.h"

#include <cstdio>
#include <cstring>

namespace {

struct ErrorText {
    int code;
    const char* text;
};

const ErrorText ErrorTexts[] = {
    {0, "No Error"},
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Address not available"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Connection aborted"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, ""},
};

// A flooding peer must not make one read allocate without bound; what is beyond this
// stays waiting for the next read. Replies of the data server are a few bytes.
constexpr u_long MaxReadSize = 1u << 20;

}  // namespace

std::string SocketErrorText(int code) {
    for (const ErrorText& entry : ErrorTexts)
        if (entry.code == code) return entry.text;
    return "Not a WinSock error";
}

bool IsNumeric(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

void StartSocketLibrary() {
    WSADATA data;
    int result = WSAStartup(0x0101, &data);
    if (result != 0) {
        char message[64];
        std::snprintf(message, sizeof message, kvtexts::StartupFailed, result);
        throw RuntimeError(message);
    }
}

// ---- TKvBlockSocket ----

TKvBlockSocket::TKvBlockSocket(TKvErrorSink* errorSink)
    : portText_(kvtexts::UnsetPort), addressText_(kvtexts::UnsetAddress), errorSink_(errorSink) {
    std::memset(&address_, 0, sizeof address_);
}

TKvBlockSocket::~TKvBlockSocket() {
    Close();
    delete[] receiveBuffer_;
}

bool TKvBlockSocket::QueryInterface(const std::type_info& type, void** object) {
    if (!object) return false;
    if (type == typeid(TKvSocketInterface)) {
        *object = static_cast<TKvSocketInterface*>(this);
        AddRef();
        return true;
    }
    *object = nullptr;
    return false;
}

int TKvBlockSocket::AddRef() {
    return ++references_;
}

int TKvBlockSocket::Release() {
    int left = --references_;
    if (left == 0) delete this;
    return left;
}

bool TKvBlockSocket::CanWrite() {
    return WaitSocketWritable(handle_, 0, 10) > 0;
}

void TKvBlockSocket::Disconnect() {
    if (!connected_) return;
    Close();
    // The owner may let go of this socket from inside its handler: call a copy.
    TKvDisconnectEvent event = onDisconnect;
    if (event) event(this);
}

int TKvBlockSocket::Connect() {
    return connect(handle_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_);
}

bool TKvBlockSocket::SendBuf(const void* buffer, std::int32_t length) {
    if (!connected_) throw RuntimeError(kvtexts::NoConnection);
    if (length < 0) return false;
    if (!CanWrite()) return false;
    // A blocking send normally takes everything; should it take less, the rest follows,
    // since a request cut short would put every later reply out of step.
    const char* bytes = static_cast<const char*>(buffer);
    std::int32_t sent = 0;
    while (sent < length) {
        int result = send(handle_, bytes + sent, length - sent, 0);
        if (result <= 0) {
            Disconnect();
            return false;
        }
        sent += result;
    }
    return true;
}

const char* TKvBlockSocket::ReceiveBuf(std::int32_t& size) {
    if (!connected_) throw RuntimeError(kvtexts::NoConnection);
    if (!WaitForData(1)) return nullptr;
    size = 0;
    u_long waiting = 0;
    if (ioctlsocket(handle_, FIONREAD, &waiting) != 0) {
        ReportError(kvtexts::IoctlFailed + GetErrorText());
        return nullptr;
    }
    if (waiting > MaxReadSize) waiting = MaxReadSize;
    delete[] receiveBuffer_;
    receiveBuffer_ = waiting > 0 ? new char[waiting]() : nullptr;
    // Nothing waiting on a readable socket means the peer closed it (or it broke); the read
    // then gives 0 or an error and the socket closes.
    char none = 0;
    int result = recv(handle_, receiveBuffer_ ? receiveBuffer_ : &none, static_cast<int>(waiting), 0);
    size = result;
    if (result > 0) return receiveBuffer_;
    Disconnect();
    return nullptr;
}

bool TKvBlockSocket::WaitForData(std::int32_t seconds) {
    if (handle_ == INVALID_SOCKET) return false;
    return WaitSocketReadable(handle_, seconds, 0) > 0;
}

void TKvBlockSocket::ReadPeerAddress() {
    socklen_t length = sizeof address_;
    if (getpeername(handle_, reinterpret_cast<sockaddr*>(&address_), &length) != 0)
        throw RuntimeError(GetErrorText());
}

std::string TKvBlockSocket::GetPort() {
    if (handle_ == INVALID_SOCKET) return portText_;
    ReadPeerAddress();
    return std::to_string(ntohs(address_.sin_port));
}

std::string TKvBlockSocket::GetAddress() {
    if (handle_ == INVALID_SOCKET) return addressText_;
    ReadPeerAddress();
    return inet_ntoa(address_.sin_addr);
}

void TKvBlockSocket::SetAddress(const std::string& text) {
    std::string trimmed = TrimText(text);
    if (trimmed.empty()) return;
    unsigned long converted = inet_addr(trimmed.c_str());
    if (converted == INADDR_NONE) {
        hostent* host = gethostbyname(trimmed.c_str());
        if (!host || host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list ||
            !host->h_addr_list[0])
            throw RuntimeError(kvtexts::InvalidAddress + trimmed);
        std::memcpy(&address_.sin_addr, host->h_addr_list[0], 4);
        addressText_ = inet_ntoa(address_.sin_addr);
    } else {
        // inet_addr also takes a bare number ("3232235777") as an address; users who type
        // one meant something else.
        if (trimmed.find('.') == std::string::npos)
            throw RuntimeError(kvtexts::InvalidAddress + trimmed);
        address_.sin_addr.s_addr = static_cast<decltype(address_.sin_addr.s_addr)>(converted);
        addressText_ = trimmed;
    }
    address_.sin_family = AF_INET;
}

void TKvBlockSocket::SetPort(const std::string& text) {
    if (connected_) Disconnect();
    std::string trimmed = TrimText(text);
    if (trimmed.empty()) return;
    if (IsNumeric(trimmed)) {
        int number = StrToInt(trimmed);
        address_.sin_port = htons(static_cast<unsigned short>(number & 0xFFFF));
        portText_ = trimmed;
        return;
    }
    servent* service = getservbyname(trimmed.c_str(), nullptr);
    if (!service) throw RuntimeError(kvtexts::InvalidPort + trimmed);
    address_.sin_port = static_cast<unsigned short>(service->s_port);
    portText_ = std::to_string(ntohs(address_.sin_port));
}

std::string TKvBlockSocket::GetErrorText() {
    return SocketErrorText(WSAGetLastError());
}

SOCKET TKvBlockSocket::GetHandle() {
    return handle_;
}

void TKvBlockSocket::SetHandle(SOCKET handle) {
    if (handle_ != INVALID_SOCKET) Disconnect();
    if (handle != INVALID_SOCKET) {
        handle_ = handle;
        connected_ = true;
    }
}

void TKvBlockSocket::Close() {
    if (handle_ == INVALID_SOCKET) return;
    // Whoever asks for the error text next wants the failure that led here, not what the
    // shutdown of a half-made connection says.
    int lastError = WSAGetLastError();
    shutdown(handle_, SD_BOTH);
    closesocket(handle_);
    WSASetLastError(lastError);
    connected_ = false;
    handle_ = INVALID_SOCKET;
    portText_ = kvtexts::UnsetPort;
    addressText_ = kvtexts::UnsetAddress;
}

void TKvBlockSocket::ReportError(const std::string& text) {
    if (errorSink_)
        errorSink_->ReportError(text);
    else if (onError)
        onError(text);
}

// ---- TKvTcpBlockClient ----

TKvTcpBlockClient::TKvTcpBlockClient() {
    socketObject_ = new TKvBlockSocket(nullptr);
    socketObject_->onDisconnect = [this](TKvBlockSocket* socket) { SocketDisconnected(socket); };
    socketInterface_ = TKvSocketRef(socketObject_);
}

TKvTcpBlockClient::~TKvTcpBlockClient() {
    // Someone else may still hold the socket; it must not call back into a client that is gone.
    socketObject_->onDisconnect = nullptr;
}

bool TKvTcpBlockClient::Connect() {
    if (Connected()) return true;
    if (GetServerAddress() == kvtexts::UnsetAddress) throw RuntimeError(kvtexts::AddressNotSet);
    if (GetServerPort() == kvtexts::UnsetPort) throw RuntimeError(kvtexts::PortNotSet);
    SOCKET handle = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (handle == INVALID_SOCKET)
        throw RuntimeError(kvtexts::InvalidSocket + socketInterface_->GetErrorText());
    socketInterface_->SetHandle(handle);
    bool connected = socketInterface_->Connect() == 0;
    // A failed attempt is no lost connection: close quietly, without onDisconnect.
    if (!connected) socketInterface_->Close();
    return connected;
}

bool TKvTcpBlockClient::Connected() {
    return socketInterface_->GetHandle() != INVALID_SOCKET;
}

void TKvTcpBlockClient::Disconnect() {
    socketInterface_->Disconnect();
}

void TKvTcpBlockClient::SetServerAddress(const std::string& text) {
    socketInterface_->SetAddress(text);
}

void TKvTcpBlockClient::SetServerPort(const std::string& text) {
    socketInterface_->SetPort(text);
}

std::string TKvTcpBlockClient::GetServerAddress() {
    return socketInterface_->GetAddress();
}

std::string TKvTcpBlockClient::GetServerPort() {
    return socketInterface_->GetPort();
}

bool TKvTcpBlockClient::SendBuf(const void* buffer, std::int32_t length) {
    return socketInterface_->SendBuf(buffer, length);
}

bool TKvTcpBlockClient::SendText(const std::string& text) {
    // c_str() ends with the zero byte the server waits for.
    return SendBuf(text.c_str(), static_cast<std::int32_t>(text.size() + 1));
}

bool TKvTcpBlockClient::Receive(const char*& data, std::int32_t& size, std::int32_t seconds) {
    if (socketInterface_->WaitForData(seconds)) {
        std::int32_t received = 0;
        const char* bytes = socketInterface_->ReceiveBuf(received);
        if (bytes && received > 0) {
            data = bytes;
            size = received;
            return true;
        }
    }
    data = nullptr;
    size = 0;
    return false;
}

void TKvTcpBlockClient::SetOnError(const TKvErrorEvent& event) {
    socketObject_->onError = event;
}

TKvErrorEvent TKvTcpBlockClient::GetOnError() {
    return socketObject_->onError;
}

void TKvTcpBlockClient::SocketDisconnected(TKvBlockSocket* socket) {
    TKvDisconnectEvent event = onDisconnect;
    if (event) event(socket);
}
