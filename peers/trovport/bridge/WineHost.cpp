#include "WineHost.h"

#include "BridgeProtocol.h"
#include "WinePrefix.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace trovport::bridge {

namespace {

using Clock = std::chrono::steady_clock;

void putU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(char((v >> (8 * i)) & 0xff));
}

std::uint32_t getU32(const std::string& in, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | std::uint8_t(in[at + std::size_t(i)]);
    return v;
}

std::string frame(std::uint32_t op, const std::string& payload)
{
    std::string out;
    out.reserve(BRIDGE_HEADER_SIZE + payload.size());
    putU32(out, op);
    putU32(out, std::uint32_t(payload.size()));
    return out + payload;
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() <= 0 ? 0 : int(left.count()) + 1;
}

std::string seconds(std::chrono::milliseconds bound)
{
    const long long ms = bound.count();
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000)
        text += "." + std::to_string(ms % 1000 / 100);
    return text + " s";
}

// A descriptor above the three standard ones, so that the child's dup2 onto
// 0 or 1 always makes a new descriptor (and so drops close-on-exec).
int aboveStandard(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "it ended with code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "it was ended by signal " + std::to_string(WTERMSIG(status));
    return "it ended";
}

// Waits for `pid` to end within `bound`; its status, or nullopt-like false.
bool reap(pid_t pid, std::chrono::milliseconds bound, int& status)
{
    const auto deadline = Clock::now() + bound;
    for (;;) {
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        if (got == pid || (got < 0 && errno != EINTR))
            return got == pid;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<std::string> hostEnvironment(const std::string& prefix)
{
    std::vector<std::string> env;
    bool debugSet = false;
    bool overridesSet = false;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "WINEPREFIX" || name == "WINEARCH")
            continue; // the bridge's own prefix, always 32-bit
        debugSet = debugSet || name == "WINEDEBUG";
        overridesSet = overridesSet || name == "WINEDLLOVERRIDES";
        env.push_back(entry);
    }
    env.push_back("WINEPREFIX=" + prefix);
    env.push_back("WINEARCH=win32");
    // Wine's own chatter would bury the driver's messages; a user who wants
    // it sets WINEDEBUG himself.
    if (!debugSet)
        env.push_back("WINEDEBUG=-all");
    // No offer to download Mono or Gecko while a prefix is made: nobody is
    // there to answer, and the driver needs neither.
    if (!overridesSet)
        env.push_back("WINEDLLOVERRIDES=mscoree,mshtml=");
    return env;
}

// Starts a Wine process with the given file actions. A signal mask or
// ignored signals of the program must not reach Wine; a process group of its
// own keeps the terminal's Ctrl+C for the program, which then ends the host
// in order. posix_spawn's result: 0 when started.
int spawnApart(pid_t& pid, const std::string& path, const posix_spawn_file_actions_t& actions,
               char* const* argv, char* const* envp)
{
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF
                                        | POSIX_SPAWN_SETPGROUP);
    const int spawned = ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv, envp);
    posix_spawnattr_destroy(&attr);
    return spawned;
}

} // namespace

std::unique_ptr<WineHost> WineHost::start(const Launch& launch, std::string& error)
{
    int toHost[2] = {-1, -1};
    int fromHost[2] = {-1, -1};
    if (::pipe2(toHost, O_CLOEXEC) != 0 || ::pipe2(fromHost, O_CLOEXEC) != 0) {
        error = std::string("no pipe for the helper: ") + std::strerror(errno);
        for (int fd : {toHost[0], toHost[1], fromHost[0], fromHost[1]})
            if (fd >= 0)
                ::close(fd);
        return nullptr;
    }
    for (int* fd : {&toHost[0], &toHost[1], &fromHost[0], &fromHost[1]})
        *fd = aboveStandard(*fd);

    std::vector<std::string> env = hostEnvironment(launch.prefix);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string wine = launch.wine;
    std::string exe = launch.hostExe;
    char* argv[] = {wine.data(), exe.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toHost[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromHost[1], 1);
    pid_t pid = -1;
    const int spawned = spawnApart(pid, wine, actions, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(toHost[0]);
    ::close(fromHost[1]);
    if (spawned != 0) {
        ::close(toHost[1]);
        ::close(fromHost[0]);
        error = "wine (" + launch.wine + ") could not be started: " + std::strerror(spawned);
        return nullptr;
    }

    std::unique_ptr<WineHost> host(new WineHost);
    host->pid_ = pid;
    host->owner_ = ::getpid();
    host->toHost_ = toHost[1];
    host->fromHost_ = fromHost[0];
    ::fcntl(host->toHost_, F_SETFL, O_NONBLOCK);
    ::fcntl(host->fromHost_, F_SETFL, O_NONBLOCK);

    const auto bound = launch.firstUse ? limits::FirstStart : limits::Start;
    char header[BRIDGE_HEADER_SIZE + BRIDGE_HELLO_SIZE];
    const int got = host->receive(header, sizeof header, Clock::now() + bound);
    if (got <= 0) {
        const std::string how = host->lose(got == 0);
        error = got == 0 ? "wine could not run the helper " + launch.hostExe + " (" + how
                               + "); is wine32 installed (apt install wine32:i386)?"
                         : "the helper " + launch.hostExe + " did not start within "
                               + seconds(bound);
        return nullptr;
    }
    const std::string hello(header, sizeof header);
    if (getU32(hello, 0) != BRIDGE_OP_HELLO || getU32(hello, 4) != BRIDGE_HELLO_SIZE
        || getU32(hello, 8) != BRIDGE_PROTOCOL_VERSION) {
        host->lose();
        error = "the helper " + launch.hostExe + " is not the one this library was built with";
        return nullptr;
    }
    return host;
}

WineHost::~WineHost()
{
    end();
}

void WineHost::closeChannels()
{
    if (toHost_ >= 0)
        ::close(toHost_);
    if (fromHost_ >= 0)
        ::close(fromHost_);
    toHost_ = fromHost_ = -1;
}

std::string WineHost::lose(bool ended)
{
    std::string how = "it was stopped";
    if (pid_ > 0 && owner_ == ::getpid()) {
        int status = 0;
        // A host that closed its output is on its way out: then say how it
        // ended. One that still runs is not waited for.
        if (reap(pid_, std::chrono::milliseconds(ended ? 500 : 0), status)) {
            how = describeStatus(status);
        } else {
            ::kill(pid_, SIGKILL);
            reap(pid_, std::chrono::milliseconds(1000), status);
        }
    }
    pid_ = -1;
    closeChannels();
    return how;
}

void WineHost::end()
{
    if (pid_ <= 0)
        return;
    if (owner_ != ::getpid()) {
        // A forked copy of the program: the host belongs to the original.
        pid_ = -1;
        closeChannels();
        return;
    }
    ::close(toHost_);
    toHost_ = -1;
    int status = 0;
    if (!reap(pid_, limits::End, status)) {
        ::kill(pid_, SIGKILL);
        reap(pid_, std::chrono::milliseconds(1000), status);
    }
    pid_ = -1;
    closeChannels();
}

bool WineHost::send(const std::string& bytes, Clock::time_point deadline)
{
    // A host that has ended must not take the program with it: SIGPIPE is
    // held back while writing, and one it caused is taken away again.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
    bool ok = true;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(toHost_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{toHost_, POLLOUT, 0};
            const int wait = millisecondsUntil(deadline);
            if (wait > 0 && ::poll(&p, 1, wait) >= 0)
                continue;
        }
        ok = false;
        break;
    }
    if (!ok && errno == EPIPE) {
        const timespec zero{};
        sigtimedwait(&pipeSignal, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return ok;
}

int WineHost::receive(char* into, std::size_t size, Clock::time_point deadline)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fromHost_, into + done, size - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return 0;
        const int wait = millisecondsUntil(deadline);
        if (wait == 0)
            return -1;
        pollfd p{fromHost_, POLLIN, 0};
        if (::poll(&p, 1, wait) == 0 && Clock::now() >= deadline)
            return -1;
    }
    return 1;
}

bool WineHost::call(std::uint32_t op, const std::string& payload, std::uint32_t replySize,
                    std::string& reply, std::chrono::milliseconds bound, const std::string& what,
                    std::string& error)
{
    if (!alive()) {
        error = "the helper is gone";
        return false;
    }
    const auto deadline = Clock::now() + bound;
    if (!send(frame(op, payload), deadline)) {
        error = "the helper ended before " + what + " (" + lose(true) + ")";
        return false;
    }
    char header[BRIDGE_HEADER_SIZE];
    int got = receive(header, sizeof header, deadline);
    std::string head(header, got > 0 ? sizeof header : 0);
    if (got > 0 && (getU32(head, 0) != op || getU32(head, 4) != replySize)) {
        error = "the helper answered " + what + " out of step; it was stopped";
        lose();
        return false;
    }
    if (got > 0) {
        reply.assign(replySize, '\0');
        got = receive(reply.data(), replySize, deadline);
    }
    if (got == 0) {
        error = "the helper ended during " + what + " (" + lose(true) + ")";
        return false;
    }
    if (got < 0) {
        lose();
        error = "the maker's driver did not return from " + what + " within " + seconds(bound)
                + "; its helper was stopped";
        return false;
    }
    return true;
}

bool WineHost::load(const std::string& absolutePath, std::string& error)
{
    std::string reply;
    if (!call(BRIDGE_OP_LOAD, absolutePath, BRIDGE_LOAD_REPLY_SIZE, reply, limits::Load,
              "loading it", error))
        return false;
    const std::uint32_t code = getU32(reply, 0);
    const std::uint32_t detail = getU32(reply, 4);
    switch (code) {
    case BRIDGE_LOAD_OK:
        return true;
    case BRIDGE_LOAD_NOT_ABSOLUTE:
        error = "Wine cannot reach it by a full path";
        return false;
    case BRIDGE_LOAD_FAILED:
        error = "Wine cannot load it (Windows error " + std::to_string(detail)
                + (detail == 126 ? ": a library it needs is missing" : "")
                + (detail == 193 ? ": not a valid 32-bit library" : "") + ")";
        return false;
    case BRIDGE_LOAD_NO_ORDINAL: {
        const char* name = detail == BRIDGE_ORDINAL_OPEN          ? "OpenMeterPort"
                           : detail == BRIDGE_ORDINAL_SALINITY     ? "ReadSalinity"
                           : detail == BRIDGE_ORDINAL_COMPENSATED  ? "ReadCompensatedConductivity"
                           : detail == BRIDGE_ORDINAL_UNCOMPENSATED ? "ReadUncompensatedConductivity"
                                                                    : "ReadTemperature";
        error = "it does not export ordinal " + std::to_string(detail) + " (" + name + ")";
        return false;
    }
    default:
        error = "the helper refused it (code " + std::to_string(code) + ")";
        return false;
    }
}

bool WineHost::setPorts(const SerialDevices& devices, std::string& error)
{
    if (portsSent_ && devices == ports_)
        return true;
    std::string payload;
    for (const std::string& device : devices) {
        putU32(payload, std::uint32_t(device.size()));
        payload += device;
    }
    std::string reply;
    if (!call(BRIDGE_OP_PORTS, payload, BRIDGE_PORTS_REPLY_SIZE, reply, limits::Ports,
              "storing the serial ports", error))
        return false;
    ports_ = devices;
    portsSent_ = true;
    if (getU32(reply, 0) != 0) {
        error = "Wine's registry did not take " + std::to_string(getU32(reply, 0))
                + " of the serial ports";
        return false;
    }
    return true;
}

bool WineHost::open(std::int32_t port, std::int32_t speed, bool& opened, std::uint32_t& handle,
                    std::string& error)
{
    std::string payload;
    putU32(payload, std::uint32_t(port));
    putU32(payload, std::uint32_t(speed));
    std::string reply;
    if (!call(BRIDGE_OP_OPEN, payload, BRIDGE_OPEN_REPLY_SIZE, reply, limits::Open,
              "OpenMeterPort", error))
        return false;
    opened = getU32(reply, 0) != 0;
    handle = getU32(reply, 4);
    return true;
}

bool WineHost::read(std::uint32_t ordinal, std::uint32_t handle, std::int32_t model,
                    MeasuredValue& record, std::int32_t& result, std::string& error)
{
    static_assert(sizeof(MeasuredValue) == BRIDGE_RECORD_SIZE);
    std::string payload;
    putU32(payload, ordinal);
    putU32(payload, handle);
    putU32(payload, std::uint32_t(model));
    payload.append(reinterpret_cast<const char*>(&record), BRIDGE_RECORD_SIZE);
    const char* name = ordinal == BRIDGE_ORDINAL_SALINITY      ? "ReadSalinity"
                       : ordinal == BRIDGE_ORDINAL_COMPENSATED  ? "ReadCompensatedConductivity"
                       : ordinal == BRIDGE_ORDINAL_UNCOMPENSATED ? "ReadUncompensatedConductivity"
                                                                 : "ReadTemperature";
    std::string reply;
    if (!call(BRIDGE_OP_READ, payload, BRIDGE_READ_REPLY_SIZE, reply, limits::Read, name, error))
        return false;
    // Value and Status only: the padding of the caller's record is never
    // touched, as the contract says.
    std::memcpy(&record.Value, reply.data(), sizeof record.Value);
    std::memcpy(&record.Status, reply.data() + 8, sizeof record.Status);
    result = std::int32_t(getU32(reply, BRIDGE_RECORD_SIZE));
    return true;
}

namespace {

// Runs wineserver (beside `wine`) with `option` for the prefix, with no
// standard input, output or error, and waits up to `bound` for it; true
// when it ended with code 0.
bool runWineServer(const std::string& wine, const std::string& prefix, const char* option,
                   std::chrono::milliseconds bound)
{
    std::string server = wine.substr(0, wine.rfind('/') + 1) + "wineserver";
    if (::access(server.c_str(), X_OK) != 0)
        server = findProgram("wineserver", std::getenv("PATH"));
    if (server.empty())
        return false;
    std::vector<std::string> env = hostEnvironment(prefix);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string opt = option;
    char* argv[] = {server.data(), opt.empty() ? nullptr : opt.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    pid_t pid = -1;
    const int spawned = spawnApart(pid, server, actions, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    if (!reap(pid, bound, status)) {
        ::kill(pid, SIGKILL);
        reap(pid, std::chrono::milliseconds(1000), status);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

bool startWineServer(const std::string& wine, const std::string& prefix)
{
    // It goes into the background once it serves the prefix.
    return runWineServer(wine, prefix, "", limits::Start);
}

void endWineSession(const std::string& wine, const std::string& prefix,
                    std::chrono::milliseconds bound)
{
    runWineServer(wine, prefix, "-k", bound);
}

bool WineHost::close(std::uint32_t handle, std::string& error)
{
    std::string payload;
    putU32(payload, handle);
    std::string reply;
    return call(BRIDGE_OP_CLOSE, payload, BRIDGE_CLOSE_REPLY_SIZE, reply, limits::Close,
                "CloseHandle", error);
}

} // namespace trovport::bridge
