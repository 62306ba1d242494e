#include "WindowsBridge.h"

#include "TrovportStatus.h"
#include "WineHost.h"
#include "WinePrefix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace trovport::bridge {

namespace {

constexpr const char* HostFileName = "trovport-host.exe";

void report(const std::string& text)
{
    std::fprintf(stderr, "trovport: %s\n", text.c_str());
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string realPath(const char* path)
{
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path, nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool isRegularFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The host ships beside this library's own file (not the link to it in the
// working folder), or beside the program.
std::string hostExecutable()
{
    std::vector<std::string> folders;
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&hostExecutable), &info) && info.dli_fname) {
        const std::string library = realPath(info.dli_fname);
        if (!library.empty())
            folders.push_back(folderOf(library));
    }
    const std::string program = realPath("/proc/self/exe");
    if (!program.empty())
        folders.push_back(folderOf(program));
    for (const std::string& folder : folders)
        if (isRegularFile(folder + "/" + HostFileName))
            return folder + "/" + HostFileName;
    return {};
}

// Which maker's library a host has loaded: a file put in its place since
// is a different library, served by a host of its own.
struct DriverFile {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNs = 0;
    bool operator==(const DriverFile&) const = default;
};

DriverFile identify(const std::string& path)
{
    DriverFile file;
    file.path = path;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        file.device = info.st_dev;
        file.inode = info.st_ino;
        file.size = info.st_size;
        file.modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL
                          + info.st_mtim.tv_nsec;
    }
    return file;
}

struct Host {
    DriverFile driver;
    std::unique_ptr<WineHost> wine;
    bool lossReported = false;
};

struct Port {
    int fd = -1; // the program's end, its PortHandle
    dev_t device = 0;
    ino_t inode = 0;
    int peer = -1; // the bridge's end: hangs up when the program closes its own
    std::shared_ptr<Host> host;
    std::uint32_t remote = 0; // the maker's handle inside the host
    int number = 0;           // COMn
};

std::int32_t deliver(MeasuredValue* out, double value, std::int32_t status)
{
    if (out) {
        out->Value = value;
        out->Status = status;
    }
    return status;
}

class Bridge {
public:
    ~Bridge();
    bool open(int port, int speed, const std::string& driverPath, const SerialDevices& serial,
              std::int32_t& handle);
    std::optional<std::int32_t> read(std::int32_t handle, std::int32_t model, MeasuredValue* out,
                                     std::uint32_t ordinal);

private:
    std::shared_ptr<Host> hostFor(const DriverFile& driver, std::string& error);
    bool inUse(const std::shared_ptr<Host>& host) const;
    void reportLoss(Host& host, const std::string& com, const std::string& error);
    void linkPorts(const std::string& com, const SerialDevices& serial);
    void watch();
    void wakeWatcher();
    void closePort(std::size_t index);

    std::mutex mutex_;
    std::vector<std::shared_ptr<Host>> hosts_;
    std::vector<Port> ports_;
    std::thread watcher_;
    int wake_ = -1;
    bool stopping_ = false;
    const pid_t owner_ = ::getpid();
    std::string wine_;
    std::string prefix_;
    // Held shared while this process runs hosts in the prefix: the last
    // process to let go ends Wine's session there.
    int usersLock_ = -1;
};

Bridge& bridge()
{
    static Bridge instance;
    return instance;
}

Bridge::~Bridge()
{
    if (owner_ != ::getpid())
        return; // a forked copy of the program: the hosts are the original's
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wakeWatcher();
    if (watcher_.joinable())
        watcher_.join();
    for (Port& port : ports_)
        ::close(port.peer);
    ports_.clear();
    // Each host closes the ports the maker's library still holds as its
    // input ends.
    for (auto& host : hosts_)
        host->wine->end();
    const bool hadHosts = !hosts_.empty();
    hosts_.clear();
    // The last process to let go of the prefix ends Wine's session in it
    // too, so nothing of Wine outlives the program.
    if (usersLock_ >= 0) {
        if (hadHosts && ::flock(usersLock_, LOCK_EX | LOCK_NB) == 0)
            endWineSession(wine_, prefix_, limits::SessionEnd);
        ::close(usersLock_);
    }
    if (wake_ >= 0)
        ::close(wake_);
}

bool Bridge::inUse(const std::shared_ptr<Host>& host) const
{
    return std::any_of(ports_.begin(), ports_.end(),
                       [&](const Port& p) { return p.host == host; });
}

void Bridge::reportLoss(Host& host, const std::string& com, const std::string& error)
{
    if (host.lossReported)
        return;
    host.lossReported = true;
    report(com + ": " + error + "; the port gives status " + std::to_string(StatusBridgeLost)
           + " until it is closed, and the next open starts a new helper");
}

std::shared_ptr<Host> Bridge::hostFor(const DriverFile& driver, std::string& error)
{
    // Lost hosts nobody reads from any more, and idle hosts of a library no
    // longer named, make way.
    for (auto it = hosts_.begin(); it != hosts_.end();) {
        const bool lost = !(*it)->wine->alive();
        if ((lost || (*it)->driver != driver) && !inUse(*it)) {
            (*it)->wine->end();
            it = hosts_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& host : hosts_)
        if (host->wine->alive() && host->driver == driver)
            return host;

    const std::string wine = findProgram("wine", std::getenv("PATH"));
    if (wine.empty()) {
        error = "wine is not installed (no wine program on the PATH); the maker's driver needs "
                "wine and wine32 (apt install wine wine32:i386)";
        return nullptr;
    }
    const std::string exe = hostExecutable();
    if (exe.empty()) {
        error = std::string("the helper ") + HostFileName
                + " is neither beside this library nor beside the program";
        return nullptr;
    }
    const std::string prefix = prefixPath();
    if (prefix.empty()) {
        error = "no folder for the Wine prefix (neither XDG_DATA_HOME nor HOME is a full path)";
        return nullptr;
    }
    // Wine makes the prefix itself, but not the folders above it.
    const std::string data = folderOf(prefix);
    for (std::size_t at = 1; at != std::string::npos; at = data.find('/', at + 1))
        ::mkdir(data.substr(0, data.find('/', at + 1)).c_str(), 0700);

    if (usersLock_ < 0) {
        usersLock_ = ::open((prefix + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (usersLock_ >= 0)
            ::flock(usersLock_, LOCK_SH);
    }
    wine_ = wine;
    prefix_ = prefix;

    WineHost::Launch launch;
    launch.wine = wine;
    launch.hostExe = exe;
    launch.prefix = prefix;
    launch.firstUse = !prefixReady(prefix);
    if (launch.firstUse)
        report("making the Wine prefix " + prefix
               + " for the maker's driver; the first time takes up to a minute");

    // The first of the prefix's users starts Wine's server itself, with its
    // output kept from the program's; else the host would start it with its
    // own standard error, which is the program's.
    bool ownServer = false;
    if (!launch.firstUse && usersLock_ >= 0 && hosts_.empty()
        && ::flock(usersLock_, LOCK_EX | LOCK_NB) == 0) {
        ownServer = startWineServer(wine, prefix);
        ::flock(usersLock_, LOCK_SH);
    }
    // A server that no host reached would wait for one for ever.
    auto giveUp = [&] {
        if (ownServer)
            endWineSession(wine, prefix, limits::SessionEnd);
        return nullptr;
    };

    auto host = std::make_shared<Host>();
    host->driver = driver;
    host->wine = WineHost::start(launch, error);
    if (!host->wine)
        return giveUp();
    if (!host->wine->load(driver.path, error)) {
        error = "the maker's driver " + driver.path + " cannot be used: " + error;
        host->wine->end();
        return giveUp();
    }
    hosts_.push_back(host);
    return host;
}

void Bridge::linkPorts(const std::string& com, const SerialDevices& serial)
{
    for (std::size_t i = 0; i < serial.size(); ++i) {
        if (serial[i].empty())
            continue;
        const std::string name = "COM" + std::to_string(i + 1);
        struct stat info {};
        if (::stat(serial[i].c_str(), &info) != 0)
            report("[Serial] " + name + ": " + serial[i] + " does not exist (yet); linked anyway");
        std::string error;
        if (!linkSerialPort(prefix_, int(i + 1), serial[i], error))
            report(com + ": [Serial] " + name + " cannot be linked: " + error);
    }
}

bool Bridge::open(int port, int speed, const std::string& driverPath,
                  const SerialDevices& serial, std::int32_t& handle)
{
    const std::string com = "COM" + std::to_string(port);
    const std::string path = absolutePath(driverPath);
    std::string reason;
    if (!isWin32Library(path, reason)) {
        report(com + ": the maker's driver " + path + " cannot be used: " + reason);
        return false;
    }

    std::lock_guard lock(mutex_);
    if (stopping_)
        return false;
    std::string error;
    const std::shared_ptr<Host> host = hostFor(identify(path), error);
    if (!host) {
        report(com + ": " + error);
        return false;
    }
    // Wine's registry keeps the links for the sessions to come; the links
    // themselves serve the session that runs now.
    if (!host->wine->setPorts(serial, error)) {
        report(com + ": " + error);
        if (!host->wine->alive())
            return false;
    }
    linkPorts(com, serial);

    bool opened = false;
    std::uint32_t remote = 0;
    if (!host->wine->open(port, speed, opened, remote, error)) {
        report(com + ": " + error);
        return false;
    }
    if (!opened) {
        report(com + ": the maker's driver did not open the port");
        return false;
    }

    int pair[2] = {-1, -1};
    struct stat info {};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0
        || ::fstat(pair[0], &info) != 0) {
        report(com + ": no descriptor available: " + std::strerror(errno));
        if (pair[0] >= 0) {
            ::close(pair[0]);
            ::close(pair[1]);
        }
        host->wine->close(remote, error);
        return false;
    }
    if (wake_ < 0)
        wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Port entry;
    entry.fd = pair[0];
    entry.device = info.st_dev;
    entry.inode = info.st_ino;
    entry.peer = pair[1];
    entry.host = host;
    entry.remote = remote;
    entry.number = port;
    ports_.push_back(entry);
    if (!watcher_.joinable())
        watcher_ = std::thread([this] { watch(); });
    else
        wakeWatcher();
    handle = pair[0];
    return true;
}

std::optional<std::int32_t> Bridge::read(std::int32_t handle, std::int32_t model,
                                         MeasuredValue* out, std::uint32_t ordinal)
{
    std::lock_guard lock(mutex_);
    // The number may be one the program closed and the system gave out
    // again, perhaps to a newer port of ours while the closed one's entry
    // still waits for the watcher: only the file behind it tells them apart.
    struct stat info {};
    if (ports_.empty() || ::fstat(handle, &info) != 0)
        return std::nullopt;
    const auto found = std::find_if(ports_.begin(), ports_.end(), [&](const Port& p) {
        return p.fd == handle && p.device == info.st_dev && p.inode == info.st_ino;
    });
    if (found == ports_.end())
        return std::nullopt;

    Host& host = *found->host;
    if (!host.wine->alive())
        return deliver(out, 0.0, StatusBridgeLost);
    MeasuredValue record = out ? *out : MeasuredValue{};
    std::int32_t result = 0;
    std::string error;
    if (!host.wine->read(ordinal, found->remote, model, record, result, error)) {
        reportLoss(host, "COM" + std::to_string(found->number), error);
        return deliver(out, 0.0, StatusBridgeLost);
    }
    if (out) {
        out->Value = record.Value;
        out->Status = record.Status;
    }
    return result;
}

void Bridge::wakeWatcher()
{
    if (wake_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_, &one, sizeof one);
    }
}

void Bridge::closePort(std::size_t index)
{
    Port port = ports_[index];
    ports_.erase(ports_.begin() + std::ptrdiff_t(index));
    ::close(port.peer);
    std::string error;
    if (port.host->wine->alive() && !port.host->wine->close(port.remote, error))
        reportLoss(*port.host, "COM" + std::to_string(port.number), error);
}

// The program closes its port with close(), which the library cannot see;
// the other end of the pair can. This thread only waits for that, and then
// closes the maker's handle as the program's CloseHandle would have.
void Bridge::watch()
{
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        std::vector<pollfd> fds;
        fds.push_back({wake_, POLLIN, 0});
        for (const Port& port : ports_)
            fds.push_back({port.peer, POLLIN, 0});
        lock.unlock();
        while (::poll(fds.data(), fds.size(), -1) < 0 && errno == EINTR) {
        }
        lock.lock();
        if (fds[0].revents) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(wake_, &count, sizeof count);
        }
        for (std::size_t i = 1; i < fds.size() && !stopping_; ++i) {
            if (!fds[i].revents)
                continue;
            // Only this thread closes a peer, so the number still means it.
            const auto found = std::find_if(ports_.begin(), ports_.end(), [&](const Port& p) {
                return p.peer == fds[i].fd;
            });
            if (found != ports_.end())
                closePort(std::size_t(found - ports_.begin()));
        }
    }
}

} // namespace

bool openWindowsPort(int port, int speed, const std::string& driverPath,
                     const SerialDevices& serial, TrovportHandle& handle)
{
    return bridge().open(port, speed, driverPath, serial, handle);
}

std::optional<std::int32_t> readWindowsPort(TrovportHandle handle, std::int32_t model,
                                            MeasuredValue* out, std::uint32_t ordinal)
{
    return bridge().read(handle, model, out, ordinal);
}

} // namespace trovport::bridge
