#include "sim_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

std::string rarur_sim_binary()
{
    if (const char* env = std::getenv("RARUR_SIM"))
        return env;
#ifdef RARUR_SIM_PATH
    return RARUR_SIM_PATH;
#else
    return "";
#endif
}

SimProcess::SimProcess(const SimOptions& o)
{
    char tmpl[] = "/tmp/rarur-sim-test.XXXXXX";
    if (!mkdtemp(tmpl))
        return;
    dir_ = tmpl;
    usb_id_ = o.usb_id;
    std::string binary = rarur_sim_binary();
    if (binary.empty())
        return;
    std::vector<std::string> args = {binary, "--port-file", dir_ + "/port", "--control", control_path(),
                                     "--record", record_path()};
    if (o.tcp)
        args.insert(args.end(), {"--listen", "127.0.0.1:0"});
    if (o.usb_id >= 0)
        args.insert(args.end(), {"--usb-dir", dir_, "--usb-id", std::to_string(o.usb_id)});
    if (o.modem)
        args.insert(args.end(),
                    {"--modem-pty", modem_path(), "--modem-guard", std::to_string(o.modem_guard_ms)});
    if (o.protocol_version)
        args.insert(args.end(), {"--protocol-version", std::to_string(o.protocol_version)});
    if (o.freeze)
        args.push_back("--freeze");
    args.insert(args.end(), o.args.begin(), o.args.end());

    std::string log_path = dir_ + "/stderr.log";
    pid_ = fork();
    if (pid_ == 0) {
        int fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 2);
            close(fd);
        }
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid_ < 0)
        return;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream f(dir_ + "/port");
        int port = -1;
        if (f >> port) {
            port_ = port;
            ready_ = true;
            return;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

SimProcess::~SimProcess()
{
    stop();
    if (!dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

bool SimProcess::stop()
{
    if (pid_ <= 0)
        return false;
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            ready_ = false;
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
    ready_ = false;
    return false;
}

std::string SimProcess::usb_socket_path() const
{
    return dir_ + "/rarur-" + std::to_string(usb_id_) + ".sock";
}

std::string SimProcess::log() const
{
    std::ifstream f(dir_ + "/stderr.log");
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string SimProcess::control(const std::string& command) const
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return "";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = control_path();
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string reply;
    std::string line = command + "\n";
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size())) {
        char c;
        while (recv(fd, &c, 1, 0) == 1 && c != '\n')
            reply.push_back(c);
    }
    close(fd);
    return reply;
}

std::vector<std::string> SimProcess::record_lines() const
{
    std::vector<std::string> lines;
    std::ifstream f(record_path());
    for (std::string line; std::getline(f, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> SimProcess::recorded_writes() const
{
    std::vector<std::string> out;
    for (const std::string& line : record_lines())
        if (size_t at = line.find("fn=10"); at != std::string::npos)
            out.push_back(line.substr(at));
    return out;
}

std::string SimProcess::status_value(const std::string& key) const
{
    std::string s = control("status");
    size_t at = s.find(" " + key + "=");
    if (at == std::string::npos)
        return "";
    at += key.size() + 2;
    return s.substr(at, s.find(' ', at) - at);
}

void SimProcess::clear_record() const
{
    // The simulator appends, so truncating in place keeps its descriptor valid.
    if (truncate(record_path().c_str(), 0) != 0 && errno != ENOENT)
        return;
}

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>

RawModbusTcp::RawModbusTcp(int port)
{
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd_);
        fd_ = -1;
    }
    int one = 1;
    if (fd_ >= 0)
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

RawModbusTcp::~RawModbusTcp()
{
    if (fd_ >= 0)
        close(fd_);
}

static bool read_exact(int fd, unsigned char* out, size_t n, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    size_t got = 0;
    while (got < n) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                             std::chrono::steady_clock::now())
                           .count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            return false;
        ssize_t r = recv(fd, out + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

std::vector<unsigned char> RawModbusTcp::exchange(const std::vector<unsigned char>& pdu, int timeout_ms,
                                                  unsigned transaction, unsigned unit)
{
    header_.clear();
    if (fd_ < 0)
        return {};
    std::vector<unsigned char> frame = {(unsigned char)(transaction >> 8), (unsigned char)(transaction & 0xFF),
                                        0, 0, (unsigned char)((pdu.size() + 1) >> 8),
                                        (unsigned char)((pdu.size() + 1) & 0xFF), (unsigned char)unit};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    if (send(fd_, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
        return {};
    unsigned char header[7];
    if (!read_exact(fd_, header, 7, timeout_ms))
        return {};
    header_.assign(header, header + 7);
    size_t length = size_t(header[4] << 8 | header[5]);
    if (length < 1)
        return {};
    std::vector<unsigned char> reply(length - 1);
    if (!read_exact(fd_, reply.data(), reply.size(), timeout_ms))
        return {};
    return reply;
}
