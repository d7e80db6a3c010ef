// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private InfluxDB 1.x (Debian's influxd) on free loopback ports, for the tests and the fleet
// benchmark: its own configuration and data in a temporary folder, stopped when the object goes
// and killed with the process that started it. Queries go through curl's command line, so that
// the test checks the writer with a client of its own. Header-only, as MosquittoBroker.h.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "MosquittoBroker.h"

class InfluxServer {
public:
    static constexpr const char* kProgram = "/usr/bin/influxd";
    static bool installed() { return ::access(kProgram, X_OK) == 0 && ::access("/usr/bin/curl", X_OK) == 0; }

    InfluxServer()
    {
        std::string folder = (std::filesystem::temp_directory_path() / "quivra-influx-XXXXXX").string();
        if (!::mkdtemp(folder.data())) return;
        folder_ = folder;
        for (int tries = 0; tries < 5 && !running(); ++tries) {
            port_ = MosquittoBroker::freePort();
            rpcPort_ = MosquittoBroker::freePort();
            start();
        }
    }

    ~InfluxServer()
    {
        stop();
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    InfluxServer(const InfluxServer&) = delete;
    InfluxServer& operator=(const InfluxServer&) = delete;

    int port() const { return port_; }
    bool running() const { return pid_ > 0; }
    std::string url(const std::string& database) const
    {
        return "influx://127.0.0.1:" + std::to_string(port_) + "/" + database;
    }
    std::string log() const
    {
        std::ifstream in(folder_ + "/influxd.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // (Re)starts on the same ports with the same data; true once it answers /ping.
    bool start()
    {
        if (running() || folder_.empty()) return running();
        writeConfig();
        const std::string config = folder_ + "/influxdb.conf", logFile = folder_ + "/influxd.log";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            int out = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            ::execl(kProgram, kProgram, "run", "-config", config.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid < 0) return false;
        pid_ = pid;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < giveUp) {
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            if (http("GET", "/ping", "") == "204") return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        stop();
        return false;
    }

    void stop()
    {
        if (!running()) return;
        ::kill(pid_, SIGTERM);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
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

    // An InfluxQL statement; the JSON answer.
    std::string query(const std::string& statement, const std::string& database = "") const
    {
        std::string path = "/query?epoch=u";
        if (!database.empty()) path += "&db=" + database;
        return http("POST", path, statement);
    }

private:
    // curl's command line: the answer's body, or for /ping the status code.
    std::string http(const std::string& method, const std::string& path, const std::string& statement) const
    {
        std::string command = "curl -s --max-time 10 -X " + method;
        if (path == "/ping") command += " -o /dev/null -w '%{http_code}'";
        if (!statement.empty()) command += " --data-urlencode \"q=" + statement + "\"";
        command += " 'http://127.0.0.1:" + std::to_string(port_) + path + "'";
        std::string answer;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) answer.append(buffer, n);
            ::pclose(pipe);
        }
        return answer;
    }

    void writeConfig() const
    {
        std::ofstream config(folder_ + "/influxdb.conf");
        config << "reporting-enabled = false\n"
               << "bind-address = \"127.0.0.1:" << rpcPort_ << "\"\n"
               << "[meta]\n  dir = \"" << folder_ << "/meta\"\n  logging-enabled = false\n"
               << "[data]\n  dir = \"" << folder_ << "/data\"\n  wal-dir = \"" << folder_ << "/wal\"\n"
               << "  query-log-enabled = false\n"
               << "[monitor]\n  store-enabled = false\n"
               << "[subscriber]\n  enabled = false\n"
               << "[http]\n  bind-address = \"127.0.0.1:" << port_ << "\"\n  log-enabled = false\n"
               << "  pprof-enabled = false\n"
               << "[continuous_queries]\n  enabled = false\n"
               << "[retention]\n  enabled = false\n"
               << "[shard-precreation]\n  enabled = false\n";
    }

    std::string folder_;
    int port_ = 0, rpcPort_ = 0;
    pid_t pid_ = -1;
};
