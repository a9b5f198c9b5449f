// One gps-sim process for a test: started on its own COM number in the test's COM directory,
// stopped (and waited for) when the object goes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tavro::testing {

class SimProcess {
public:
    // `logPath` keeps the simulator's messages (commands, speed changes) for a failing test.
    SimProcess(uint32_t comNumber, std::vector<std::string> arguments, const std::string& logPath) {
        arguments.insert(arguments.begin(),
                         {GPS_SIM_PATH, "--com", std::to_string(comNumber), "--quiet"});
        if (!logPath.empty()) {
            arguments.push_back("--log");
            arguments.push_back(logPath);
        }
        pid_ = fork();
        if (pid_ == 0) {
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            execv(GPS_SIM_PATH, argv.data());
            _exit(127);
        }
    }
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    bool Started() const { return pid_ > 0; }

    // SIGTERM, then SIGKILL if it has not ended within 5 s.
    void Stop() {
        if (pid_ <= 0) {
            return;
        }
        kill(pid_, SIGTERM);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() >= end) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

} // namespace tavro::testing
