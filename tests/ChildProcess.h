#pragma once
// A real program of ours as a child process, for the tests that run the built binaries.
// Standard output and standard error go to files, so a chatty child can never block on a
// full pipe and a test reads what it printed whenever it likes.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace bifuel::test {

class ChildProcess {
  public:
    // Runs `program` with `args` in `workDir`; its output goes to files in `outputDir`.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& workDir, const std::filesystem::path& outputDir) {
        static int counter = 0;
        const std::string stem =
            std::filesystem::path(program).filename().string() + "-" + std::to_string(++counter);
        outPath_ = outputDir / (stem + ".out");
        errPath_ = outputDir / (stem + ".err");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
        std::vector<std::string> all{program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0 || status_.has_value(); }

    void signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }

    // The wait status once the child has ended, or none when it is still running at the
    // deadline (a hang; the destructor kills it).
    std::optional<int> wait(std::chrono::milliseconds deadline) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        while (pid_ > 0) {
            int status = 0;
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                status_ = status;
            } else if (r < 0 || std::chrono::steady_clock::now() > until) {
                return std::nullopt;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        return status_;
    }

    // The exit code, or -1 for a hang or a death by signal.
    int exitCode(std::chrono::milliseconds deadline) {
        const auto status = wait(deadline);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    std::string out() const { return slurp(outPath_); }
    std::string err() const { return slurp(errPath_); }

    // Waits until standard output holds `text`; false at the deadline or when the child
    // ended without printing it.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds deadline) {
        const auto until = std::chrono::steady_clock::now() + deadline;
        for (;;) {
            if (out().find(text) != std::string::npos) return true;
            if (std::chrono::steady_clock::now() > until) return false;
            if (pid_ < 0 || wait(std::chrono::milliseconds(0))) {
                return out().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // The first line of standard output, without its line end.
    std::optional<std::string> firstLine(std::chrono::milliseconds deadline) {
        if (!waitForOutput("\n", deadline)) return std::nullopt;
        const std::string text = out();
        return text.substr(0, text.find('\n'));
    }

  private:
    static std::string slurp(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    pid_t pid_ = -1;
    std::optional<int> status_;
    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
};

} // namespace bifuel::test
