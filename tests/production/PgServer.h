#pragma once
// A throw-away PostgreSQL server for the tests: a cluster made by initdb in a temporary folder,
// listening on a Unix socket there only, run by an unprivileged user (the server refuses root: as
// root the cluster belongs to "nobody"). Started and stopped by the test itself.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class CPgServer {
public:
    CPgServer() {
        for (const char* version : {"15", "16", "17", "14", "13"}) {
            const std::string bin = std::string("/usr/lib/postgresql/") + version + "/bin";
            if (std::filesystem::exists(bin + "/initdb")) {
                m_bin = bin;
                break;
            }
        }
        char pattern[] = "/tmp/veltro-pg-XXXXXX";
        if (m_bin.empty() || ::mkdtemp(pattern) == nullptr)
            return;
        m_dir = pattern;
        if (::geteuid() == 0) {
            const passwd* user = ::getpwnam("nobody");
            if (user == nullptr)
                return;
            m_uid = user->pw_uid;
            m_gid = user->pw_gid;
            if (::chown(m_dir.c_str(), m_uid, m_gid) != 0)
                return;
        }
        m_ready = MakeFromTemplate();
        if (!m_ready)
            return;
        std::ofstream(Data() + "/postgresql.conf", std::ios::app)
            << "unix_socket_directories = '" << m_dir << "'\n";
        m_ready = Start();
    }
    ~CPgServer() {
        if (!m_dir.empty()) {
            Stop("immediate"); // thrown away: no checkpoint needed
            std::error_code ignored;
            std::filesystem::remove_all(m_dir, ignored);
        }
    }
    CPgServer(const CPgServer&) = delete;
    CPgServer& operator=(const CPgServer&) = delete;

    bool Ready() const { return m_ready; }
    // Why it is not: for the skip message.
    std::string Missing() const {
        return m_bin.empty() ? "no PostgreSQL server under /usr/lib/postgresql"
                             : "initdb or start failed, see " + m_dir;
    }
    const std::string& Socket() const { return m_dir; }

    bool Start() {
        return Run({m_bin + "/pg_ctl", "-D", Data(), "-l", m_dir + "/server.log", "-w", "-s", "start"}) == 0;
    }
    // "immediate" is a crash as far as the clients can tell; "fast" a clean stop.
    bool Stop(const char* mode = "fast") {
        return Run({m_bin + "/pg_ctl", "-D", Data(), "-m", mode, "-w", "-s", "stop"}) == 0;
    }

    // SQL as the owner, into database db; its output (psql -At), or "ERROR" when psql failed.
    std::string Sql(const std::string& sql, const std::string& db = "postgres") const {
        const std::string out = m_dir + "/psql.out";
        const int status = Run({m_bin + "/psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-h", m_dir,
                                "-U", "veltro_admin", "-d", db, "-c", sql},
                               out);
        std::ifstream in(out);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return status == 0 ? text : "ERROR " + text;
    }

    // A connection string for role user to database db on this server.
    std::string Url(const std::string& db, const std::string& user, const std::string& extra = "") const {
        return "postgresql:///" + db + "?host=" + m_dir + "&user=" + user + extra;
    }

private:
    std::string Data() const { return m_dir + "/data"; }

    // initdb takes seconds: one cluster (with the databases veltro and other_version and the role
    // station) is made once per machine under a lock, and each server starts from a copy of it.
    bool MakeFromTemplate() {
        const uid_t owner = m_uid != 0 ? m_uid : ::geteuid();
        const std::string base = "/tmp/veltro-pg-template-" + std::to_string(owner) + "-" +
                                 std::filesystem::path(m_bin).parent_path().filename().string();
        const std::string lockPath = base + ".lock";
        const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
            if (lock >= 0)
                ::close(lock);
            return false;
        }
        struct stat st {};
        bool ok = ::lstat(base.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == owner &&
                  std::filesystem::exists(base + "/data/PG_VERSION");
        if (!ok) {
            // Made here, in a folder of ours, then given its name.
            const std::string made = m_dir + "/template";
            ok = Run({m_bin + "/initdb", "-D", made + "/data", "-U", "veltro_admin", "-A", "trust",
                      "--no-sync", "-E", "UTF8", "--locale=C"}) == 0;
            if (ok) {
                std::ofstream(made + "/data/pg_hba.conf", std::ios::trunc)
                    << "local all veltro_admin trust\nlocal all all scram-sha-256\n";
                std::ofstream(made + "/data/postgresql.conf", std::ios::app)
                    << "listen_addresses = ''\nmax_connections = 40\nunix_socket_directories = '" << m_dir
                    << "'\n";
                const std::string saved = m_dir;
                ok = Run({m_bin + "/pg_ctl", "-D", made + "/data", "-w", "-s", "start"}) == 0;
                ok = ok && Sql("CREATE DATABASE veltro") == "" &&
                     Sql("CREATE DATABASE other_version") == "" &&
                     Sql("CREATE ROLE station LOGIN PASSWORD 'station-secret'") == "";
                ok = Run({m_bin + "/pg_ctl", "-D", made + "/data", "-m", "fast", "-w", "-s", "stop"}) == 0 &&
                     ok;
            }
            std::error_code ignored;
            std::filesystem::remove_all(base, ignored);
            ok = ok && ::rename(made.c_str(), base.c_str()) == 0;
        }
        ok = ok && Run({"/bin/cp", "-a", base + "/data", Data()}) == 0;
        ::close(lock);
        return ok;
    }

    // Runs argv as the cluster's user; its output into out (or /dev/null). Its exit status.
    int Run(const std::vector<std::string>& argv, const std::string& out = "/dev/null") const {
        const pid_t child = ::fork();
        if (child == 0) {
            const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (fd >= 0) {
                ::dup2(fd, STDOUT_FILENO);
                ::dup2(fd, STDERR_FILENO);
            }
            if (m_uid != 0 && fd >= 0 && ::fchown(fd, m_uid, m_gid) != 0)
                ::_exit(126);
            if (::geteuid() == 0 && m_uid != 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(m_gid) != 0 || ::setuid(m_uid) != 0))
                ::_exit(126);
            ::unsetenv("PGPASSWORD");
            ::unsetenv("PGPASSFILE");
            ::unsetenv("PGSERVICEFILE");
            if (::chdir(m_dir.c_str()) != 0)
                ::_exit(126);
            std::vector<char*> args;
            for (const std::string& arg : argv)
                args.push_back(const_cast<char*>(arg.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }

    std::string m_bin;
    std::string m_dir;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    bool m_ready = false;
};
