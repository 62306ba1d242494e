/* The conversation between the bridge (inside the Linux trovport.dll) and
 * trovport-host.exe (a 32-bit Windows program under Wine) over the host's
 * standard input and output. PROTOCOL.md beside this file describes it; this
 * header holds its numbers so both sides are built from one place. It is C,
 * since the host is built with the MinGW C compiler. */
#ifndef TROVPORT_BRIDGE_PROTOCOL_H
#define TROVPORT_BRIDGE_PROTOCOL_H

/* Bumped whenever a frame changes; the bridge refuses a host of another. */
#define BRIDGE_PROTOCOL_VERSION 1u

/* Every frame: u32 op, u32 payload size, then the payload. Integers are
 * little-endian, doubles their eight IEEE-754 bytes. */
#define BRIDGE_HEADER_SIZE 8u
/* Far above any frame; a size beyond it means the stream is out of step. */
#define BRIDGE_MAX_PAYLOAD 65536u

enum BridgeOp {
    BRIDGE_OP_HELLO = 1, /* host -> bridge, once at start: u32 version */
    BRIDGE_OP_LOAD = 2,  /* path (UTF-8) -> u32 code, u32 detail */
    BRIDGE_OP_PORTS = 3, /* 4 x (u32 size, device path) -> u32 ports not stored */
    BRIDGE_OP_OPEN = 4,  /* i32 port, i32 speed -> u32 result byte, u32 handle */
    BRIDGE_OP_READ = 5,  /* u32 ordinal, u32 handle, i32 model, 16-byte record
                            -> 16-byte record, i32 result */
    BRIDGE_OP_CLOSE = 6  /* u32 handle -> u32 CloseHandle result, u32 error */
};

/* Answers to LOAD. */
enum BridgeLoadCode {
    BRIDGE_LOAD_OK = 0,
    BRIDGE_LOAD_NOT_ABSOLUTE = 1, /* detail 0 */
    BRIDGE_LOAD_FAILED = 2,       /* detail: GetLastError() of LoadLibraryExW */
    BRIDGE_LOAD_NO_ORDINAL = 3,   /* detail: the missing ordinal */
    BRIDGE_LOAD_TWICE = 4         /* a host loads one library in its life */
};

/* The driver's five functions by the ordinals the maker exports them under. */
#define BRIDGE_ORDINAL_OPEN 1u
#define BRIDGE_ORDINAL_SALINITY 7u
#define BRIDGE_ORDINAL_COMPENSATED 11u
#define BRIDGE_ORDINAL_UNCOMPENSATED 12u
#define BRIDGE_ORDINAL_TEMPERATURE 5u

/* The ports whose device links the host keeps in Wine's registry. */
#define BRIDGE_PORTS 4u

/* Payload sizes of the fixed frames. */
#define BRIDGE_HELLO_SIZE 4u
#define BRIDGE_LOAD_REPLY_SIZE 8u
#define BRIDGE_PORTS_REPLY_SIZE 4u
#define BRIDGE_OPEN_SIZE 8u
#define BRIDGE_OPEN_REPLY_SIZE 8u
#define BRIDGE_RECORD_SIZE 16u
#define BRIDGE_READ_SIZE (12u + BRIDGE_RECORD_SIZE)
#define BRIDGE_READ_REPLY_SIZE (BRIDGE_RECORD_SIZE + 4u)
#define BRIDGE_CLOSE_SIZE 4u
#define BRIDGE_CLOSE_REPLY_SIZE 8u

#endif
