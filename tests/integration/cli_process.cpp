#include "cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace {

void drain(int fd, std::string* into, bool* open)
{
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0)
        into->append(buffer, size_t(n));
    else if (n == 0 || (errno != EINTR && errno != EAGAIN))
        *open = false;
}

}  // namespace

CliResult run_cli(const CliRun& run)
{
    CliResult result;
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0)
        return result;
    pid_t pid = fork();
    if (pid < 0)
        return result;
    if (pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]})
            close(fd);
        for (const auto& [name, value] : run.env)
            setenv(name.c_str(), value.c_str(), 1);
        const char* program = run.program.empty() ? RARUR_CLI_PATH : run.program.c_str();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program));
        for (const std::string& a : run.args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program, argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!run.input.empty() && write(in[1], run.input.data(), run.input.size()) < 0)
        result.err = "could not write the input\n";
    close(in[1]);
    bool out_open = true, err_open = true, interrupted = false;
    auto start = std::chrono::steady_clock::now();
    while (out_open || err_open) {
        pollfd fds[2] = {{out_open ? out[0] : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}};
        poll(fds, 2, 50);
        if (fds[0].revents)
            drain(out[0], &result.out, &out_open);
        if (fds[1].revents)
            drain(err[0], &result.err, &err_open);
        if (run.interrupt_after_ms > 0 && !interrupted &&
            std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(run.interrupt_after_ms)) {
            kill(pid, SIGINT);
            interrupted = true;
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CliResult run_cli(std::vector<std::string> args)
{
    CliRun run;
    run.args = std::move(args);
    return run_cli(run);
}
