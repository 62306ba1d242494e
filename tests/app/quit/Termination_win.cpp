#include "Termination.h"

#include <windows.h>

namespace termination {

namespace {
enum Code { SessionEnd = 1, CtrlBreak = 2 };

struct Search {
    DWORD pid;
    QList<HWND> windows;
};

BOOL CALLBACK collect(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid)
        search->windows << window;
    return TRUE;
}
} // namespace

QList<Kind> kinds()
{
    // A console event needs a console to travel through, which a headless
    // run (Wine's under CTest among them) does not have.
    if (!GetConsoleWindow())
        return {{QStringLiteral("session end"), SessionEnd}};
    return {{QStringLiteral("session end"), SessionEnd},
            {QStringLiteral("Ctrl+Break"), CtrlBreak}};
}

void prepare(QProcess& process)
{
    // Its own process group, so that a console event can be aimed at it
    // alone rather than at every process on the console, this test's too.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->flags |= CREATE_NEW_PROCESS_GROUP;
    });
}

bool send(QProcess& process, int code)
{
    const DWORD pid = DWORD(process.processId());
    if (code == CtrlBreak)
        return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, pid);
    // As Windows ends a session: every top-level window is asked, then told.
    Search search{pid, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    if (search.windows.isEmpty())
        return false;
    for (HWND window : search.windows) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer);
    }
    for (HWND window : search.windows) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    }
    return true;
}

} // namespace termination
