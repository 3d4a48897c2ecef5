#include "platform/shell/XdgShell.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/log/DebugOutput.h"
#include "platform/shell/ShellCodes.h"

extern char** environ;

namespace platform::shell {

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> Split(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start)
            parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Getenv(const char* name, std::string fallback = {}) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::string(value) : fallback;
}

int SpawnErrorCode(int error) {
    switch (error) {
        case ENOENT:
            return kFileNotFound;
        case ENOTDIR:
            return kPathNotFound;
        case EACCES:
        case EPERM:
            return kAccessDenied;
        case ENOMEM:
            return kOutOfMemory;
        case ENOEXEC:
            return kBadFormat;
        default:
            return kOutOfResources;
    }
}

// xdg-open's exit status in the shell's terms: 2 a file does not exist, 3 no handler was
// found, 4 the handler failed; anything else is a failed association.
int OpenerExitCode(int status) {
    switch (status) {
        case 0:
            return kOpened;
        case 2:
            return kFileNotFound;
        case 3:
            return kNoAssociation;
        default:
            return kAssociationIncomplete;
    }
}

struct Spawned {
    pid_t pid = -1;
    int error = 0;
    int output = -1;  // read end of the child's standard output, when captured
};

// Starts `argv` in a session of its own (so that it outlives us and our terminal), with
// standard input from /dev/null; standard output captured when asked.
Spawned Spawn(const std::string& program, const std::vector<std::string>& argv, bool capture) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    int pipeFds[2] = {-1, -1};
    if (capture && pipe2(pipeFds, O_CLOEXEC) == 0)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    Spawned spawned;
    spawned.error =
        posix_spawn(&spawned.pid, program.c_str(), &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0)
        close(pipeFds[1]);
    if (spawned.error != 0) {
        spawned.pid = -1;
        if (pipeFds[0] >= 0)
            close(pipeFds[0]);
    } else {
        spawned.output = pipeFds[0];
    }
    return spawned;
}

// Waits up to `limit` for the child; its exit status, or nothing while it still runs.
std::optional<int> WaitFor(pid_t pid, std::chrono::milliseconds limit) {
    const Clock::time_point end = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0)
            return 127;
        if (Clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class Request final : public OpenRequest {
public:
    explicit Request(IShell::Completion done) : done_(std::move(done)) {}

    void Cancel() override {
        const std::lock_guard lock(mutex_);
        done_ = nullptr;
    }
    void Finish(int code) {
        const std::lock_guard lock(mutex_);
        if (done_)
            done_(code);
        done_ = nullptr;
    }

private:
    std::mutex mutex_;
    IShell::Completion done_;
};

}  // namespace

XdgShell::XdgShell() {
    environment_.path = Getenv("PATH", "/usr/local/bin:/usr/bin:/bin");
    environment_.dataDirs.push_back(
        Getenv("XDG_DATA_HOME", Getenv("HOME", "/root") + "/.local/share"));
    for (std::string& dir : Split(Getenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), ':'))
        environment_.dataDirs.push_back(std::move(dir));
}

XdgShell::XdgShell(Environment environment) : environment_(std::move(environment)) {}

std::shared_ptr<OpenRequest> XdgShell::Open(std::string address, Completion done) {
    auto request = std::make_shared<Request>(std::move(done));
    // Detached: a browser that xdg-open runs in the foreground may last longer than we do.
    std::thread([shell = *this, request, address = std::move(address)] {
        request->Finish(shell.OpenBlocking(address));
    }).detach();
    return request;
}

std::optional<std::string> XdgShell::FindProgram(std::string_view name) const {
    if (name.find('/') != std::string_view::npos)
        return std::string(name);
    for (const std::string& dir : Split(environment_.path, ':')) {
        std::string candidate = dir + "/" + std::string(name);
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

int XdgShell::OpenBlocking(const std::string& address) const {
    int shellCode = kNoAssociation;
    if (const std::optional<std::string> opener = FindProgram("xdg-open")) {
        const Spawned spawned = Spawn(*opener, {"xdg-open", address}, false);
        if (spawned.error != 0) {
            shellCode = SpawnErrorCode(spawned.error);
        } else {
            const std::optional<int> status = WaitFor(spawned.pid, kOpenerGrace);
            if (!status) {
                // Reap it whenever it ends; the address is open meanwhile.
                std::thread([pid = spawned.pid] { waitpid(pid, nullptr, 0); }).detach();
                return kOpened;
            }
            shellCode = OpenerExitCode(*status);
            if (Succeeded(shellCode))
                return shellCode;
        }
    } else {
        OutputDebugString("shell: no xdg-open on the PATH");
    }

    const std::optional<std::string> exec = DefaultHtmlHandlerExec();
    if (!exec)
        return shellCode;
    const std::vector<std::string> argv = FallbackCommand(*exec, address);
    if (argv.size() < 2)
        return shellCode;
    const std::optional<std::string> program = FindProgram(argv[0]);
    if (!program)
        return kFileNotFound;
    const Spawned started = Spawn(*program, argv, false);
    if (started.error != 0)
        return SpawnErrorCode(started.error);
    std::thread([pid = started.pid] { waitpid(pid, nullptr, 0); }).detach();
    return kOpened;
}

std::optional<std::string> XdgShell::DefaultHtmlHandlerExec() const {
    const std::optional<std::string> mime = FindProgram("xdg-mime");
    if (!mime)
        return std::nullopt;
    const Spawned query = Spawn(*mime, {"xdg-mime", "query", "default", "text/html"}, true);
    if (query.error != 0 || query.output < 0)
        return std::nullopt;
    std::string answer;
    char buffer[256];
    // The answer is one short line; the pipe closes when the query ends.
    for (ssize_t n; (n = read(query.output, buffer, sizeof buffer)) > 0 && answer.size() < 4096;)
        answer.append(buffer, std::size_t(n));
    close(query.output);
    if (!WaitFor(query.pid, kOpenerGrace)) {
        kill(query.pid, SIGKILL);
        waitpid(query.pid, nullptr, 0);
        return std::nullopt;
    }
    const std::string id = answer.substr(0, answer.find_first_of("\r\n"));
    if (id.empty() || id.find('/') != std::string::npos)
        return std::nullopt;
    for (const std::string& dir : environment_.dataDirs) {
        std::ifstream file(dir + "/applications/" + id);
        if (!file)
            continue;
        std::stringstream text;
        text << file.rdbuf();
        return ExecLine(text.str());
    }
    return std::nullopt;
}

std::optional<std::string> XdgShell::ExecLine(std::string_view desktopEntry) {
    bool inEntry = false;
    for (const std::string& line : Split(desktopEntry, '\n')) {
        if (!line.empty() && line.front() == '[')
            inEntry = line.rfind("[Desktop Entry]", 0) == 0;
        else if (inEntry && line.rfind("Exec=", 0) == 0)
            return line.substr(5);
    }
    return std::nullopt;
}

std::vector<std::string> XdgShell::FallbackCommand(std::string_view exec,
                                                   std::string_view address) {
    std::size_t cut = exec.size();
    for (const char* code : {"%u", "%U", "%f", "%F"})
        cut = std::min(cut, exec.find(code));
    const std::string_view line = exec.substr(0, cut);

    // Words as a desktop entry quotes them: double quotes group, a backslash inside them
    // takes the next character as it is. A quote left open by the cut ends the words.
    std::vector<std::string> argv;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < line.size())
                word += line[++i];
            else
                word += c;
        } else if (c == '"') {
            quoted = true;
            inWord = true;
        } else if (c == ' ' || c == '\t') {
            if (inWord)
                argv.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord && !(quoted && word.empty()))
        argv.push_back(std::move(word));
    argv.emplace_back(address);
    return argv;
}

}  // namespace platform::shell
