// Sending through the queue of 1514-byte buffers, receiving through the
// read-ahead, and the blocking operations.
#include "net/wsocket.h"
#include "net/wsocket_impl.h"

#include "platform/resolver.h"
#include "platform/socket.h"

#include <QElapsedTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

namespace {

// ReadCount is a 32-bit count that wraps past 2 GiB (a long transfer) instead
// of overflowing.
std::int32_t addWrapping(std::int32_t count, int n) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(count) + static_cast<std::uint32_t>(n));
}

} // namespace

// --- sending ----------------------------------------------------------------

int TWSocket::Send(const void* data, int len) {
    if (state_ != wsConnected) {
        SocketError("Send", WSAENOTCONN);
        return -1;
    }
    if (len <= 0) return 0;
    allSent_ = false;
    const char* p = static_cast<const char*>(data);
    std::size_t left = static_cast<std::size_t>(len);
    while (left > 0) {
        if (sendQueue_.empty() || sendQueue_.back().size() >= SendBufferSize) {
            sendQueue_.emplace_back();
            sendQueue_.back().reserve(SendBufferSize);
        }
        auto& last = sendQueue_.back();
        const std::size_t take = std::min(left, SendBufferSize - last.size());
        last.insert(last.end(), p, p + take);
        p += take;
        left -= take;
    }
    TryToSend();
    // An emptied queue still gets its OnDataSent, later from the event loop.
    if (sendQueue_.empty() && hSocket_ != INVALID_SOCKET) watcher_->post(platform::FD_WRITE, 0);
    return len;
}

int TWSocket::SendStr(const std::string& str) {
    return Send(str.data(), static_cast<int>(str.size()));
}

void TWSocket::TryToSend() {
    if (hSocket_ == INVALID_SOCKET || sendQueue_.empty() || TlsHolds()) return;
    const bool urgent = sendFlags_ == wsSendUrgent;
    while (!sendQueue_.empty()) {
        auto& first = sendQueue_.front();
        const int len = static_cast<int>(first.size() - sendOffset_);
        if (len > 0) {
            const char* p = first.data() + sendOffset_;
            if (tls_) {
                TlsLink::Result r = TlsLink::Done;
                const int n = tls_->write(p, len, r);
                if (n < 0) {
                    if (r == TlsLink::WantWrite) watcher_->wantWrite();
                    if (r == TlsLink::Failed) {
                        tlsError_ = tls_->error();
                        lastError_ = WSAETLSPROTOCOL;
                        InternalClose(false, static_cast<std::uint16_t>(WSAETLSPROTOCOL));
                    }
                    return;
                }
                sendOffset_ += static_cast<std::size_t>(n);
                if (n < len) {
                    watcher_->wantWrite();
                    return;
                }
                sendQueue_.pop_front();
                sendOffset_ = 0;
                if (sendQueue_.empty()) allSent_ = true;
                continue;
            }
            const int n = datagram_ ? platform::sockSendTo(hSocket_, p, len, urgent, sin_)
                                    : platform::sockSend(hSocket_, p, len, urgent);
            if (n < 0) {
                const int code = platform::lastSocketError();
                if (code == WSAEINVAL || code == 10038 || code == WSAECONNRESET || code == WSAENOTCONN) {
                    lastError_ = code;
                    Close();
                    return;
                }
                if (code == WSAEWOULDBLOCK) {
                    watcher_->wantWrite();
                    return;
                }
                SocketError("TryToSend failed", code);
                return;
            }
            sendOffset_ += static_cast<std::size_t>(n);
            if (n < len) {
                watcher_->wantWrite(); // the rest goes when there is room again
                return;
            }
        }
        sendQueue_.pop_front();
        sendOffset_ = 0;
        if (sendQueue_.empty()) allSent_ = true;
    }
}

std::int64_t TWSocket::BufferedByteCount() const {
    std::int64_t n = 0;
    for (const auto& b : sendQueue_)
        n += static_cast<std::int64_t>(b.size());
    return n - static_cast<std::int64_t>(sendOffset_);
}

std::vector<int> TWSocket::SendQueueBlockSizes() const {
    std::vector<int> sizes;
    for (const auto& b : sendQueue_)
        sizes.push_back(static_cast<int>(b.size()));
    return sizes;
}

// --- receiving --------------------------------------------------------------

void TWSocket::NoteRead(int count) {
    if (count > 0) consumed_ += count;
}

int TWSocket::RawRecv(void* buffer, int size) {
    if (size <= 0) return 0;
    if (datagram_) {
        platform::SockAddr from;
        const int n = platform::sockRecvFrom(hSocket_, buffer, size, from);
        if (n < 0) lastError_ = platform::lastSocketError();
        return n;
    }
    if (tls_) {
        if (!tls_->established()) {
            lastError_ = WSAEWOULDBLOCK; // nothing before the handshake is done
            return -1;
        }
        TlsLink::Result r = TlsLink::Done;
        const int n = tls_->read(buffer, size, r);
        if (n > 0 || r == TlsLink::Closed) return n;
        if (r == TlsLink::WantRead || r == TlsLink::WantWrite) {
            if (r == TlsLink::WantWrite) watcher_->wantWrite();
            lastError_ = WSAEWOULDBLOCK;
            return -1;
        }
        tlsError_ = tls_->error();
        if (tls_->cut()) return 0; // the end of the stream: its close reports the cut
        lastError_ = WSAETLSPROTOCOL;
        return -1;
    }
    constexpr int ReadAhead = 64 * 1024;
    if (rxPos_ == rxLen_) {
        rxPos_ = rxLen_ = 0;
        if (size >= ReadAhead) { // large enough to skip the copy
            const int n = platform::sockRecv(hSocket_, buffer, size);
            if (n < 0) lastError_ = platform::lastSocketError();
            return n;
        }
        if (rxBuf_.size() < ReadAhead) rxBuf_.resize(ReadAhead);
        const int n = platform::sockRecv(hSocket_, rxBuf_.data(), ReadAhead);
        if (n <= 0) {
            if (n < 0) lastError_ = platform::lastSocketError();
            return n;
        }
        rxLen_ = n;
    }
    const int take = std::min(size, rxLen_ - rxPos_);
    std::memcpy(buffer, rxBuf_.data() + rxPos_, static_cast<std::size_t>(take));
    rxPos_ += take;
    return take;
}

int TWSocket::Waiting() {
    if (tls_ && tls_->pending() > 0) return tls_->pending();
    const int buffered = rxLen_ - rxPos_;
    if (buffered > 0) return buffered; // enough to know that bytes wait
    return platform::sockPending(hSocket_);
}

int TWSocket::Receive(void* buffer, int size) {
    if (hSocket_ == INVALID_SOCKET) {
        lastError_ = WSAENOTCONN;
        return -1;
    }
    const int n = RawRecv(buffer, size);
    watcher_->readDone();
    if (n > 0) readCount_ = addWrapping(readCount_, n);
    NoteRead(n);
    return n;
}

int TWSocket::ReceiveToPipe(int pipeFd, int size) {
    if (hSocket_ == INVALID_SOCKET) {
        lastError_ = WSAENOTCONN;
        return -1;
    }
    if (datagram_ || size <= 0 || tls_) return NoSplice; // TLS bytes must be decrypted here
    int n;
    if (rxPos_ < rxLen_) {
        // Bytes read ahead by an earlier receive go first, by copy.
        const ssize_t w = ::write(pipeFd, rxBuf_.data() + rxPos_,
                                  static_cast<std::size_t>(std::min(size, rxLen_ - rxPos_)));
        if (w <= 0) return NoSplice;
        n = static_cast<int>(w);
        rxPos_ += n;
    } else {
        const ssize_t r = ::splice(hSocket_, nullptr, pipeFd, nullptr, static_cast<std::size_t>(size),
                                   SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (r < 0 && (errno == EINVAL || errno == ENOSYS)) return NoSplice;
        if (r < 0) lastError_ = platform::lastSocketError();
        n = static_cast<int>(r);
    }
    watcher_->readDone();
    if (n > 0) readCount_ = addWrapping(readCount_, n);
    NoteRead(n);
    return n;
}

std::string TWSocket::ReceiveStr() {
    if (hSocket_ == INVALID_SOCKET) return {};
    if (tls_) {
        std::string s;
        char buf[4096];
        int n;
        while ((n = RawRecv(buf, sizeof buf)) > 0)
            s.append(buf, static_cast<std::size_t>(n));
        watcher_->readDone();
        NoteRead(static_cast<int>(s.size()));
        return s;
    }
    const int buffered = rxLen_ - rxPos_;
    const int kernel = platform::sockPending(hSocket_);
    const int waiting = buffered + std::max(kernel, 0);
    if (waiting <= 0) {
        watcher_->readDone();
        return {};
    }
    std::string s(rxBuf_.data() + rxPos_, static_cast<std::size_t>(buffered));
    DropReadAhead();
    if (kernel > 0) {
        s.resize(static_cast<std::size_t>(waiting));
        const int n = platform::sockRecv(hSocket_, s.data() + buffered, kernel);
        if (n < 0) lastError_ = platform::lastSocketError();
        s.resize(static_cast<std::size_t>(buffered + std::max(n, 0)));
    }
    watcher_->readDone();
    NoteRead(static_cast<int>(s.size()));
    return s;
}

int TWSocket::ReceiveFrom(void* buffer, int size, platform::SockAddr& from, int& fromLen) {
    if (hSocket_ == INVALID_SOCKET) {
        lastError_ = WSAENOTCONN;
        return -1;
    }
    int n;
    if (datagram_) {
        n = platform::sockRecvFrom(hSocket_, buffer, size, from);
        if (n < 0) lastError_ = platform::lastSocketError();
    } else {
        n = RawRecv(buffer, size);
        platform::sockPeerName(hSocket_, from);
    }
    fromLen = static_cast<int>(from.size());
    watcher_->readDone();
    if (n > 0) readCount_ = addWrapping(readCount_, n);
    NoteRead(n);
    return n;
}

// --- blocking operations ------------------------------------------------------

bool TWSocket::WaitForState(int seconds, TSocketState state) {
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = static_cast<qint64>(seconds) * 1000;
    const auto alive = lifetime_.watch();
    while (alive && state_ != state) {
        if (state == wsConnected && state_ == wsClosed) return false;
        const qint64 left = limit - clock.elapsed();
        if (left <= 0) return false;
        platform::pumpMessages(static_cast<int>(left));
    }
    return static_cast<bool>(alive);
}

void TWSocket::ContinueLine() {
    char c;
    for (;;) {
        const int saved = lastError_;
        const int n = RawRecv(&c, 1);
        watcher_->readDone();
        if (n <= 0) {
            if (n < 0 && lastError_ == WSAEWOULDBLOCK) lastError_ = saved;
            if (n == 0) {
                lineMode_ = false;
                lineReady_ = true; // the peer's close ends the line too
            }
            return;
        }
        readCount_ = addWrapping(readCount_, 1);
        NoteRead(1);
        if (c == '\n') {
            lineMode_ = false;
            lineReady_ = true;
            return;
        }
        if (c == '\r') continue;
        lineBuffer_ += c;
        if (lineBuffer_.size() >= 254) {
            lineMode_ = false;
            lineReady_ = true;
            if (OnLineTooLong) OnLineTooLong(this);
            return;
        }
    }
}

bool TWSocket::ReadLine(int seconds, std::string& line) {
    line.clear();
    if (hSocket_ == INVALID_SOCKET) return false;
    lineBuffer_.clear();
    lineReady_ = false;
    lineMode_ = true;
    const auto alive = lifetime_.watch();
    ContinueLine();
    QElapsedTimer clock;
    clock.start();
    const qint64 limit = static_cast<qint64>(seconds) * 1000;
    while (alive && !lineReady_ && hSocket_ != INVALID_SOCKET && lastError_ == 0) {
        const qint64 left = limit - clock.elapsed();
        if (left <= 0) break;
        platform::pumpMessages(static_cast<int>(left));
    }
    if (!alive) return false;
    lineMode_ = false;
    line = lineBuffer_;
    return lineReady_;
}

void TWSocket::Flush() {
    QElapsedTimer clock;
    clock.start();
    const auto alive = lifetime_.watch();
    while (alive && hSocket_ != INVALID_SOCKET && !sendQueue_.empty()) {
        TryToSend();
        if (!alive || sendQueue_.empty() || hSocket_ == INVALID_SOCKET) break;
        const qint64 left = static_cast<qint64>(FlushTimeout) * 1000 - clock.elapsed();
        if (left <= 0) break;
        platform::pumpMessages(static_cast<int>(left));
    }
}

void TWSocket::WaitForClose() {
    const auto alive = lifetime_.watch();
    char buf[4096];
    while (alive && hSocket_ != INVALID_SOCKET) {
        if (Waiting() > 0) {
            Receive(buf, sizeof buf);
            continue;
        }
        platform::pumpMessages(1000);
    }
}

} // namespace net
