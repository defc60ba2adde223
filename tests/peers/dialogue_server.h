#pragma once
// A scripted server for protocol tests. It runs in the test process on the
// event loop and plays a dialogue: the lines it sends (merged into one packet
// or split across packets), the lines the client must send (checked exactly),
// closing or keeping the connection, and for FTP a data connection made back
// to the address of the client's PORT command.
//
// Dialogue text, one directive a line ('#' starts a comment line):
//   S: text          queue text + CR LF (consecutive lines go out as one packet)
//   R: text          queue raw text, no CR LF added; escapes \r \n \t \\ \xHH
//   SPLIT            send what is queued as one packet, then pause briefly so
//                    the client receives it on its own
//   C: text          wait for the client's next line; it must equal text
//   CP: text         ... it must begin with text
//   C*               ... any line
//   CLOSE            close the control connection
//   ACCEPT           wait for the client's next control connection
//   WAITCLOSE        wait until the client closes the control connection
//   DATACONNECT [a]  connect to the address of the client's last PORT command,
//                    from the server's address (or from a, such as 127.0.0.2)
//   PASVLISTEN       listen for a passive data connection on the server's
//                    address and a free port; in later S:/R: text {dataport}
//                    is that port, {p1},{p2} its two bytes, {ctrlport} the
//                    control connection's own port
//   DATAACCEPT       wait for the client's passive data connection
//   DATA: text       send text (escapes as R:) on the data connection
//   DATAFILL off n   send n bytes of the fill pattern starting at offset off
//   DATACLOSE        send what is pending on the data connection, then close
//                    its sending side
//   DATAWAITCLOSE    wait until the client has closed the data connection
//   E: text          an expectation for the test (not played; see expected())
// Queued control text is sent before every wait, close and data step and at
// the end. A line from the client that no C step waits for, and a close of
// the client while a C step waits, are errors.

#include <QTcpServer>
#include <QTcpSocket>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testpeers {

struct DialogueStep {
    enum Kind {
        Send,          // S: and R:
        Split,         // SPLIT
        Expect,        // C:
        ExpectPrefix,  // CP:
        ExpectAny,     // C*
        Close,         // CLOSE
        Accept,        // ACCEPT
        WaitClose,     // WAITCLOSE
        DataConnect,   // DATACONNECT
        PasvListen,    // PASVLISTEN
        DataAccept,    // DATAACCEPT
        DataSend,      // DATA: and DATAFILL
        DataClose,     // DATACLOSE
        DataWaitClose, // DATAWAITCLOSE
    };
    Kind kind;
    std::string text; // bytes to send, or the line expected
    int line = 0;     // line of the dialogue text, for messages
};

struct Dialogue {
    std::vector<DialogueStep> steps;
    std::vector<std::string> expected; // the E: lines, in order

    // Parse dialogue text; throws std::runtime_error naming the bad line.
    static Dialogue fromText(const std::string& text);
    static Dialogue fromFile(const std::string& path);
};

// The bytes DATAFILL sends: byte i of the pattern is (i * 7 + i / 251) & 0xFF.
std::string fillBytes(std::int64_t offset, std::int64_t count);

// Path of a dialogue file shipped with the tests (tests/net/dialogues/<name>).
std::string dialoguePath(const std::string& name);

class DialogueServer {
public:
    DialogueServer();
    ~DialogueServer();
    DialogueServer(const DialogueServer&) = delete;
    DialogueServer& operator=(const DialogueServer&) = delete;

    // Listens on host (127.0.0.N) and a free port (or the port given) and
    // plays the dialogue with the first client that connects.
    bool start(const Dialogue& dialogue, const std::string& host = "127.0.0.1", int port = 0);
    bool startFile(const std::string& path, const std::string& host = "127.0.0.1", int port = 0);

    const std::string& host() const { return host_; }
    int port() const { return port_; }
    const Dialogue& dialogue() const { return dialogue_; }

    // Every step has been played.
    bool finished() const { return next_ >= dialogue_.steps.size() && waiting_ == Wait::None; }
    // Nothing more to play until the client acts (sends, closes, connects),
    // or the end was reached.
    bool idle() const {
        return finished() || waiting_ == Wait::Line || waiting_ == Wait::ClientClose ||
               waiting_ == Wait::Accept || waiting_ == Wait::DataClosed;
    }
    // Waiting for the client's next line.
    bool waitingForLine() const { return waiting_ == Wait::Line; }
    // Mismatches and surprises, one text each; empty when all went to plan.
    const std::vector<std::string>& errors() const { return errors_; }
    // Every line the client sent, in order, over all connections.
    const std::vector<std::string>& received() const { return received_; }
    // Control connections accepted so far.
    int connections() const { return connections_; }
    // The current control connection was closed by the client.
    bool clientClosed() const { return clientClosed_; }
    // The step being played or waited for ("done" at the end), for messages.
    std::string where() const;

private:
    enum class Wait { None, Line, Accept, ClientClose, Pause, DataConnected, DataClosed };
    void advance();
    // Plays one step; true: go on with the next. false: the step has set
    // next_ itself and (usually) a wait.
    bool runStep(const DialogueStep& step);
    void flushControl();
    void shutDataWhenFlushed();
    void onNewConnection();
    void onNewDataConnection();
    void adoptData(QTcpSocket* sock);
    void onControlReadyRead();
    void onControlDisconnected();
    void takeLines();
    void error(const std::string& text);
    void stop();

    Dialogue dialogue_;
    std::string host_;
    int port_ = 0;
    QTcpServer server_;
    QTcpServer pasv_; // passive data connections
    QTcpSocket* control_ = nullptr;
    QTcpSocket* data_ = nullptr;
    std::string controlOut_;
    std::string controlIn_;
    std::vector<std::string> lines_; // client lines not yet taken by a C step
    std::size_t next_ = 0;
    Wait waiting_ = Wait::None;
    bool playing_ = false;
    bool stopped_ = false;
    bool clientClosed_ = false;
    bool dataClientClosed_ = false;
    bool dataShutPending_ = false;
    int connections_ = 0;
    std::string dataHost_;
    int dataPort_ = 0;
    std::vector<std::string> errors_;
    std::vector<std::string> received_;
    std::shared_ptr<bool> alive_;
};

} // namespace testpeers
