#include "player/media/ChildStart.h"

#include "platform/HelperPath.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

extern char** environ;

pid_t SpawnWorker(const std::string& program, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment, int& socket) {
    socket = -1;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return -1;
    std::vector<std::string> entries = environment;
    for (char** entry = environ; *entry; ++entry) {
        const bool replaced =
            std::any_of(environment.begin(), environment.end(), [entry](const std::string& mine) {
                return std::strncmp(*entry, mine.c_str(), mine.find('=') + 1) == 0;
            });
        if (!replaced)
            entries.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : entries)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    const int failed =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0) {
        ::close(ends[0]);
        return -1;
    }
    socket = ends[0];
    return pid;
}

pid_t StartPlayingChild(bool withDecoders, int& socket, const std::string& first) {
    const std::string player = std::to_string(getpid());
    std::vector<std::string> arguments{"--play", player};
    if (withDecoders)
        arguments.emplace_back("--ffmpeg");
    if (!first.empty()) {
        arguments.emplace_back("--open");
        arguments.push_back(first);
    }
    // What the sound server shows of the child's stream is the player's: the
    // volume controls and the desktop find the player by its name, process
    // and program.
    const std::vector<std::string> identity{
        "PULSE_PROP_OVERRIDE_application.name=Tolvane",
        "PULSE_PROP_OVERRIDE_application.process.id=" + player,
        std::string("PULSE_PROP_OVERRIDE_application.process.binary=") + ProgramName};
    return SpawnWorker(HelperPath(WorkerProgram), arguments, identity, socket);
}

std::string AbsolutePath(std::string_view path) {
    if (path.empty() || path.front() == '/')
        return std::string(path);
    char here[4096];
    if (!::getcwd(here, sizeof here))
        return std::string(path);
    return std::string(here) + '/' + std::string(path);
}

bool NamedForFFmpeg(std::string_view path) {
    const auto endsWith = [path](std::string_view suffix) {
        return path.size() >= suffix.size() &&
               std::equal(
                   suffix.begin(), suffix.end(), path.end() - suffix.size(),
                   [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    };
    return endsWith(".wma") || endsWith(".wmv") || endsWith(".asf");
}

std::string DescribeStartedChild(pid_t pid, int socket) {
    return std::to_string(pid) + ' ' + std::to_string(socket);
}

bool ReadStartedChild(const char* text, pid_t& pid, int& socket) {
    long long id = 0;
    int fd = -1;
    char rest = 0;
    if (!text || std::sscanf(text, "%lld %d%c", &id, &fd, &rest) != 2 || id <= 0 ||
        fd <= STDERR_FILENO)
        return false;
    pid = pid_t(id);
    socket = fd;
    return true;
}
