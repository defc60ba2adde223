#include "shell/update.h"

#include "platform/eventloop.h"
#include "platform/text.h"
#include "shell/main_storage.h"

#include <algorithm>

namespace shell {
namespace {

bool startsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

void UpdateLineSplitter::feed(const std::string& block, platform::StringList& lines) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < block.size(); ++i) {
        const char c = block[i];
        if (c == '\n' && afterCr_) { // the LF of a CR LF (perhaps the next block's first byte)
            afterCr_ = false;
            start = i + 1;
            continue;
        }
        afterCr_ = c == '\r';
        if (c != '\r' && c != '\n') continue;
        partial_.append(block, start, i - start);
        lines.push_back(std::move(partial_));
        partial_.clear();
        start = i + 1;
    }
    partial_.append(block, start, std::string::npos);
}

void UpdateLineSplitter::finish(platform::StringList& lines) {
    if (!partial_.empty()) lines.push_back(std::move(partial_));
    reset();
}

int updateBuildNumber(const std::string& text) {
    return platform::parseDecimalInt(text, 90);
}

bool acceptableEngineEntry(const std::string& entry) {
    return !entry.empty() && std::none_of(entry.begin(), entry.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7f;
    });
}

bool acceptableUpdateAddress(const std::string& host, const std::string& path) {
    return acceptableEngineEntry(host) && acceptableEngineEntry(path);
}

int applyUpdateLines(const platform::StringList& lines, UpdateTarget target) {
    int matched = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (startsWith(line, "--URL")) {
            ++matched;
            // Fewer than two lines after it: the address stays as it is.
            if (i + 2 >= lines.size()) break;
            if (acceptableUpdateAddress(lines[i + 1], lines[i + 2])) {
                target.updateIP = lines[i + 1];
                target.updatefile = lines[i + 2];
            }
            i += 2;
        } else if (startsWith(line, "--MESSAGE")) {
            ++matched;
            // The server's words, shown as text: no control character reaches a terminal.
            target.message(UpdateCaption, platform::printable(line.substr(9, MaxUpdateNotice)));
        } else if (startsWith(line, "--:")) {
            ++matched;
            const std::string command = line.substr(3);
            if (startsWith(command, "kill")) {
                target.startlinks.Clear();
            } else if (const std::size_t mark = command.find(":Latestbuild#"); mark != std::string::npos) {
                if (updateBuildNumber(command.substr(0, mark)) > 28)
                    target.message(UpdateCaption, NewBuildNotice);
            } else if (acceptableEngineEntry(command)) {
                target.startlinks.addengine(command);
            }
        }
    }
    return matched;
}

UpdateCheck::UpdateCheck(MainWindowStorage& main, const ProxySettings& proxy, search::EngineList& startlinks)
    : main_(main), proxy_(proxy), startlinks_(startlinks) {
    updatesocket.setProto("tcp");
    updatesocket.setPort("80");
    updatesocket.MultiThreaded = true;
    updatesocket.FlushTimeout = 30;
    updatesocket.setSendFlags(net::wsSendNormal);
    updatesocket.OnSessionConnected = [this](net::TWSocket*, std::uint16_t e) {
        updatesocketSessionConnected(e);
    };
    updatesocket.OnDataAvailable = [this](net::TWSocket*, std::uint16_t e) { updatesocketDataAvailable(e); };
    updatesocket.OnSessionClosed = [this](net::TWSocket*, std::uint16_t e) { updatesocketSessionClosed(e); };
    updatesocket.OnLineTooLong = [](net::TWSocket*) {}; // lines are never read by the socket here
}

void UpdateCheck::splitHostPort(const std::string& caption, std::string& host, std::string& port) {
    const std::size_t colon = caption.rfind(':');
    const std::size_t close = caption.rfind(']'); // "[::1]:80": the port after the brackets
    if (colon != std::string::npos && colon > 0 && (close == std::string::npos || colon > close) &&
        caption.size() - colon - 1 <= 5 && allDigits(caption.substr(colon + 1))) {
        host = caption.substr(0, colon);
        port = caption.substr(colon + 1);
    } else {
        host = caption;
    }
}

void UpdateCheck::Checkforupdatestosearchengines1Click() {
    // A check under way keeps its address; Connect then refuses.
    if (updatesocket.State() == net::wsClosed) {
        std::string host, port = "80";
        if (proxy_.useproxy) {
            port = proxy_.proxyport;
            splitHostPort(proxy_.proxyname, host, port);
        } else {
            splitHostPort(main_.updateIP_Caption, host, port);
        }
        updatesocket.setAddr(host); // the blocking name lookup
        updatesocket.setPort(port);
    }
    updatesocket.Connect();
    running_ = true;
    cancelled_ = false;
    connectError_ = 0;
}

void UpdateCheck::cancel() {
    if (!running_) return;
    cancelled_ = true;
    updatesocket.Abort();
    if (running_) finish(UpdateOutcome::Cancelled);
}

void UpdateCheck::updatesocketSessionConnected(std::uint16_t error) {
    update.clear();
    splitter_.reset();
    received_ = 0;
    tooLarge_ = false;
    connectError_ = error;
    if (proxy_.useproxy)
        request_ = "GET http://" + main_.updateIP_Caption + main_.updatefile_Caption + " HTTP/1.0\r\n\r\n";
    else
        request_ = "GET " + main_.updatefile_Caption + " HTTP/1.0\r\n\r\n";
    // A failed connection closes itself next; sending into it could only fail.
    if (error == 0) updatesocket.SendStr(request_);
}

void UpdateCheck::updatesocketDataAvailable(std::uint16_t) {
    const std::string block = updatesocket.ReceiveStr();
    if (tooLarge_ || cancelled_) return; // read and dropped until the close
    received_ += block.size();
    if (received_ > MaxUpdateReply) {
        tooLarge_ = true;
        update.clear();
        splitter_.reset();
        const platform::Lifetime::Watch alive = lifetime_.watch();
        platform::post([this, alive] {
            if (alive && updatesocket.State() != net::wsClosed) updatesocket.Abort();
        });
        return;
    }
    splitter_.feed(block, update);
}

void UpdateCheck::updatesocketSessionClosed(std::uint16_t) {
    if (!running_ || cancelled_) return;
    if (tooLarge_) {
        update.clear();
        finish(UpdateOutcome::TooLarge);
        return;
    }
    splitter_.finish(update);
    if (update.empty()) {
        finish(UpdateOutcome::NoReply);
        return;
    }
    const platform::StringList lines = std::move(update);
    update.clear();
    const platform::Lifetime::Watch alive = lifetime_.watch();
    applyUpdateLines(lines,
                     UpdateTarget{main_.updateIP_Caption, main_.updatefile_Caption, startlinks_, OnMessage});
    if (alive) finish(UpdateOutcome::Applied);
}

void UpdateCheck::finish(UpdateOutcome outcome) {
    running_ = false;
    OnFinished(outcome);
}

} // namespace shell
