#pragma once
// One trovport-host.exe under Wine with the maker's library loaded: the
// bridge's side of the conversation in PROTOCOL.md, each call bounded in
// time. A host that ends, answers out of step or not in time is lost: it is
// killed at once, and every later call fails without waiting.
#include "PortConfig.h"
#include "trovport_abi.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace trovport::bridge {

// How long the bridge waits for Wine and the maker's library. The reading
// calls' bound keeps a tick of the program under two seconds whatever the
// library does; the others only keep an open from hanging.
namespace limits {
using std::chrono::milliseconds;
inline constexpr milliseconds Start{30000};       // a host on a prefix already made
inline constexpr milliseconds FirstStart{180000}; // Wine makes the prefix on the way
inline constexpr milliseconds Load{10000};
inline constexpr milliseconds Ports{5000};
inline constexpr milliseconds Open{5000};
inline constexpr milliseconds Read{1500};
inline constexpr milliseconds Close{1500};
inline constexpr milliseconds End{2000};       // a host's own exit once its input ends
inline constexpr milliseconds SessionEnd{3000}; // Wine's session after the last host
} // namespace limits

class WineHost {
public:
    struct Launch {
        std::string wine;    // the wine program
        std::string hostExe; // trovport-host.exe
        std::string prefix;  // WINEPREFIX
        bool firstUse = false;
    };

    // Starts the host and waits for its greeting. nullptr, with `error`
    // saying why, when it does not come up.
    static std::unique_ptr<WineHost> start(const Launch& launch, std::string& error);
    ~WineHost();
    WineHost(const WineHost&) = delete;
    WineHost& operator=(const WineHost&) = delete;

    // Each call: false with `error` when the host refused or was lost.
    bool load(const std::string& absolutePath, std::string& error);
    bool setPorts(const SerialDevices& devices, std::string& error);
    bool open(std::int32_t port, std::int32_t speed, bool& opened, std::uint32_t& handle,
              std::string& error);
    bool read(std::uint32_t ordinal, std::uint32_t handle, std::int32_t model,
              MeasuredValue& record, std::int32_t& result, std::string& error);
    bool close(std::uint32_t handle, std::string& error);

    bool alive() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // The devices last stored with setPorts.
    const SerialDevices& ports() const { return ports_; }

    // Ends the host: its input is closed, so it closes the ports the
    // library still holds and exits; killed when that takes too long.
    void end();

private:
    WineHost() = default;
    bool call(std::uint32_t op, const std::string& payload, std::uint32_t replySize,
              std::string& reply, std::chrono::milliseconds bound, const std::string& what,
              std::string& error);
    bool send(const std::string& frame, std::chrono::steady_clock::time_point deadline);
    // 1 = all arrived, 0 = the host's output ended, -1 = the deadline passed.
    int receive(char* into, std::size_t size, std::chrono::steady_clock::time_point deadline);
    // Kills the host and collects it; returns how it ended, in words. A
    // host whose output `ended` is given a moment to exit by itself first.
    std::string lose(bool ended = false);
    void closeChannels();

    pid_t pid_ = -1;
    pid_t owner_ = -1; // the process that started it (a forked child must not end it)
    int toHost_ = -1;
    int fromHost_ = -1;
    SerialDevices ports_;
    bool portsSent_ = false;
};

// Starts Wine's server for `prefix` with no standard input, output or
// error. Wine's server takes the first serial device it opens for its
// controlling terminal; when that device goes away (a USB adapter pulled
// out) the server is hung up and lists every object it holds, thousands of
// lines, into its standard error, which must not be the program's. False
// when it did not start (one may run already). Only for a prefix that is
// ready and that nobody else uses.
bool startWineServer(const std::string& wine, const std::string& prefix);

// Ends Wine's session of `prefix`, its server and the processes Wine runs
// for it, within `bound` (wineserver -k). Only for a prefix nobody else
// uses: left alone, the session takes two seconds and more to wind down
// after its last program; this takes a fraction of one, and the server
// still saves the prefix's registry on its way out.
void endWineSession(const std::string& wine, const std::string& prefix,
                    std::chrono::milliseconds bound);

} // namespace trovport::bridge
