// The line peer program: the far ends of serial lines on pseudo-terminals,
// driven over a loopback TCP connection (the protocol: peer_protocol.h).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "line_io.h"
#include "port_dir.h"
#include "serial/posix/pseudo_terminal.h"
#include "serial/posix/unique_fd.h"
#include "tcp_transport_posix.h"

namespace {

using sio::UniqueFd;

// The connection to the test program: a line or a count of bytes at a time.
class Connection {
public:
    explicit Connection(std::unique_ptr<sio::peer::PeerTransport> stream) : stream_(std::move(stream)) {}

    bool ReadLine(std::string& line) {
        line.clear();
        for (char c; Read(&c, 1);) {
            if (c == '\n')
                return true;
            line += c;
        }
        return false;
    }
    bool Read(char* data, std::size_t size) { return stream_->Receive(data, size); }
    bool Write(const std::string& data) { return stream_->Send(data.data(), data.size()); }

private:
    std::unique_ptr<sio::peer::PeerTransport> stream_;
};

int BaudOf(speed_t code) {
    static const std::pair<speed_t, int> rates[] = {
        {B110, 110},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B2400, 2400},
        {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
        {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
    };
    for (const auto& [value, baud] : rates)
        if (value == code)
            return baud;
    return 0;
}

class Peer {
public:
    Peer(Connection& connection, std::string linkDir) : connection_(connection), linkDir_(std::move(linkDir)) {}
    // A connection's links go with its lines: a folder that outlives the
    // test program (a Wine prefix's dosdevices) keeps no dangling COM port.
    ~Peer() {
        for (const std::string& link : links_)
            ::unlink(link.c_str());
    }

    enum class Ending { Quit, ConnectionEnded };

    // Serves requests until QUIT or the end of the connection.
    Ending Serve() {
        for (std::string line; connection_.ReadLine(line);) {
            std::istringstream words(line);
            std::string command;
            words >> command;
            if (command == "QUIT") {
                connection_.Write("OK\n");
                return Ending::Quit;
            }
            int com = 0;
            words >> com;
            if (!connection_.Write(Handle(command, com, words)))
                break;
        }
        return Ending::ConnectionEnded;
    }

private:
    std::string Handle(const std::string& command, int com, std::istringstream& words) {
        if (command == "LINK")
            return Link(com, words);
        auto line = lines_.find(com);
        if (line == lines_.end() || !line->second.master)
            return "ERR no line COM" + std::to_string(com) + "\n";
        const int master = line->second.master.get();
        if (command == "SEND") {
            std::size_t size = 0;
            words >> size;
            return Send(master, size);
        }
        if (command == "RECV") {
            std::size_t size = 0;
            int quiet = 0;
            words >> size >> quiet;
            std::string bytes = sio::test::ReadUpTo(master, size, quiet);
            return "DATA " + std::to_string(bytes.size()) + "\n" + bytes;
        }
        if (command == "LINE")
            return Settings(master);
        if (command == "PACKET") {
            int on = 0;
            words >> on;
            return ::ioctl(master, TIOCPKT, &on) == 0 ? "OK\n" : Failure("TIOCPKT");
        }
        if (command == "HANGUP") {
            line->second = {};
            return "OK\n";
        }
        return "ERR unknown request " + command + "\n";
    }

    std::string Link(int com, std::istringstream& words) {
        std::string dir = linkDir_;
        words >> dir;
        try {
            sio::PseudoTerminal pty = sio::OpenPseudoTerminal();
            sio::test::LinkComPort(dir, com, pty.slavePath);
            links_.insert(dir + "/com" + std::to_string(com));
            std::string path = pty.slavePath;
            lines_[com] = std::move(pty);
            return "OK " + path + "\n";
        } catch (const std::exception& e) {
            return std::string("ERR ") + e.what() + "\n";
        }
    }

    // Takes the bytes off the connection in pieces and writes each to the
    // line as room opens, so a flood never sits whole in memory.
    std::string Send(int master, std::size_t size) {
        char buffer[65536];
        bool written = true;
        while (size > 0) {
            std::size_t piece = std::min(size, sizeof buffer);
            if (!connection_.Read(buffer, piece))
                return "ERR connection ended\n";
            written = written && sio::test::WriteAll(master, buffer, piece);
            size -= piece;
        }
        return written ? "OK\n" : Failure("write");
    }

    std::string Settings(int master) {
        termios tio{};
        if (::tcgetattr(master, &tio) != 0)
            return Failure("tcgetattr");
        const bool raw = !(tio.c_lflag & (ICANON | ECHO | ISIG)) && !(tio.c_oflag & OPOST);
        std::ostringstream reply;
        reply << "OK baud=" << BaudOf(::cfgetospeed(&tio)) << " stop=" << ((tio.c_cflag & CSTOPB) ? 2 : 1)
              << " rtscts=" << ((tio.c_cflag & CRTSCTS) ? 1 : 0) << " ixon=" << ((tio.c_iflag & IXON) ? 1 : 0)
              << " ixoff=" << ((tio.c_iflag & IXOFF) ? 1 : 0) << " xon=" << int(tio.c_cc[VSTART])
              << " xoff=" << int(tio.c_cc[VSTOP]) << " raw=" << (raw ? 1 : 0) << "\n";
        return reply.str();
    }

    static std::string Failure(const char* call) { return std::string("ERR ") + call + ": " + std::strerror(errno) + "\n"; }

    Connection& connection_;
    std::string linkDir_;
    std::map<int, sio::PseudoTerminal> lines_;
    std::set<std::string> links_;
};

}  // namespace

int main(int argc, char** argv) {
    std::string linkDir = ".";
    bool once = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--link-dir" && i + 1 < argc) {
            linkDir = argv[++i];
        } else if (std::string(argv[i]) == "--once") {
            once = true;
        } else {
            std::fprintf(stderr, "usage: line_peer [--link-dir DIR] [--once]\n");
            return 2;
        }
    }
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never reachable from elsewhere
    socklen_t length = sizeof address;
    if (!listener || ::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("line_peer: listen");
        return 1;
    }
    std::printf("PORT %d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    // One test program after another (ctest runs each case as a process of
    // its own); a connection's lines end with it.
    for (;;) {
        int accepted;
        while ((accepted = ::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)) < 0 && errno == EINTR) {
        }
        if (accepted < 0) {
            std::perror("line_peer: accept");
            return 1;
        }
        Connection connection{sio::peer::TcpTransportOn(UniqueFd(accepted))};
        if (Peer(connection, linkDir).Serve() == Peer::Ending::Quit || once)
            return 0;
    }
}
