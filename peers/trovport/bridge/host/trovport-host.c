/* trovport-host.exe: hosts the meter maker's 32-bit trovport.dll under Wine
 * for the bridge in the Linux trovport.dll. It loads the one library the
 * bridge names, by its full path, and calls its five functions by ordinal
 * with stdcall as the bridge asks over standard input and output
 * (PROTOCOL.md). It ends when its standard input ends, closing every port
 * the library opened for it. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "../BridgeProtocol.h"

typedef unsigned char(__stdcall* OpenFn)(int32_t port, int32_t speed, HANDLE* handle);
typedef int32_t(__stdcall* ReadFn)(HANDLE handle, int32_t model, void* record);
typedef LPWSTR(CDECL* DosNameFn)(LPCSTR unixName);

/* The library's own record layout: the double first, 8-byte aligned as its
 * compiler lays it out. */
typedef struct {
    double Value;
    int32_t Status;
    int32_t Padding;
} MeasuredValue;

static HANDLE protocolIn = INVALID_HANDLE_VALUE;
static HANDLE protocolOut = INVALID_HANDLE_VALUE;
static HMODULE driver = NULL;
static OpenFn openPort = NULL;
static ReadFn readFns[13]; /* by ordinal */

/* Ports the library opened and the bridge has not closed yet: closed when the
 * bridge goes, so the serial devices are free again. */
#define MAX_OPEN 256
static HANDLE openHandles[MAX_OPEN];
static int openCount = 0;

static void say(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, (DWORD)strlen(text), &written, NULL);
}

static LONG WINAPI onCrash(EXCEPTION_POINTERS* info)
{
    char text[160];
    snprintf(text, sizeof text,
             "trovport: the maker's driver failed inside with exception 0x%08lx at %p\n",
             (unsigned long)info->ExceptionRecord->ExceptionCode,
             info->ExceptionRecord->ExceptionAddress);
    say(text);
    /* Straight out, so Wine does not start its debugger on the way. */
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

static int readAll(void* buffer, DWORD size)
{
    char* at = (char*)buffer;
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(protocolIn, at, size, &got, NULL) || got == 0)
            return 0;
        at += got;
        size -= got;
    }
    return 1;
}

static int writeAll(const void* buffer, DWORD size)
{
    const char* at = (const char*)buffer;
    while (size > 0) {
        DWORD put = 0;
        if (!WriteFile(protocolOut, at, size, &put, NULL) || put == 0)
            return 0;
        at += put;
        size -= put;
    }
    return 1;
}

static void putU32(unsigned char* at, uint32_t v)
{
    at[0] = (unsigned char)v;
    at[1] = (unsigned char)(v >> 8);
    at[2] = (unsigned char)(v >> 16);
    at[3] = (unsigned char)(v >> 24);
}

static uint32_t getU32(const unsigned char* at)
{
    return (uint32_t)at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16)
           | ((uint32_t)at[3] << 24);
}

static int reply(uint32_t op, const unsigned char* payload, uint32_t size)
{
    unsigned char header[BRIDGE_HEADER_SIZE];
    putU32(header, op);
    putU32(header + 4, size);
    return writeAll(header, sizeof header) && writeAll(payload, size);
}

static int reply2(uint32_t op, uint32_t a, uint32_t b)
{
    unsigned char payload[8];
    putU32(payload, a);
    putU32(payload + 4, b);
    return reply(op, payload, sizeof payload);
}

/* A path the bridge made absolute: a Unix one, turned into Wine's own name
 * for it, or a Windows one with a drive or a server. NULL for anything else;
 * the library is never looked up through the search path. */
static wchar_t* fullWindowsPath(const char* path)
{
    if (path[0] == '/') {
        DosNameFn dosName = (DosNameFn)(void*)GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                             "wine_get_dos_file_name");
        return dosName ? dosName(path) : NULL;
    }
    const int drive = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':'
                      && (path[2] == '\\' || path[2] == '/');
    const int server = (path[0] == '\\' && path[1] == '\\');
    if (!drive && !server)
        return NULL;
    const int n = MultiByteToWideChar(CP_UTF8, 0, path, -1, NULL, 0);
    wchar_t* wide = n > 0 ? (wchar_t*)HeapAlloc(GetProcessHeap(), 0, n * sizeof(wchar_t)) : NULL;
    if (wide)
        MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, n);
    return wide;
}

static int load(const unsigned char* payload, uint32_t size)
{
    if (driver)
        return reply2(BRIDGE_OP_LOAD, BRIDGE_LOAD_TWICE, 0);
    char* path = (char*)HeapAlloc(GetProcessHeap(), 0, size + 1);
    if (!path)
        return 0;
    memcpy(path, payload, size);
    path[size] = 0;
    wchar_t* full = fullWindowsPath(path);
    HeapFree(GetProcessHeap(), 0, path);
    if (!full)
        return reply2(BRIDGE_OP_LOAD, BRIDGE_LOAD_NOT_ABSOLUTE, 0);

    /* The library's own dependencies come from its folder first, as for a
     * program that loads it by its full path. */
    driver = LoadLibraryExW(full, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = GetLastError();
    HeapFree(GetProcessHeap(), 0, full);
    if (!driver)
        return reply2(BRIDGE_OP_LOAD, BRIDGE_LOAD_FAILED, error);

    static const uint32_t ordinals[5] = {BRIDGE_ORDINAL_OPEN, BRIDGE_ORDINAL_SALINITY,
                                         BRIDGE_ORDINAL_COMPENSATED, BRIDGE_ORDINAL_UNCOMPENSATED,
                                         BRIDGE_ORDINAL_TEMPERATURE};
    for (int i = 0; i < 5; ++i) {
        FARPROC f = GetProcAddress(driver, MAKEINTRESOURCEA(ordinals[i]));
        if (!f)
            return reply2(BRIDGE_OP_LOAD, BRIDGE_LOAD_NO_ORDINAL, ordinals[i]);
        if (ordinals[i] == BRIDGE_ORDINAL_OPEN)
            openPort = (OpenFn)(void*)f;
        else
            readFns[ordinals[i]] = (ReadFn)(void*)f;
    }
    return reply2(BRIDGE_OP_LOAD, BRIDGE_LOAD_OK, 0);
}

/* Wine's mount manager makes the COMn links of a prefix anew from this key
 * whenever the prefix's session starts; the bridge writes the links itself
 * for the session already running. */
static int ports(const unsigned char* payload, uint32_t size)
{
    HKEY key;
    uint32_t failed = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Wine\\Ports", 0, NULL, 0, KEY_ALL_ACCESS,
                        NULL, &key, NULL)
        != ERROR_SUCCESS)
        return reply2(BRIDGE_OP_PORTS, BRIDGE_PORTS, 0) ? 1 : 0;
    uint32_t at = 0;
    for (uint32_t port = 1; port <= BRIDGE_PORTS; ++port) {
        if (at + 4 > size)
            break;
        const uint32_t length = getU32(payload + at);
        at += 4;
        if (length > size - at)
            break;
        wchar_t name[8];
        wsprintfW(name, L"COM%u", port);
        if (length == 0) {
            RegDeleteValueW(key, name);
        } else {
            wchar_t device[1024];
            const int n = MultiByteToWideChar(CP_UTF8, 0, (const char*)payload + at, (int)length,
                                              device, 1023);
            device[n > 0 ? n : 0] = 0;
            if (n <= 0
                || RegSetValueExW(key, name, 0, REG_SZ, (const BYTE*)device,
                                  (DWORD)((n + 1) * sizeof(wchar_t)))
                       != ERROR_SUCCESS)
                ++failed;
        }
        at += length;
    }
    RegCloseKey(key);
    unsigned char out[4];
    putU32(out, failed);
    return reply(BRIDGE_OP_PORTS, out, sizeof out);
}

static int openOne(const unsigned char* payload)
{
    HANDLE handle = NULL;
    unsigned char result = 0;
    if (openPort)
        result = openPort((int32_t)getU32(payload), (int32_t)getU32(payload + 4), &handle);
    if (result && openCount < MAX_OPEN)
        openHandles[openCount++] = handle;
    return reply2(BRIDGE_OP_OPEN, result, (uint32_t)(uintptr_t)handle);
}

static int readOne(const unsigned char* payload)
{
    const uint32_t ordinal = getU32(payload);
    const HANDLE handle = (HANDLE)(uintptr_t)getU32(payload + 4);
    const int32_t model = (int32_t)getU32(payload + 8);
    /* The library gets the record as the caller left it, as it would in
     * the caller's own process. */
    MeasuredValue record;
    memcpy(&record, payload + 12, BRIDGE_RECORD_SIZE);
    int32_t result = 0;
    if (ordinal < 13 && readFns[ordinal])
        result = readFns[ordinal](handle, model, &record);
    unsigned char out[BRIDGE_READ_REPLY_SIZE];
    memcpy(out, &record, BRIDGE_RECORD_SIZE);
    putU32(out + BRIDGE_RECORD_SIZE, (uint32_t)result);
    return reply(BRIDGE_OP_READ, out, sizeof out);
}

static int closeOne(const unsigned char* payload)
{
    const HANDLE handle = (HANDLE)(uintptr_t)getU32(payload);
    for (int i = 0; i < openCount; ++i) {
        if (openHandles[i] == handle) {
            openHandles[i] = openHandles[--openCount];
            break;
        }
    }
    const BOOL ok = CloseHandle(handle);
    return reply2(BRIDGE_OP_CLOSE, ok ? 1u : 0u, ok ? 0u : GetLastError());
}

/* What the maker's library writes to its standard output must not land in
 * the conversation, nor may it read the bridge's requests: the protocol
 * keeps private copies of both, and the library's standard input and output
 * become NUL and standard error. */
static int takeProtocolHandles(void)
{
    const HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, GetStdHandle(STD_INPUT_HANDLE), self, &protocolIn, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)
        || !DuplicateHandle(self, GetStdHandle(STD_OUTPUT_HANDLE), self, &protocolOut, 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
        return 0;
    fflush(stdout);
    _dup2(_fileno(stderr), _fileno(stdout));
    freopen("NUL", "rb", stdin);
    SetStdHandle(STD_OUTPUT_HANDLE, GetStdHandle(STD_ERROR_HANDLE));
    SetStdHandle(STD_INPUT_HANDLE,
                 CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_EXISTING, 0, NULL));
    return 1;
}

int main(void)
{
    /* A library that cannot be loaded or a missing dependency is reported to
     * the bridge, never as a dialog that nobody can answer. */
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(onCrash);
    if (!takeProtocolHandles())
        return 2;

    unsigned char hello[BRIDGE_HELLO_SIZE];
    putU32(hello, BRIDGE_PROTOCOL_VERSION);
    if (!reply(BRIDGE_OP_HELLO, hello, sizeof hello))
        return 2;

    static unsigned char payload[BRIDGE_MAX_PAYLOAD];
    for (;;) {
        unsigned char header[BRIDGE_HEADER_SIZE];
        if (!readAll(header, sizeof header))
            break; /* the bridge is gone */
        const uint32_t op = getU32(header);
        const uint32_t size = getU32(header + 4);
        if (size > BRIDGE_MAX_PAYLOAD || !readAll(payload, size))
            break;
        int ok = 0;
        switch (op) {
        case BRIDGE_OP_LOAD: ok = load(payload, size); break;
        case BRIDGE_OP_PORTS: ok = ports(payload, size); break;
        case BRIDGE_OP_OPEN: ok = size == BRIDGE_OPEN_SIZE && openOne(payload); break;
        case BRIDGE_OP_READ: ok = size == BRIDGE_READ_SIZE && readOne(payload); break;
        case BRIDGE_OP_CLOSE: ok = size == BRIDGE_CLOSE_SIZE && closeOne(payload); break;
        default: break;
        }
        if (!ok)
            break; /* out of step with the bridge: it will see the end */
    }

    for (int i = 0; i < openCount; ++i)
        CloseHandle(openHandles[i]);
    return 0;
}
