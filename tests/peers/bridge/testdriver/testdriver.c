/* A 32-bit Windows meter driver for the bridge's tests, laid out like the
 * maker's: five stdcall functions exported by ordinal only. What it delivers
 * comes from a text file beside it (same name, ".txt" for ".dll"), so a test
 * can send every status and any double, exactly, through the bridge, and
 * make the driver fail in the ways a real one can.
 *
 * The file, one item a line ('#' starts a comment):
 *   <bits> <status> <bits> <status> <bits> <status> <bits> <status>
 *       a reading: salinity, compensated, uncompensated, temperature; each
 *       value as the 16 hex digits of its IEEE-754 bits, each status decimal
 *   exit <code> | crash | hang
 *       what the next reading call does when the sequence reaches this line
 *   serial      open COMn for real and read each reading from it as a line
 *               in the same form (one line per ReadSalinity)
 *   open-fail | open-hang      what OpenMeterPort does
 *   log         append each call to the ".log" file beside the library
 * The sequence starts again at every open and after its last line; it moves
 * on after ReadTemperature, as the maker's driver is called. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    double Value;
    int32_t Status;
    int32_t Padding;
} MeasuredValue;

enum ItemKind { ITEM_READING, ITEM_EXIT, ITEM_CRASH, ITEM_HANG };

typedef struct {
    int kind;
    int exitCode;
    uint64_t bits[4];
    int32_t status[4];
} Item;

#define MAX_ITEMS 512
static Item items[MAX_ITEMS];
static int itemCount = 0;
static int cursor = 0;
static int serialMode = 0;
static int logging = 0;
static int openFails = 0;
static int openHangs = 0;
static Item serialReading;

static wchar_t basePath[MAX_PATH]; /* the library's path without ".dll" */

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        const DWORD n = GetModuleFileNameW(self, basePath, MAX_PATH - 8);
        if (n > 4)
            basePath[n - 4] = 0;
    }
    return TRUE;
}

static void logLine(const char* text)
{
    if (!logging)
        return;
    wchar_t name[MAX_PATH + 8];
    wsprintfW(name, L"%s.log", basePath);
    HANDLE f = CreateFileW(name, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(f, text, (DWORD)strlen(text), &written, NULL);
    WriteFile(f, "\n", 1, &written, NULL);
    CloseHandle(f);
}

static const char* skipBlanks(const char* p)
{
    while (*p == ' ' || *p == '\t' || *p == ',' || *p == '\r')
        ++p;
    return p;
}

static int parseReading(const char* p, Item* item)
{
    item->kind = ITEM_READING;
    for (int q = 0; q < 4; ++q) {
        p = skipBlanks(p);
        uint64_t bits = 0;
        int digits = 0;
        for (; digits < 16; ++digits, ++p) {
            const char c = *p;
            int v;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
                v = (c | 0x20) - 'a' + 10;
            else
                break;
            bits = (bits << 4) | (uint64_t)v;
        }
        if (digits != 16)
            return 0;
        p = skipBlanks(p);
        int negative = 0;
        if (*p == '-') {
            negative = 1;
            ++p;
        }
        if (*p < '0' || *p > '9')
            return 0;
        int64_t status = 0;
        while (*p >= '0' && *p <= '9')
            status = status * 10 + (*p++ - '0');
        item->bits[q] = bits;
        item->status[q] = (int32_t)(negative ? -status : status);
    }
    return 1;
}

static void loadScript(void)
{
    itemCount = 0;
    cursor = 0;
    serialMode = logging = openFails = openHangs = 0;
    wchar_t name[MAX_PATH + 8];
    wsprintfW(name, L"%s.txt", basePath);
    HANDLE f = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return;
    static char text[1 << 16];
    DWORD size = 0;
    ReadFile(f, text, sizeof text - 1, &size, NULL);
    CloseHandle(f);
    text[size] = 0;

    for (char* line = text; line && *line && itemCount < MAX_ITEMS;) {
        char* next = strchr(line, '\n');
        if (next)
            *next++ = 0;
        const char* p = skipBlanks(line);
        Item* item = &items[itemCount];
        if (*p == 0 || *p == '#')
            ;
        else if (strncmp(p, "serial", 6) == 0)
            serialMode = 1;
        else if (strncmp(p, "log", 3) == 0)
            logging = 1;
        else if (strncmp(p, "open-fail", 9) == 0)
            openFails = 1;
        else if (strncmp(p, "open-hang", 9) == 0)
            openHangs = 1;
        else if (strncmp(p, "exit", 4) == 0) {
            item->kind = ITEM_EXIT;
            item->exitCode = atoi(p + 4);
            ++itemCount;
        } else if (strncmp(p, "crash", 5) == 0) {
            item->kind = ITEM_CRASH;
            ++itemCount;
        } else if (strncmp(p, "hang", 4) == 0) {
            item->kind = ITEM_HANG;
            ++itemCount;
        } else if (parseReading(p, item))
            ++itemCount;
        line = next;
    }
}

unsigned char __stdcall OpenMeterPort(int32_t port, int32_t speed, HANDLE* handle)
{
    loadScript();
    char text[96];
    snprintf(text, sizeof text, "open %ld %ld", (long)port, (long)speed);
    logLine(text);
    if (openHangs)
        Sleep(INFINITE);
    if (openFails)
        return 0;
    if (!serialMode) {
        /* A real handle, so the caller's CloseHandle closes something. */
        *handle = CreateEventW(NULL, TRUE, FALSE, NULL);
        return *handle != NULL;
    }

    wchar_t name[16];
    wsprintfW(name, L"\\\\.\\COM%ld", (long)port);
    HANDLE com = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (com == INVALID_HANDLE_VALUE)
        return 0;
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    GetCommState(com, &dcb);
    dcb.BaudRate = (DWORD)speed;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadTotalTimeoutConstant = 200;
    if (!SetCommState(com, &dcb) || !SetCommTimeouts(com, &timeouts) || !GetCommState(com, &dcb)
        || dcb.BaudRate != (DWORD)speed) {
        CloseHandle(com);
        return 0;
    }
    memset(&serialReading, 0, sizeof serialReading);
    *handle = com;
    return 1;
}

/* One line from the port, for at most about a second. */
static void readSerialLine(HANDLE com)
{
    char line[256];
    int length = 0;
    const DWORD start = GetTickCount();
    while (length < (int)sizeof line - 1 && GetTickCount() - start < 1000) {
        char c;
        DWORD got = 0;
        if (!ReadFile(com, &c, 1, &got, NULL))
            break;
        if (got == 0)
            continue;
        if (c == '\n') {
            if (length > 0)
                break;
            continue;
        }
        line[length++] = c;
    }
    line[length] = 0;
    Item item;
    if (!parseReading(line, &item)) {
        /* Nothing came, or not a reading: a meter error of its own. */
        memset(&item, 0, sizeof item);
        for (int q = 0; q < 4; ++q)
            item.status[q] = 99;
    }
    serialReading = item;
}

static int32_t deliver(HANDLE handle, int32_t model, MeasuredValue* out, int column,
                       unsigned ordinal)
{
    char text[64];
    snprintf(text, sizeof text, "read %u %ld", ordinal, (long)model);
    logLine(text);
    const Item* item;
    if (serialMode) {
        if (column == 0)
            readSerialLine(handle);
        item = &serialReading;
    } else {
        if (itemCount == 0) {
            out->Value = 0;
            out->Status = 98;
            return 98;
        }
        item = &items[cursor];
        switch (item->kind) {
        case ITEM_EXIT: ExitProcess((UINT)item->exitCode);
        case ITEM_CRASH: *(volatile int*)0 = 1; break;
        case ITEM_HANG: Sleep(INFINITE); break;
        default: break;
        }
        if (column == 3)
            cursor = (cursor + 1) % itemCount;
    }
    memcpy(&out->Value, &item->bits[column], sizeof(double));
    out->Status = item->status[column];
    return out->Status;
}

int32_t __stdcall ReadSalinity(HANDLE handle, int32_t model, MeasuredValue* out)
{
    return deliver(handle, model, out, 0, 7);
}

#ifndef TESTDRIVER_WITHOUT_ORDINAL_11
int32_t __stdcall ReadCompensatedConductivity(HANDLE handle, int32_t model, MeasuredValue* out)
{
    return deliver(handle, model, out, 1, 11);
}
#endif

int32_t __stdcall ReadUncompensatedConductivity(HANDLE handle, int32_t model, MeasuredValue* out)
{
    return deliver(handle, model, out, 2, 12);
}

int32_t __stdcall ReadTemperature(HANDLE handle, int32_t model, MeasuredValue* out)
{
    return deliver(handle, model, out, 3, 5);
}
