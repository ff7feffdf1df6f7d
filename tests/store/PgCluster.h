#pragma once
// A PostgreSQL 15 of the test's own: initdb in a temporary folder, listening only on a socket in
// that folder. PostgreSQL refuses to run as root, so as root its programs run as nobody.
#include <libpq-fe.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ServerFixtures.h"

namespace zx::test {

class PgCluster {
public:
    // The cluster of this test program, started on first use; null when PostgreSQL is not
    // installed (Why() says so).
    static PgCluster* Shared() {
        static std::unique_ptr<PgCluster> cluster = [] {
            auto c = std::make_unique<PgCluster>();
            return c->Start() ? std::move(c) : nullptr;
        }();
        return cluster.get();
    }
    static std::string Why() {
        return "PostgreSQL 15 is not installed (no " + BinDir() +
               "/initdb); tools/setup.sh installs it";
    }

    PgCluster() = default;
    ~PgCluster() {
        Thaw();
        Ctl("stop -m immediate");
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // A new, empty database; its postgresql:// address.
    std::string NewDatabase() {
        const std::string name = "t" + std::to_string(++databases_);
        auto c = Connect(Address("postgres"));
        PGresult* r = PQexec(c.get(), ("CREATE DATABASE " + name).c_str());
        const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
        if (!ok) throw std::runtime_error(PQerrorMessage(c.get()));
        return Address(name);
    }
    std::string Address(const std::string& database) const {
        return "postgresql:///" + database + "?host=" + folder_.Path() + "&user=zolvex";
    }
    // As an operator's restart: the connections of the servers are cut.
    void Stop() {
        if (!Ctl("stop -m fast")) throw std::runtime_error("pg_ctl stop failed");
    }
    void Restart() {
        if (!Ctl("start")) throw std::runtime_error("pg_ctl start failed");
    }

    // As a database machine that stops answering without closing anything: the postmaster and
    // every backend stopped with SIGSTOP. Connections are still taken and bytes still accepted
    // by the system, so only a deadline of the client's own ends a wait. Thaw (or the Frozen
    // guard) lets them go on.
    void Freeze() {
        const pid_t postmaster = Postmaster();
        kill(postmaster, SIGSTOP);  // first, so that it starts no backend meanwhile
        frozen_ = {postmaster};
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            std::getline(stat, line);
            // pid (comm) state ppid ...: the command may hold blanks and parentheses.
            const size_t close = line.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(line.substr(close + 1));
            std::string state;
            pid_t parent = 0;
            rest >> state >> parent;
            if (parent != postmaster) continue;
            const pid_t pid = static_cast<pid_t>(std::stol(name));
            kill(pid, SIGSTOP);
            frozen_.push_back(pid);
        }
    }
    void Thaw() {
        for (const pid_t pid : frozen_) kill(pid, SIGCONT);
        frozen_.clear();
    }
    // Frozen for its lifetime, or a minute at most: then the database goes on whatever the test
    // waits for, so that a call that waits for it without a deadline of its own ends (and fails
    // the test) instead of hanging it.
    class Frozen {
    public:
        explicit Frozen(PgCluster& cluster) : cluster_(cluster) {
            cluster_.Freeze();
            watchdog_ = std::thread([this] {
                std::unique_lock lock(mutex_);
                cv_.wait_for(lock, std::chrono::minutes(1), [this] { return done_; });
                cluster_.Thaw();
            });
        }
        ~Frozen() {
            {
                std::lock_guard lock(mutex_);
                done_ = true;
            }
            cv_.notify_all();
            watchdog_.join();
        }
        Frozen(const Frozen&) = delete;
        Frozen& operator=(const Frozen&) = delete;

    private:
        PgCluster& cluster_;
        std::mutex mutex_;
        std::condition_variable cv_;
        bool done_ = false;
        std::thread watchdog_;
    };

private:
    struct PgClose {
        void operator()(PGconn* c) const { PQfinish(c); }
    };
    static std::unique_ptr<PGconn, PgClose> Connect(const std::string& address) {
        std::unique_ptr<PGconn, PgClose> c(PQconnectdb(address.c_str()));
        if (PQstatus(c.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(c.get()));
        return c;
    }
    pid_t Postmaster() const {
        std::ifstream in(folder_.Path() + "/data/postmaster.pid");
        long pid = 0;
        if (!(in >> pid) || pid <= 0) throw std::runtime_error("no postmaster.pid");
        return static_cast<pid_t>(pid);
    }
    static std::string BinDir() {
        const char* dir = std::getenv("ZOLVEX_PG_BIN");
        return dir ? dir : "/usr/lib/postgresql/15/bin";
    }
    // The command as the user that owns the cluster.
    std::string As(const std::string& command) const {
        return geteuid() == 0 ? "runuser -u nobody -- " + command : command;
    }
    bool Ctl(const std::string& what) {
        if (!started_) return false;
        const std::string cmd = As(BinDir() + "/pg_ctl -D " + folder_.Path() + "/data -l " +
                                   folder_.Path() + "/log -w -t 60 " + what) +
                                " >/dev/null";
        return std::system(cmd.c_str()) == 0;
    }
    bool Start() {
        if (!std::filesystem::exists(BinDir() + "/initdb")) return false;
        if (geteuid() == 0)
            std::filesystem::permissions(folder_.Path(), std::filesystem::perms::all);
        const std::string init = As(BinDir() + "/initdb -D " + folder_.Path() +
                                    "/data -A trust -U zolvex --no-sync -E UTF8 --locale=C") +
                                 " >/dev/null";
        if (std::system(init.c_str()) != 0) throw std::runtime_error("initdb failed");
        started_ = true;
        // No TCP at all; fsync off only spares the shared machine's disk: a stopped or killed
        // server, unlike a lost machine, keeps what the system has been given.
        if (!Ctl("-o \"-k " + folder_.Path() + " -c listen_addresses='' -c fsync=off\" start"))
            throw std::runtime_error("pg_ctl start failed; see " + folder_.Path() + "/log");
        // From now on the same options hold for every start.
        const std::string opts = folder_.Path() + "/data/postgresql.auto.conf";
        const std::string conf = "unix_socket_directories = '" + folder_.Path() +
                                 "'\nlisten_addresses = ''\nfsync = off\n";
        FILE* f = std::fopen(opts.c_str(), "a");
        if (f) {
            std::fputs(conf.c_str(), f);
            std::fclose(f);
        }
        return true;
    }

    TempFolder folder_;
    bool started_ = false;
    std::vector<pid_t> frozen_;
    std::atomic<int> databases_{0};
};

}  // namespace zx::test
