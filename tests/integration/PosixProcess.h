// Child processes for the end-to-end tests: started with an environment of their own and
// their output in a file, stopped with a signal and waited for.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tavro::testing {

using Environment = std::vector<std::pair<std::string, std::string>>;

// The first of `paths` that is an executable program, "" when none is.
inline std::string Program(std::initializer_list<const char*> paths) {
    for (const char* path : paths) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

// How many descriptors process `pid` holds open (with the one that reads the list).
inline size_t OpenDescriptors(pid_t pid) {
    size_t count = 0;
    if (DIR* directory = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
        while (readdir(directory) != nullptr) {
            ++count;
        }
        closedir(directory);
    }
    return count;
}

// Waits up to `timeout` for `condition`, looking every 50 ms.
template <typename Condition>
bool Within(std::chrono::milliseconds timeout, Condition condition) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// What one hub under test has to itself: a new folder under /tmp (`root`, "" when none could
// be made) for its COM directory, settings and home, and a status block name (`shm`).
struct PrivateStage {
    std::string root;
    std::string shm;
    Environment environment;
};

inline PrivateStage MakePrivateStage(const std::string& name) {
    static int counter = 0;
    PrivateStage stage;
    std::string pattern = "/tmp/" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
        stage.root = pattern;
    }
    stage.shm = "/" + name + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    stage.environment = {{"TAVRO_DEVDIR", stage.root + "/dev"},
                         {"XDG_CONFIG_HOME", stage.root + "/config"},
                         {"TAVRO_SHM", stage.shm},
                         {"HOME", stage.root}};
    return stage;
}

class ChildProcess {
public:
    // Runs `arguments` (the program first) with `environment` added, standard output and
    // error appended to `logPath` (standard error to `errorPath` when one is given). With
    // `withInput` the child's standard input is a pipe that SendInput writes to. `handed`
    // descriptors become the child's 3, 4, ... with LISTEN_FDS and LISTEN_PID set, as a
    // service manager hands them over.
    ChildProcess(std::vector<std::string> arguments, const Environment& environment,
                 const std::string& logPath, bool withInput = false,
                 const std::string& errorPath = "", const std::vector<int>& handed = {}) {
        int input[2] = {-1, -1};
        if (withInput && pipe2(input, O_CLOEXEC) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            for (const auto& [name, value] : environment) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(log, STDOUT_FILENO);
            if (errorPath.empty()) {
                dup2(log, STDERR_FILENO);
            } else {
                dup2(open(errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), STDERR_FILENO);
            }
            if (withInput) {
                dup2(input[0], STDIN_FILENO);
            } else {
                const int none = open("/dev/null", O_RDONLY);
                dup2(none, STDIN_FILENO);
            }
            const int firstHanded = 3;
            for (size_t i = 0; i < handed.size(); ++i) {
                dup2(handed[i], 900 + static_cast<int>(i));
            }
            for (size_t i = 0; i < handed.size(); ++i) {
                dup2(900 + static_cast<int>(i), firstHanded + static_cast<int>(i));
            }
            if (!handed.empty()) {
                setenv("LISTEN_FDS", std::to_string(handed.size()).c_str(), 1);
                setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
            }
            // Nothing else of the test's: an inherited pipe or terminal would keep peers open.
            for (int fd = firstHanded + static_cast<int>(handed.size()); fd < 1024; ++fd) {
                close(fd);
            }
            std::vector<char*> argv;
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (withInput) {
            close(input[0]);
            input_ = input[1];
        }
    }
    ~ChildProcess() {
        if (input_ >= 0) {
            close(input_);
        }
        if (pid_ > 0) {
            Stop(SIGKILL);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    bool SendInput(const std::string& bytes) const {
        return input_ >= 0 &&
               write(input_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // True while the process has not ended.
    bool Running() {
        if (pid_ <= 0) {
            return false;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return false;
        }
        return true;
    }

    // Sends `signal` and waits up to `patience`; then SIGKILL. The exit code (128 + signal for
    // a process the signal ended), -1 when it had to be killed.
    int Stop(int signal = SIGTERM,
             std::chrono::milliseconds patience = std::chrono::milliseconds(10000)) {
        if (pid_ <= 0) {
            return exitCode_;
        }
        kill(pid_, signal);
        return Wait(patience);
    }

    // Waits for the process to end by itself, at most `patience`; -1 (and killed) if not.
    int Wait(std::chrono::milliseconds patience = std::chrono::milliseconds(10000)) {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (Running()) {
            if (std::chrono::steady_clock::now() >= end) {
                kill(pid_, SIGKILL);
                int status = 0;
                waitpid(pid_, &status, 0);
                pid_ = -1;
                exitCode_ = -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return exitCode_;
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int exitCode_ = -1;
};

// Runs a program to its end; its exit code and what it printed (standard output and error).
inline int RunProgram(const std::vector<std::string>& arguments, const Environment& environment,
                      std::string& output, const std::string& scratchPath) {
    std::remove(scratchPath.c_str());
    ChildProcess child(arguments, environment, scratchPath);
    const int code = child.Wait(std::chrono::milliseconds(20000));
    std::ifstream file(scratchPath);
    std::stringstream text;
    text << file.rdbuf();
    output = text.str();
    return code;
}

// RunProgram with standard output and standard error apart.
struct ProgramRun {
    int code;
    std::string output;
    std::string errors;
};
inline std::string FileText(const std::string& path);
inline ProgramRun RunProgramApart(const std::vector<std::string>& arguments,
                                  const Environment& environment, const std::string& scratchPath) {
    const std::string errorPath = scratchPath + ".err";
    std::remove(scratchPath.c_str());
    std::remove(errorPath.c_str());
    ChildProcess child(arguments, environment, scratchPath, false, errorPath);
    const int code = child.Wait(std::chrono::milliseconds(20000));
    return {code, FileText(scratchPath), FileText(errorPath)};
}

inline std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace tavro::testing
