// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private mosquitto broker on a free loopback port, for the tests and the benchmark: its own
// configuration in a temporary folder, stopped when the object goes and killed with the process
// that started it. Header-only so that bench/ can use it too.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class MosquittoBroker {
public:
    static constexpr const char* kProgram = "/usr/sbin/mosquitto";
    static bool installed() { return ::access(kProgram, X_OK) == 0; }

    // A persistent broker keeps sessions and queued messages across a restart.
    explicit MosquittoBroker(bool persistent = false) : persistent_(persistent)
    {
        std::string folder = (std::filesystem::temp_directory_path() / "quivra-broker-XXXXXX").string();
        if (!::mkdtemp(folder.data())) return;
        folder_ = folder;
        // A free port can be taken by someone else before the broker binds it: try a few.
        for (int tries = 0; tries < 5 && !running(); ++tries) {
            port_ = freePort();
            start();
        }
    }

    ~MosquittoBroker()
    {
        stop();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    int port() const { return port_; }
    bool running() const { return pid_ > 0; }
    std::string url(const std::string& prefix) const
    {
        return "mqtt://127.0.0.1:" + std::to_string(port_) + "/" + prefix;
    }
    std::string log() const
    {
        std::ifstream in(folder_ + "/mosquitto.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // (Re)starts on the same port; true once it accepts connections.
    bool start()
    {
        if (running() || folder_.empty()) return running();
        writeConfig();
        std::string config = folder_ + "/mosquitto.conf", logFile = folder_ + "/mosquitto.log";
        pid_t pid = ::fork();
        if (pid == 0) {
            // Only async-signal-safe calls between fork and exec.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            ::execl(kProgram, kProgram, "-c", config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) return false;
        pid_ = pid;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < giveUp) {
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            if (accepts()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
        return false;
    }

    // Asks the broker to end (a persistent one saves its sessions), then insists.
    void stop()
    {
        if (!running()) return;
        ::kill(pid_, SIGTERM);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > giveUp) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
    }

    static int freePort()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        ::close(fd);
        return port;
    }

private:
    void writeConfig() const
    {
        // Run as root (as in CI), mosquitto would switch to its own user, who cannot write here.
        const passwd* user = ::getpwuid(::geteuid());
        std::ofstream config(folder_ + "/mosquitto.conf");
        config << "listener " << port_ << " 127.0.0.1\n"
               << "allow_anonymous true\n"
               << "persistence " << (persistent_ ? "true" : "false") << "\n"
               << "persistence_location " << folder_ << "/\n"
               << (user ? "user " + std::string(user->pw_name) + "\n" : "");
    }

    bool accepts() const
    {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    bool persistent_;
    std::string folder_;
    int port_ = 0;
    pid_t pid_ = -1;
};
