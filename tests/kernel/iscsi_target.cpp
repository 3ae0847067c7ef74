#include "kernel/iscsi_target.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <map>

#include "wire/byte_order.h"

namespace kestrel::kernelloop {

namespace {

using bytes::GetBe32;
using bytes::PutBe32;

constexpr size_t kHeader = 48;
constexpr uint32_t kNoTag = 0xFFFFFFFF;
constexpr uint32_t kOurMaxRecv = 262144;
constexpr uint32_t kCommandWindow = 32;

namespace op {
constexpr uint8_t kNopOut = 0x00, kCommand = 0x01, kTaskManagement = 0x02, kLogin = 0x03, kText = 0x04,
                  kDataOut = 0x05, kLogout = 0x06;
constexpr uint8_t kNopIn = 0x20, kResponse = 0x21, kTaskResponse = 0x22, kLoginResponse = 0x23,
                  kTextResponse = 0x24, kDataIn = 0x25, kLogoutResponse = 0x26, kR2T = 0x31, kReject = 0x3F;
}  // namespace op

struct Pdu {
    std::array<uint8_t, kHeader> header{};
    std::vector<uint8_t> data;
    uint8_t Opcode() const { return header[0] & 0x3F; }
    bool Immediate() const { return header[0] & 0x40; }
    uint32_t Tag() const { return GetBe32(header.data() + 16); }
};

bool ReadAll(int fd, uint8_t* to, size_t length) {
    while (length) {
        const ssize_t n = ::read(fd, to, length);
        if (n <= 0) return false;
        to += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* from, size_t length) {
    while (length) {
        const ssize_t n = ::send(fd, from, length, MSG_NOSIGNAL);
        if (n <= 0) return false;
        from += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool Receive(int fd, Pdu& pdu) {
    if (!ReadAll(fd, pdu.header.data(), kHeader)) return false;
    const size_t ahs = size_t{pdu.header[4]} * 4;
    const size_t length = bytes::GetBe24(pdu.header.data() + 5);
    std::vector<uint8_t> skip(ahs);
    if (ahs && !ReadAll(fd, skip.data(), ahs)) return false;
    pdu.data.resize((length + 3) & ~size_t{3});
    if (!pdu.data.empty() && !ReadAll(fd, pdu.data.data(), pdu.data.size())) return false;
    pdu.data.resize(length);
    return true;
}

bool Send(int fd, std::array<uint8_t, kHeader> header, std::span<const uint8_t> data = {}) {
    bytes::PutBe24(header.data() + 5, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.resize((bytes.size() + 3) & ~size_t{3}, 0);
    return WriteAll(fd, bytes.data(), bytes.size());
}

std::map<std::string, std::string> Keys(const std::vector<uint8_t>& data) {
    std::map<std::string, std::string> keys;
    size_t at = 0;
    while (at < data.size()) {
        const auto end = std::find(data.begin() + static_cast<long>(at), data.end(), uint8_t{0});
        const std::string pair(data.begin() + static_cast<long>(at), end);
        const size_t eq = pair.find('=');
        if (eq != std::string::npos) keys[pair.substr(0, eq)] = pair.substr(eq + 1);
        at = static_cast<size_t>(end - data.begin()) + 1;
    }
    return keys;
}

uint32_t Number(const std::string& text, uint32_t fallback) {
    try {
        return static_cast<uint32_t>(std::stoul(text));
    } catch (...) {
        return fallback;
    }
}

// One connection's session state.
struct Session {
    uint32_t statSn = 0;
    uint32_t expCmdSn = 0;
    uint32_t initiatorMaxRecv = 8192;
    uint32_t maxBurst = 262144;
    bool portalGroupSent = false;
    bool fullFeature = false;

    void Sequence(std::array<uint8_t, kHeader>& h, bool advance = true) {
        PutBe32(h.data() + 24, statSn);
        if (advance) ++statSn;
        PutBe32(h.data() + 28, expCmdSn);
        PutBe32(h.data() + 32, expCmdSn + kCommandWindow - 1);
    }
    void Count(const Pdu& pdu) {
        if (!pdu.Immediate()) expCmdSn = GetBe32(pdu.header.data() + 24) + 1;
    }
};

std::string Answer(const std::string& key, const std::string& offered, Session& s) {
    if (key == "HeaderDigest" || key == "DataDigest") return "None";
    if (key == "AuthMethod") return "None";
    if (key == "MaxConnections") return "1";
    if (key == "InitialR2T") return "Yes";
    if (key == "ImmediateData") return offered;
    if (key == "MaxBurstLength") {
        s.maxBurst = std::min<uint32_t>(Number(offered, 262144), 262144);
        return std::to_string(s.maxBurst);
    }
    if (key == "FirstBurstLength") return std::to_string(std::min<uint32_t>(Number(offered, 65536), 65536));
    if (key == "DefaultTime2Wait" || key == "DefaultTime2Retain") return offered;
    if (key == "MaxOutstandingR2T") return "1";
    if (key == "DataPDUInOrder" || key == "DataSequenceInOrder") return "Yes";
    if (key == "ErrorRecoveryLevel") return "0";
    if (key == "IFMarker" || key == "OFMarker") return "No";
    return "NotUnderstood";
}

void AddKey(std::vector<uint8_t>& data, const std::string& key, const std::string& value) {
    const std::string pair = key + "=" + value;
    data.insert(data.end(), pair.begin(), pair.end());
    data.push_back(0);
}

}  // namespace

IscsiTarget::~IscsiTarget() { Stop(); }

bool IscsiTarget::Start(std::string& error) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 16) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wakeFd_, O_CLOEXEC) != 0) {
        error = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        return false;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
    return true;
}

void IscsiTarget::Stop() {
    if (stopping_.exchange(true)) return;
    if (wakeFd_[1] >= 0) (void)!::write(wakeFd_[1], "x", 1);
    if (acceptor_.joinable()) acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (int fd : connectionFds_) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : connections_) t.join();
    for (int fd : connectionFds_) ::close(fd);
    for (int fd : {listenFd_, wakeFd_[0], wakeFd_[1]})
        if (fd >= 0) ::close(fd);
}

std::vector<std::string> IscsiTarget::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void IscsiTarget::Note(const std::string& line) {
    std::lock_guard lock(mutex_);
    events_.push_back(line);
}

void IscsiTarget::Accept() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard lock(mutex_);
        connectionFds_.push_back(fd);
        connections_.emplace_back([this, fd] {
            Serve(fd);
            ::shutdown(fd, SHUT_RDWR);
        });
    }
}

void IscsiTarget::Serve(int fd) {
    Session s;
    Pdu pdu;
    while (!stopping_ && Receive(fd, pdu)) {
        std::array<uint8_t, kHeader> h{};
        std::copy_n(pdu.header.begin() + 16, 4, h.begin() + 16);  // the initiator task tag
        switch (pdu.Opcode()) {
            case op::kLogin: {
                const uint8_t flags = pdu.header[1];
                const bool transit = flags & 0x80;
                const uint8_t csg = (flags >> 2) & 3, nsg = flags & 3;
                if (s.statSn == 0) s.statSn = GetBe32(pdu.header.data() + 28);
                s.expCmdSn = GetBe32(pdu.header.data() + 24);
                std::vector<uint8_t> data;
                for (const auto& [key, value] : Keys(pdu.data)) {
                    if (key == "InitiatorName" || key == "InitiatorAlias" || key == "TargetName" ||
                        key == "SessionType" || key == "TargetAlias")
                        continue;
                    if (key == "MaxRecvDataSegmentLength") {
                        s.initiatorMaxRecv = std::max<uint32_t>(512, Number(value, 8192));
                        AddKey(data, key, std::to_string(kOurMaxRecv));
                        continue;
                    }
                    AddKey(data, key, Answer(key, value, s));
                }
                if (!s.portalGroupSent) AddKey(data, "TargetPortalGroupTag", "1");
                s.portalGroupSent = true;
                h[0] = op::kLoginResponse;
                h[1] = static_cast<uint8_t>((transit ? 0x80 : 0) | csg << 2 | (transit ? nsg : 0));
                std::copy_n(pdu.header.begin() + 8, 6, h.begin() + 8);  // ISID
                if (transit && nsg == 3) {
                    h[15] = 1;  // TSIH
                    s.fullFeature = true;
                    Note("login: " + std::string(Keys(pdu.data).count("InitiatorName") ? Keys(pdu.data)["InitiatorName"]
                                                                                         : "continued"));
                }
                s.Sequence(h);
                if (!Send(fd, h, data)) return;
                break;
            }
            case op::kCommand: {
                s.Count(pdu);
                const bool read = pdu.header[1] & 0x40, write = pdu.header[1] & 0x20;
                const unsigned lun = (pdu.header[8] & 0x3Fu) << 8 | pdu.header[9];
                const uint32_t expected = GetBe32(pdu.header.data() + 20);
                std::array<uint8_t, 16> cdb{};
                std::copy_n(pdu.header.begin() + 32, 16, cdb.begin());
                std::vector<uint8_t> out = write ? pdu.data : std::vector<uint8_t>{};
                uint32_t r2tSn = 0;
                while (write && out.size() < expected) {
                    // Ask for the rest, one burst at a time.
                    std::array<uint8_t, kHeader> r2t{};
                    r2t[0] = op::kR2T;
                    r2t[1] = 0x80;
                    std::copy_n(pdu.header.begin() + 8, 8, r2t.begin() + 8);
                    std::copy_n(pdu.header.begin() + 16, 4, r2t.begin() + 16);
                    PutBe32(r2t.data() + 20, r2tSn);  // target transfer tag
                    s.Sequence(r2t, false);
                    PutBe32(r2t.data() + 36, r2tSn++);
                    const uint32_t burst = std::min<uint32_t>(expected - static_cast<uint32_t>(out.size()), s.maxBurst);
                    PutBe32(r2t.data() + 40, static_cast<uint32_t>(out.size()));
                    PutBe32(r2t.data() + 44, burst);
                    if (!Send(fd, r2t)) return;
                    const size_t until = out.size() + burst;
                    Pdu piece;
                    while (out.size() < until) {
                        if (!Receive(fd, piece)) return;
                        if (piece.Opcode() != op::kDataOut) continue;
                        const uint32_t offset = GetBe32(piece.header.data() + 40);
                        if (offset + piece.data.size() > out.size()) out.resize(offset + piece.data.size());
                        std::copy(piece.data.begin(), piece.data.end(), out.begin() + offset);
                    }
                }
                const ScsiOutcome result = luns_.Execute(lun, cdb, read ? expected : 0, out);
                uint32_t dataSn = 0;
                for (size_t offset = 0; offset < result.dataIn.size();) {
                    const size_t chunk = std::min<size_t>(result.dataIn.size() - offset, s.initiatorMaxRecv);
                    std::array<uint8_t, kHeader> in{};
                    in[0] = op::kDataIn;
                    in[1] = offset + chunk == result.dataIn.size() ? 0x80 : 0;
                    std::copy_n(pdu.header.begin() + 8, 8, in.begin() + 8);
                    std::copy_n(pdu.header.begin() + 16, 4, in.begin() + 16);
                    PutBe32(in.data() + 20, kNoTag);
                    s.Sequence(in, false);
                    PutBe32(in.data() + 24, 0);
                    PutBe32(in.data() + 36, dataSn++);
                    PutBe32(in.data() + 40, static_cast<uint32_t>(offset));
                    if (!Send(fd, in, std::span<const uint8_t>(result.dataIn.data() + offset, chunk))) return;
                    offset += chunk;
                }
                h[0] = op::kResponse;
                h[1] = 0x80;
                h[3] = result.status;
                if (read && result.dataIn.size() < expected) {
                    h[1] |= 0x02;  // underflow
                    PutBe32(h.data() + 44, expected - static_cast<uint32_t>(result.dataIn.size()));
                }
                s.Sequence(h);
                PutBe32(h.data() + 36, dataSn);
                std::vector<uint8_t> sense;
                if (!result.sense.empty()) {
                    sense.resize(2 + result.sense.size());
                    sense[0] = static_cast<uint8_t>(result.sense.size() >> 8);
                    sense[1] = static_cast<uint8_t>(result.sense.size());
                    std::copy(result.sense.begin(), result.sense.end(), sense.begin() + 2);
                }
                if (!Send(fd, h, sense)) return;
                break;
            }
            case op::kNopOut: {
                s.Count(pdu);
                if (pdu.Tag() == kNoTag) break;  // the answer to a ping of ours
                h[0] = op::kNopIn;
                h[1] = 0x80;
                std::copy_n(pdu.header.begin() + 8, 8, h.begin() + 8);
                PutBe32(h.data() + 20, kNoTag);
                s.Sequence(h);
                if (!Send(fd, h, pdu.data)) return;
                break;
            }
            case op::kTaskManagement:
                s.Count(pdu);
                h[0] = op::kTaskResponse;
                h[1] = 0x80;
                s.Sequence(h);
                if (!Send(fd, h)) return;
                break;
            case op::kText:
                s.Count(pdu);
                h[0] = op::kTextResponse;
                h[1] = 0x80;
                PutBe32(h.data() + 20, kNoTag);
                s.Sequence(h);
                if (!Send(fd, h)) return;
                break;
            case op::kLogout:
                s.Count(pdu);
                h[0] = op::kLogoutResponse;
                h[1] = 0x80;
                s.Sequence(h);
                Send(fd, h);
                Note("logout");
                return;
            case op::kDataOut:
                break;  // outside a write: nothing waits for it
            default:
                Note("rejected opcode " + std::to_string(pdu.Opcode()));
                h = {};
                h[0] = op::kReject;
                h[1] = 0x80;
                h[2] = 0x04;  // command not supported
                PutBe32(h.data() + 16, kNoTag);
                s.Sequence(h);
                if (!Send(fd, h, pdu.header)) return;
                break;
        }
    }
}

}  // namespace kestrel::kernelloop
