#pragma once
// Pure helpers of the FTP client: reading reply codes and the values carried
// by reply lines, and building the command and note texts.

#include <cstdint>
#include <string>
#include <string_view>

namespace net {

// The command a reply answers: the last one the client sent on its control
// connection (None: none yet on this connection, so a reply is the welcome).
enum class FtpCommand : std::uint8_t {
    None,
    User,
    Pass,
    Size,
    Type,
    Cwd,
    Rest,
    Retr,
    Stor,
    Appe,
    List,
    Nlst,
    Port,
    Eprt,
    Pasv,
    Epsv,
    Auth,
    Pbsz,
    Prot,
    Quit,
    Syst,
    Mkd,
    Rmd,
    Dele,
    Pwd,
    Cdup,
    Rnfr,
    Rnto,
    Abor,
    Other
};

} // namespace net

namespace net::ftp {

// The signed decimal number at the start of a reply line after blanks (tab,
// LF, CR, space); 0 when there are no digits. Very long numbers saturate.
int ReplyCode(std::string_view line);

// Whether the number at the start of the line is followed directly by "-"
// (a continuation line of a multi-line reply).
bool IsContinuation(std::string_view line);

// Follows the reply lines of a control connection through multi-line
// replies. A line whose code is followed directly by "-" opens a reply; every
// line after it, up to the one that begins with the same code and a blank
// (or ends right after the code), belongs to that reply, whatever it holds:
// plain text, text padded with a blank, other codes. Replies that carry
// their code on every line read the same either way.
class ReplyFramer {
public:
    enum class Line {
        Single,  // a line outside any multi-line reply
        Opening, // "ddd-": opens a multi-line reply
        Inside,  // a middle line of a multi-line reply: only shown
        Closing, // "ddd ": ends the multi-line reply
    };
    Line take(std::string_view line);
    bool inside() const { return open_; }
    void reset() { open_ = false; }

private:
    bool open_ = false;
    std::string code_; // the digits that opened the reply
};

// The second number of the line, the one after the code ("213 4711" -> 4711);
// 0 when there is none.
std::int64_t SecondNumber(std::string_view line);

// The quoted name after the code ('257 "/a ""b"""' -> '/a "b"'), a doubled
// quote standing for one; empty when the line holds no quote.
std::string QuotedName(std::string_view line);

// "! N bytes received/sent in S seconds" with " (R Bytes/sec)" when the two
// ticks differ.
std::string TransferLine(std::int64_t byteCount, std::uint32_t startTick, std::uint32_t endTick);

// The PORT command for a data port: the loopback form when the control
// connection's remote address is 127.0.0.1, else the four bytes of the local
// address (dotted text) and the two port bytes; for an IPv6 local address
// the extended form "EPRT |2|address|port|".
std::string PortCommand(const std::string& localAddr, const std::string& remoteAddr, int port);

// The data port of a reply to EPSV ("229 ... (|||6446|)") or to PASV
// ("227 ... (127,0,0,1,25,46)"); 0 when the reply names none (1 .. 65535).
int EpsvPort(std::string_view line);
int PasvPort(std::string_view line);

// A local file name a transfer may write or read: not empty, not "." or "..",
// no "/" in it (the file lands in the current directory under that name).
bool IsPlainLocalName(const std::string& name);

// The command a command line holds, by its first word in any case ("RETR x" ->
// Retr); Other for a word the client never sends, None for an empty line.
FtpCommand CommandOf(std::string_view commandLine);

// Whether the command sets up a data connection (PORT, EPRT, PASV, EPSV).
bool IsDataCommand(FtpCommand command);

// What a negative reply (4xx, 5xx) says about the whole site, judged by its
// code, the command it answers and, where servers tell the cases apart only
// in words, its wording (any case): "Permission denied", "Connection denied"
// or "Password incorrect", "Can't connect to host", a "user limit exeeded" (as
// one server spells it). A data command's refusal (vsftpd's "550 Permission
// denied." to PORT) asks only for passive mode, and a refusal of AUTH, PBSZ or
// PROT only says that the server has no TLS: neither is a refusal of the site.
enum class Refusal : std::uint8_t {
    None,        // nothing about the site
    Site,        // the site refuses this client for good
    Unreachable, // the server cannot reach the host it serves
};
Refusal RefusalOf(int code, FtpCommand command, std::string_view replyLine);

} // namespace net::ftp
