/*
 * A Windows host of Tidewire, written the way a third-party program uses the DLL: it loads the
 * library by file name with LoadLibraryA, finds every function with GetProcAddress, and calls
 * it through its own stdcall function types. It includes none of the library's headers, so the
 * record layouts and signatures are checked against what hosts were written for, not against
 * the library's own declarations.
 *
 *   host.exe <current|legacy> <dll path> <scenario> [com port] [missing com port]
 *
 * Scenarios:
 *   exports         the export table only: every name and its ordinal, nothing more
 *   flow            a whole life: refusals while idle, start-up failures, a start on the
 *                   simulated modem, an ASCII and a Chinese message, their reports and results,
 *                   a received message, stop, and a second start with other line settings
 *   unload-running  unloads the library while its worker still runs (current edition: no stop
 *                   at all; legacy edition: right after its stop, which does not wait), then
 *                   loads it again and starts on the same port
 *   exit-running    ends the process while the service runs
 *   reconnect       current edition: the module is pulled out under the running service and
 *                   plugged back in at the same COM port; prints "unplug now" and "plug in now"
 *                   for the test script, which does both
 *   texts           under another code page than 936: the library's texts are still GBK
 *
 * Runs under a GBK code page (LC_ALL=zh_CN.GBK under Wine), except the texts scenario: every
 * text below that is not ASCII is GBK bytes. Prints one line per failed check and a closing "N
 * passed, M failed" line; the exit status is 0 only when nothing failed. A call whose callee
 * removed a different number of argument bytes than this host's function type says (a cdecl export
 * on 32-bit Windows) ends the program at once with status 3: its stack is no longer what the
 * compiler thinks it is.
 */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* The convention every export uses; the test script also builds this host with __cdecl here,
 * which must make it fail. */
#ifndef HOST_CALL
#define HOST_CALL __stdcall
#endif

typedef int32_t(HOST_CALL* StartServiceFn)(int32_t, uint32_t, int32_t, uint8_t, int32_t, int32_t,
                                           const char*);
typedef int32_t(HOST_CALL* StartServiceExFn)(const char*, uint32_t, int32_t, uint8_t, int32_t,
                                             int32_t, const char*);
typedef int32_t(HOST_CALL* StopSericeFn)(void);
typedef uint8_t(HOST_CALL* SeviceStartedFn)(void);
typedef int32_t(HOST_CALL* SendMessageFn)(const char*, const char*);
typedef int32_t(HOST_CALL* RecordFn)(char*);
typedef int32_t(HOST_CALL* QueryFn)(int32_t);
typedef int32_t(HOST_CALL* GetLastErrorFn)(char*, int32_t);
typedef int32_t(HOST_CALL* GetLastErrorLegacyFn)(char*);
typedef int32_t(HOST_CALL* SetOptionFn)(const char*, int32_t);

/* Record layouts as hosts declare them: byte offsets, not the library's structures. */
enum {
    kOutgoingSize = 296,
    kOutgoingText = 4,
    kOutgoingNumber = 264,
    kReceivedSize = 320,
    kReceivedSender = 256,
    kReceivedTimestamp = 288,
    kGuard = 16, /* bytes behind each buffer that the library must never touch */
    kLegacyErrorBuffer = 1024,
};
static const unsigned char kUntouched = 0xA5;

/* The library's texts, GBK bytes. */
/* 服务器未启动 */
#define TEXT_NOT_STARTED "\xb7\xfe\xce\xf1\xc6\xf7\xce\xb4\xc6\xf4\xb6\xaf"
/* 串口打开错误 */
#define TEXT_PORT_OPEN "\xb4\xae\xbf\xda\xb4\xf2\xbf\xaa\xb4\xed\xce\xf3"
/* 服务已经启动(或还没有停止成功)，不能再次启动 */
#define TEXT_ALREADY_STARTED                                                                    \
    "\xb7\xfe\xce\xf1\xd2\xd1\xbe\xad\xc6\xf4\xb6\xaf(\xbb\xf2\xbb\xb9\xc3\xbb\xd3\xd0\xcd\xa3" \
    "\xd6\xb9\xb3\xc9\xb9\xa6)\xa3\xac\xb2\xbb\xc4\xdc\xd4\xd9\xb4\xce\xc6\xf4\xb6\xaf"
/* 待发送内容或对方号码不能为空 */
#define TEXT_LEGACY_EMPTY                                                                          \
    "\xb4\xfd\xb7\xa2\xcb\xcd\xc4\xda\xc8\xdd\xbb\xf2\xb6\xd4\xb7\xbd\xba\xc5\xc2\xeb\xb2\xbb\xc4" \
    "\xdc\xce\xaa\xbf\xd5"

/* What this host sends and what the test script makes the network deliver. */
#define ASCII_TEXT "Hello from a Windows host"
#define ASCII_NUMBER "8613912345678"
/* 你好，视窗主机 */
#define CHINESE_TEXT "\xc4\xe3\xba\xc3\xa3\xac\xca\xd3\xb4\xb0\xd6\xf7\xbb\xfa"
#define CHINESE_NUMBER "13912345678"
#define SECOND_RUN_TEXT "Second run"
#define SECOND_RUN_NUMBER "10086"
#define WHILE_AWAY_TEXT "Queued while the module was away"
/* 短信收到了，谢谢！ */
#define RECEIVED_TEXT "\xb6\xcc\xd0\xc5\xca\xd5\xb5\xbd\xc1\xcb\xa3\xac\xd0\xbb\xd0\xbb\xa3\xa1"
#define RECEIVED_SENDER "8613800138000"
#define SERVICE_CENTRE "+8613800100500"

/* Every wait is a bounded number of polls: 100 ms apart, 60 s in all. */
enum { kPollMs = 100, kPolls = 600 };

static int passed;
static int failed;
static const char* label = "";

static void Check(int condition, const char* format, ...) {
    if (condition) {
        ++passed;
        return;
    }
    ++failed;
    va_list arguments;
    va_start(arguments, format);
    printf("FAIL [%s] ", label);
    vprintf(format, arguments);
    printf("\n");
    va_end(arguments);
    fflush(stdout);
}

/* --- Calls that watch the stack pointer ------------------------------------------------------ */

#if defined(__i386__)
#define READ_STACK_POINTER(sp) __asm__ __volatile__("movl %%esp, %0" : "=r"(sp) : : "memory")
#else
/* One calling convention on 64-bit Windows: nothing to compare. */
#define READ_STACK_POINTER(sp) ((sp) = 0)
#endif

static void ConventionFault(const char* call, uintptr_t before, uintptr_t after) {
    printf("FAIL [%s] calling convention: %s moved the stack pointer from %#lx to %#lx\n", label,
           call, (unsigned long)before, (unsigned long)after);
    fflush(stdout);
    ExitProcess(3);
}

#define CHECKED_CALL(result, call)                   \
    do {                                             \
        uintptr_t before_, after_;                   \
        READ_STACK_POINTER(before_);                 \
        (result) = (call);                           \
        READ_STACK_POINTER(after_);                  \
        if (before_ != after_) {                     \
            ConventionFault(#call, before_, after_); \
        }                                            \
    } while (0)

/* --- The library ------------------------------------------------------------------------------ */

typedef struct Export {
    const char* name;
    WORD ordinal;
} Export;

static const Export kCurrentExports[] = {
    {"SMSGetLastError", 1},
    {"SMSGetNextMessage", 2},
    {"SMSQuery", 3},
    {"SMSReport", 4},
    {"SMSSendMessage", 5},
    {"SMSSeviceStarted", 6},
    {"SMSStartService", 7},
    {"SMSStopSerice", 8},
    {"SMSStartServiceEx", 9},
    {"SMSSetTraceFile", 10},
    {"SMSGetModuleInfo", 11},
    {"SMSGetLastErrorCode", 12},
    {"SMSGetReceivePolls", 13},
    {"SMSSetOption", 14},
    {"SMSQueryDelivery", 15},
    {"SMSGetNextMessageEx", 16},
    {"SMSAcknowledgeMessage", 17},
};
static const Export kLegacyExports[] = {
    {"SMSGetLastError", 1}, {"SMSGetNextMessage", 2}, {"SMSQuery", 3},      {"SMSReport", 4},
    {"SMSSendMessage", 5},  {"SMSStartService", 6},   {"SMSStopSerice", 7},
};

typedef struct Library {
    int legacy;
    HMODULE module;
    StartServiceFn start;
    StartServiceExFn startEx;
    StopSericeFn stop;
    SeviceStartedFn started;
    SendMessageFn send;
    RecordFn report;
    QueryFn query;
    RecordFn next;
    GetLastErrorFn lastError;
    GetLastErrorLegacyFn lastErrorLegacy;
    SetOptionFn setOption;
    QueryFn queryDelivery;
} Library;

/* GetProcAddress's result as the one function type C lets every function pointer pass
 * through; each is cast to its own type where it is stored. */
typedef void (*AnyFunction)(void);

static AnyFunction ByName(HMODULE module, const char* name) {
    return (AnyFunction)GetProcAddress(module, name);
}

static AnyFunction ByOrdinal(HMODULE module, WORD ordinal) {
    return (AnyFunction)GetProcAddress(module, (LPCSTR)(ULONG_PTR)ordinal);
}

/* Every name resolves, to the same function as its ordinal; nothing beyond the table does. */
static void CheckExportTable(HMODULE module, int legacy) {
    const Export* const table = legacy ? kLegacyExports : kCurrentExports;
    const size_t count =
        legacy ? sizeof kLegacyExports / sizeof *table : sizeof kCurrentExports / sizeof *table;
    WORD last = 0;
    for (size_t i = 0; i < count; ++i) {
        const AnyFunction named = ByName(module, table[i].name);
        const AnyFunction numbered = ByOrdinal(module, table[i].ordinal);
        Check(named != NULL, "%s is not exported by name", table[i].name);
        Check(numbered == named, "ordinal %u is not %s", table[i].ordinal, table[i].name);
        last = table[i].ordinal > last ? table[i].ordinal : last;
    }
    Check(ByOrdinal(module, (WORD)(last + 1)) == NULL, "ordinal %u exists", (unsigned)last + 1);
    /* Hosts import plain names: no decorated twin may exist beside them. */
    Check(ByName(module, "SMSQuery@4") == NULL && ByName(module, "_SMSQuery@4") == NULL,
          "a decorated name is exported");
    if (legacy) {
        Check(ByName(module, "SMSSeviceStarted") == NULL,
              "the legacy edition has SMSSeviceStarted");
        Check(ByName(module, "SMSStartServiceEx") == NULL,
              "the legacy edition has SMSStartServiceEx");
        Check(ByName(module, "SMSSetTraceFile") == NULL, "the legacy edition has SMSSetTraceFile");
        Check(ByName(module, "SMSGetLastErrorCode") == NULL,
              "the legacy edition has SMSGetLastErrorCode");
        Check(ByName(module, "SMSSetOption") == NULL && ByName(module, "SMSQueryDelivery") == NULL,
              "the legacy edition has the options");
        Check(ByName(module, "SMSGetNextMessageEx") == NULL &&
                  ByName(module, "SMSAcknowledgeMessage") == NULL,
              "the legacy edition has the receipts");
    }
}

static int Load(Library* library, const char* path, int legacy) {
    memset(library, 0, sizeof *library);
    library->legacy = legacy;
    library->module = LoadLibraryA(path);
    Check(library->module != NULL, "LoadLibraryA(%s) failed with %lu", path, GetLastError());
    if (library->module == NULL) {
        return 0;
    }
    const HMODULE m = library->module;
    library->start = (StartServiceFn)ByName(m, "SMSStartService");
    library->stop = (StopSericeFn)ByName(m, "SMSStopSerice");
    library->send = (SendMessageFn)ByName(m, "SMSSendMessage");
    library->report = (RecordFn)ByName(m, "SMSReport");
    library->query = (QueryFn)ByName(m, "SMSQuery");
    library->next = (RecordFn)ByName(m, "SMSGetNextMessage");
    if (legacy) {
        library->lastErrorLegacy = (GetLastErrorLegacyFn)ByName(m, "SMSGetLastError");
    } else {
        library->startEx = (StartServiceExFn)ByName(m, "SMSStartServiceEx");
        library->started = (SeviceStartedFn)ByName(m, "SMSSeviceStarted");
        library->lastError = (GetLastErrorFn)ByName(m, "SMSGetLastError");
        library->setOption = (SetOptionFn)ByName(m, "SMSSetOption");
        library->queryDelivery = (QueryFn)ByName(m, "SMSQueryDelivery");
    }
    const int complete = library->start && library->stop && library->send && library->report &&
                         library->query && library->next &&
                         (legacy ? library->lastErrorLegacy != NULL
                                 : library->startEx && library->started && library->lastError &&
                                       library->setOption && library->queryDelivery);
    Check(complete, "%s lacks an export", path);
    return complete;
}

static void Unload(Library* library) {
    if (library->module != NULL) {
        Check(FreeLibrary(library->module), "FreeLibrary failed with %lu", GetLastError());
    }
    library->module = NULL;
}

/* --- The exports, called through the stack-pointer check ------------------------------------- */

static int32_t Start(Library* l, int32_t port, uint32_t baud, int32_t parity, uint8_t dataBits,
                     int32_t stopBits, int32_t flow, const char* centre) {
    int32_t result;
    CHECKED_CALL(result, l->start(port, baud, parity, dataBits, stopBits, flow, centre));
    return result;
}

static int32_t StartEx(Library* l, const char* device, uint32_t baud, const char* centre) {
    int32_t result;
    CHECKED_CALL(result, l->startEx(device, baud, 2, 8, 0, 0, centre));
    return result;
}

static int32_t Stop(Library* l) {
    int32_t result;
    CHECKED_CALL(result, l->stop());
    return result;
}

/* The result is 8 bits wide; the host reads only those. */
static int Running(Library* l) {
    uint8_t result;
    CHECKED_CALL(result, l->started());
    return result;
}

static int32_t Send(Library* l, const char* text, const char* number) {
    int32_t result;
    CHECKED_CALL(result, l->send(text, number));
    return result;
}

static int32_t Report(Library* l, char* buffer) {
    int32_t result;
    CHECKED_CALL(result, l->report(buffer));
    return result;
}

static int32_t Query(Library* l, int32_t id) {
    int32_t result;
    CHECKED_CALL(result, l->query(id));
    return result;
}

static int32_t Next(Library* l, char* buffer) {
    int32_t result;
    CHECKED_CALL(result, l->next(buffer));
    return result;
}

static int32_t LastError(Library* l, char* buffer, int32_t length) {
    int32_t result;
    CHECKED_CALL(result, l->lastError(buffer, length));
    return result;
}

static int32_t LastErrorLegacy(Library* l, char* buffer) {
    int32_t result;
    CHECKED_CALL(result, l->lastErrorLegacy(buffer));
    return result;
}

/* --- Byte checks ------------------------------------------------------------------------------ */

static int AllBytes(const char* bytes, size_t count, unsigned char value) {
    for (size_t i = 0; i < count; ++i) {
        if ((unsigned char)bytes[i] != value) {
            return 0;
        }
    }
    return 1;
}

/* A NUL-terminated field: exactly the expected bytes, then zeros to its end. */
static void CheckField(const char* record, size_t offset, size_t width, const char* expected,
                       const char* what) {
    const size_t length = strlen(expected);
    Check(memcmp(record + offset, expected, length) == 0, "%s: wrong bytes at offset %u", what,
          (unsigned)offset);
    Check(AllBytes(record + offset + length, width - length, 0),
          "%s: not zero from offset %u to %u", what, (unsigned)(offset + length),
          (unsigned)(offset + width - 1));
}

static void PrintBytes(const char* title, const char* bytes, size_t count) {
    printf("  %s (%u bytes):", title, (unsigned)count);
    for (size_t i = 0; i < count; ++i) {
        printf(" %02x", (unsigned char)bytes[i]);
    }
    printf("\n");
}

/* The last-error text is exactly expected (GBK bytes). Current edition: the fixed-length copy
 * fills the rest of the length with NULs; legacy edition: the text and its NUL, nothing more. */
static void ExpectLastError(Library* l, const char* expected, size_t expectedLength) {
    char buffer[kLegacyErrorBuffer + kGuard];
    memset(buffer, kUntouched, sizeof buffer);
    int32_t length;
    if (l->legacy) {
        length = LastErrorLegacy(l, buffer);
    } else {
        length = LastError(l, buffer, kLegacyErrorBuffer);
    }
    const int same =
        length == (int32_t)expectedLength && memcmp(buffer, expected, expectedLength) == 0;
    Check(same, "last error differs");
    if (!same) {
        PrintBytes("expected", expected, expectedLength);
        PrintBytes("got", buffer, length > 0 && length <= kLegacyErrorBuffer ? (size_t)length : 0);
        return;
    }
    if (l->legacy) {
        Check(buffer[expectedLength] == 0, "legacy last error: no NUL after the text");
        Check(AllBytes(buffer + expectedLength + 1, sizeof buffer - expectedLength - 1, kUntouched),
              "legacy last error: bytes written after the NUL");
    } else {
        Check(AllBytes(buffer + expectedLength, kLegacyErrorBuffer - expectedLength, 0),
              "last error: the rest of the length is not NUL-filled");
        Check(AllBytes(buffer + kLegacyErrorBuffer, kGuard, kUntouched),
              "last error: written past the length");
    }
}

#define EXPECT_LAST_ERROR(library, literal) \
    ExpectLastError((library), (literal), sizeof(literal) - 1)

/* "串口打开错误" and the system's own message for the error that opening the port gives. The
 * message is asked of the system here, in the way the library asks for it. */
static void ExpectPortOpenError(Library* l, DWORD code) {
    char* system = NULL;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), (LPSTR)&system, 0, NULL);
    Check(length > 0, "the system has no message for error %lu", code);
    char expected[1024];
    const size_t prefix = sizeof(TEXT_PORT_OPEN) - 1;
    memcpy(expected, TEXT_PORT_OPEN, prefix);
    const size_t tail = length < sizeof expected - prefix ? length : sizeof expected - prefix - 1;
    if (system != NULL) {
        memcpy(expected + prefix, system, tail);
        LocalFree(system);
    }
    ExpectLastError(l, expected, prefix + tail);
}

static DWORD OpenFailure(const char* device) {
    const HANDLE handle =
        CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
        return ERROR_SUCCESS;
    }
    return GetLastError();
}

/* --- Waiting -------------------------------------------------------------------------------- */

static int32_t WaitForResult(Library* l, int32_t id) {
    for (int poll = 0; poll < kPolls; ++poll) {
        const int32_t result = Query(l, id);
        if (result != -1) {
            return result;
        }
        Sleep(kPollMs);
    }
    return -1;
}

/* Legacy edition: a start after a stop is refused until the worker has ended. */
static int32_t StartWhenStopped(Library* l, int32_t port, uint32_t baud, int32_t parity,
                                uint8_t dataBits, int32_t stopBits, int32_t flow) {
    for (int poll = 0; poll < kPolls; ++poll) {
        const int32_t result =
            Start(l, port, baud, parity, dataBits, stopBits, flow, SERVICE_CENTRE);
        if (result == 1 || !l->legacy) {
            return result;
        }
        EXPECT_LAST_ERROR(l, TEXT_ALREADY_STARTED);
        Sleep(kPollMs);
    }
    return 0;
}

/* --- Scenarios -------------------------------------------------------------------------------- */

static void CheckIdle(Library* l) {
    label = "idle";
    char record[kReceivedSize + kGuard];
    if (!l->legacy) {
        Check(Running(l) == 0, "SMSSeviceStarted is 1 before any start");
    }
    Check(Query(l, 0) == -1, "SMSQuery(0) answers before any send");
    memset(record, kUntouched, sizeof record);
    Check(Report(l, record) == 0, "SMSReport returned a record before any send");
    Check(AllBytes(record, sizeof record, kUntouched), "SMSReport wrote into the buffer");
    Check(Next(l, record) == 0, "SMSGetNextMessage returned a record before any start");
    Check(AllBytes(record, sizeof record, kUntouched), "SMSGetNextMessage wrote into the buffer");
    Check(Stop(l) == 1, "SMSStopSerice while idle did not return 1");
    EXPECT_LAST_ERROR(l, "");
    if (!l->legacy) {
        char small[8 + kGuard];
        memset(small, kUntouched, sizeof small);
        Check(LastError(l, small, 8) == 0 && AllBytes(small, 8, 0) &&
                  AllBytes(small + 8, kGuard, kUntouched),
              "an empty last error does not fill exactly the length with NULs");
        Check(LastError(l, small, 0) == 0 && LastError(l, NULL, 8) == 0,
              "SMSGetLastError with no room answered");
    }

    label = "refusals";
    Check(Send(l, ASCII_TEXT, ASCII_NUMBER) == -1, "SMSSendMessage accepted while idle");
    /* The current edition says why; the legacy edition refuses without a text. */
    if (l->legacy) {
        EXPECT_LAST_ERROR(l, "");
    } else {
        EXPECT_LAST_ERROR(l, TEXT_NOT_STARTED);
        /* Cut to the length: exactly that many bytes, no NUL. */
        char cut[6 + kGuard];
        memset(cut, kUntouched, sizeof cut);
        Check(LastError(l, cut, 6) == 6 && memcmp(cut, TEXT_NOT_STARTED, 6) == 0 &&
                  AllBytes(cut + 6, kGuard, kUntouched),
              "a last error longer than the length is not cut to exactly the length");
    }
}

static void CheckStartFailures(Library* l, int port, int missingPort) {
    label = "start-failures";
    char device[32];
    snprintf(device, sizeof device, "\\\\.\\COM%d", missingPort);
    const DWORD missing = OpenFailure(device);
    Check(missing != ERROR_SUCCESS, "%s exists: the test needs a port that does not", device);
    Check(Start(l, missingPort, 115200, 2, 8, 0, 0, SERVICE_CENTRE) == 0,
          "a start on a missing port succeeded");
    ExpectPortOpenError(l, missing);
    if (!l->legacy) {
        Check(Running(l) == 0, "running after a failed start");
        /* The extension reaches ports by name; a bare "COMn" means "\\.\COMn". */
        char name[16];
        snprintf(name, sizeof name, "COM%d", missingPort);
        Check(StartEx(l, name, 115200, SERVICE_CENTRE) == 0, "SMSStartServiceEx(%s) succeeded",
              name);
        ExpectPortOpenError(l, missing);
    }

    /* The port is opened for exclusive use: held by this program, the library cannot have it.
     * The text carries the system's message for the refused open. */
    snprintf(device, sizeof device, "\\\\.\\COM%d", port);
    const HANDLE held =
        CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    Check(held != INVALID_HANDLE_VALUE, "cannot open %s (is the simulator running?): %lu", device,
          GetLastError());
    if (held != INVALID_HANDLE_VALUE) {
        const DWORD busy = OpenFailure(device);
        if (busy == ERROR_SUCCESS) {
            /* Windows refuses a second open of a COM port opened with share mode 0; Wine does
             * not enforce share modes on serial devices, so there is nothing to refuse. */
            printf("  note: %s opens twice on this system; the refused open is not checked\n",
                   device);
        } else {
            Check(Start(l, port, 115200, 2, 8, 0, 0, SERVICE_CENTRE) == 0,
                  "a start on a port held by another program succeeded");
            ExpectPortOpenError(l, busy);
        }
        CloseHandle(held);
    }
}

static void CheckOutgoingRecord(const char* record, int32_t id, const char* text,
                                const char* number) {
    int32_t recordId;
    memcpy(&recordId, record, sizeof recordId);
    Check(recordId == id, "report id %ld, expected %ld", (long)recordId, (long)id);
    CheckField(record, kOutgoingText, kOutgoingNumber - kOutgoingText, text, "report text");
    CheckField(record, kOutgoingNumber, kOutgoingSize - kOutgoingNumber, number, "report number");
}

/* yyyy-mm-dd hh:mm:ss with the century 20. */
static int IsTimestamp(const char* text) {
    static const char kShape[] = "20dd-dd-dd dd:dd:dd";
    if (strlen(text) != sizeof kShape - 1) {
        return 0;
    }
    for (size_t i = 0; i < sizeof kShape - 1; ++i) {
        if (kShape[i] == 'd' ? (text[i] < '0' || text[i] > '9') : text[i] != kShape[i]) {
            return 0;
        }
    }
    return 1;
}

static void RunService(Library* l, int port) {
    label = "start";
    Check(Start(l, port, 115200, 2, 8, 0, 0, SERVICE_CENTRE) == 1, "start on COM%d failed", port);
    if (!l->legacy) {
        Check(Running(l) == 1, "SMSSeviceStarted is not 1 while running");
    }
    EXPECT_LAST_ERROR(l, ""); /* a successful start-up empties the last error */
    Check(Start(l, port, 115200, 2, 8, 0, 0, SERVICE_CENTRE) == 0, "a second start succeeded");
    EXPECT_LAST_ERROR(l, TEXT_ALREADY_STARTED);
    if (!l->legacy) {
        Check(Running(l) == 1, "a refused second start stopped the service");
    } else {
        Check(Send(l, "", ASCII_NUMBER) == -1, "an empty text was accepted");
        EXPECT_LAST_ERROR(l, TEXT_LEGACY_EMPTY);
    }

    if (!l->legacy) {
        /* The extensions, once each: an option set to the value it has, which changes nothing
         * on the line, and a delivery nobody asked for; neither touches the last error. */
        int32_t result;
        CHECKED_CALL(result, l->setOption("reassembly-seconds", 600));
        Check(result == 1, "SMSSetOption(reassembly-seconds, 600) gave %ld", (long)result);
        CHECKED_CALL(result, l->queryDelivery(0));
        Check(result == -1, "SMSQueryDelivery(0) gave %ld before any send", (long)result);
        EXPECT_LAST_ERROR(l, TEXT_ALREADY_STARTED);
    }

    label = "send";
    const int32_t asciiId = Send(l, ASCII_TEXT, ASCII_NUMBER);
    const int32_t chineseId = Send(l, CHINESE_TEXT, CHINESE_NUMBER);
    Check(asciiId == 0 && chineseId == 1, "ids %ld and %ld, expected 0 and 1", (long)asciiId,
          (long)chineseId);
    Check(WaitForResult(l, asciiId) == 1, "the ASCII message was not sent");
    Check(WaitForResult(l, chineseId) == 1, "the Chinese message was not sent");

    label = "reports";
    char record[kOutgoingSize + kGuard];
    memset(record, kUntouched, sizeof record);
    Check(Report(l, record) == 1, "no report for the ASCII message");
    Check(AllBytes(record + kOutgoingSize, kGuard, kUntouched), "SMSReport wrote past 296 bytes");
    /* The leading 86 of the number is gone from the report. */
    CheckOutgoingRecord(record, asciiId, ASCII_TEXT, "13912345678");
    Check(Report(l, record) == 1, "no report for the Chinese message");
    CheckOutgoingRecord(record, chineseId, CHINESE_TEXT, CHINESE_NUMBER);
    Check(Report(l, record) == 0, "a third report appeared");

    label = "receive";
    char received[kReceivedSize + kGuard];
    memset(received, kUntouched, sizeof received);
    int got = 0;
    for (int poll = 0; poll < kPolls && !got; ++poll) {
        got = Next(l, received) == 1;
        if (!got) {
            Sleep(kPollMs);
        }
    }
    Check(got, "no message was received");
    if (got) {
        CheckField(received, 0, kReceivedSender, RECEIVED_TEXT, "received text");
        CheckField(received, kReceivedSender, kReceivedTimestamp - kReceivedSender, RECEIVED_SENDER,
                   "received sender");
        Check(IsTimestamp(received + kReceivedTimestamp), "received time stamp \"%.31s\"",
              received + kReceivedTimestamp);
        CheckField(received, kReceivedTimestamp, kReceivedSize - kReceivedTimestamp,
                   received + kReceivedTimestamp, "received time stamp");
        Check(AllBytes(received + kReceivedSize, kGuard, kUntouched),
              "SMSGetNextMessage wrote past 320 bytes");
    }

    label = "stop";
    Check(Stop(l) == 1, "SMSStopSerice did not return 1");
    if (!l->legacy) {
        Check(Running(l) == 0, "SMSSeviceStarted is 1 after the stop");
        Check(Send(l, ASCII_TEXT, ASCII_NUMBER) == -1, "a message was accepted after the stop");
        EXPECT_LAST_ERROR(l, TEXT_NOT_STARTED);
    } else {
        Check(Send(l, ASCII_TEXT, ASCII_NUMBER) == -1, "a message was accepted after the stop");
        EXPECT_LAST_ERROR(l, TEXT_LEGACY_EMPTY); /* refused without a text of its own */
    }
    Check(Query(l, asciiId) == 1, "results are gone after the stop");

    /* Again, two stop bits and XON/XOFF at 9600 baud: ids start at 0 again, and afterwards the
     * port, opened by this program, shows the settings the library gave it. */
    label = "second-run";
    Check(StartWhenStopped(l, port, 9600, 2, 8, 2, 5) == 1, "the second start failed");
    EXPECT_LAST_ERROR(l, "");
    const int32_t secondId = Send(l, SECOND_RUN_TEXT, SECOND_RUN_NUMBER);
    Check(secondId == 0, "the first id after a start is %ld", (long)secondId);
    Check(Query(l, asciiId + 1) == -1, "results of the first run survived the start");
    Check(WaitForResult(l, secondId) == 1, "the second run's message was not sent");
    Check(Report(l, record) == 1, "no report in the second run");
    CheckOutgoingRecord(record, secondId, SECOND_RUN_TEXT, SECOND_RUN_NUMBER);
    Check(Stop(l) == 1, "the second stop did not return 1");
}

/* The line settings as the port keeps them after the library has closed it. Under Wine the
 * port is a pty, whose termios keeps the baud rate, the stop bits and the XON/XOFF flags and
 * characters; a pty has no parity or character size of its own and no modem lines, so those
 * are not compared, and Wine has no place for XonLim and XoffLim. */
static void CheckLineSettings(Library* l, int port) {
    label = "line-settings";
    char device[32];
    snprintf(device, sizeof device, "\\\\.\\COM%d", port);
    HANDLE handle =
        CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    /* The legacy stop does not wait: its worker closes the port within a cycle. */
    for (int poll = 0; l->legacy && poll < kPolls && handle == INVALID_HANDLE_VALUE; ++poll) {
        Sleep(kPollMs);
        handle = CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    }
    Check(handle != INVALID_HANDLE_VALUE, "the library left %s open after the stop", device);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    Check(GetCommState(handle, &dcb), "GetCommState failed with %lu", GetLastError());
    Check(dcb.BaudRate == 9600, "baud rate %lu", (unsigned long)dcb.BaudRate);
    Check(dcb.StopBits == TWOSTOPBITS, "stop bits %u", dcb.StopBits);
    Check(dcb.fOutX && dcb.fInX, "XON/XOFF is off (fOutX %u, fInX %u)", dcb.fOutX, dcb.fInX);
    Check(dcb.XonChar == 0x11 && dcb.XoffChar == 0x13, "XON %#x, XOFF %#x", dcb.XonChar,
          dcb.XoffChar);
    Check(!dcb.fOutxCtsFlow && !dcb.fOutxDsrFlow, "a hardware handshake is on");
    /* Back to no flow control, so the next host meets a plain line. */
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.StopBits = ONESTOPBIT;
    dcb.BaudRate = 115200;
    Check(SetCommState(handle, &dcb), "SetCommState failed with %lu", GetLastError());
    CloseHandle(handle);
}

/* Under another ANSI code page than 936 the library's texts are still GBK bytes; only the
 * system's message in the port error is in the system's code page, as it always is. */
static void TextsInAnyCodePage(Library* l, int missingPort) {
    label = "texts";
    printf("  ANSI code page %u\n", GetACP());
    if (!l->legacy) {
        Check(Send(l, ASCII_TEXT, ASCII_NUMBER) == -1, "SMSSendMessage accepted while idle");
        EXPECT_LAST_ERROR(l, TEXT_NOT_STARTED);
    }
    char device[32];
    snprintf(device, sizeof device, "\\\\.\\COM%d", missingPort);
    const DWORD missing = OpenFailure(device);
    Check(missing != ERROR_SUCCESS, "%s exists: the test needs a port that does not", device);
    Check(Start(l, missingPort, 115200, 2, 8, 0, 0, SERVICE_CENTRE) == 0,
          "a start on a missing port succeeded");
    ExpectPortOpenError(l, missing);
}

static void Flow(const char* path, int legacy, int port, int missingPort) {
    Library library;
    label = "load";
    if (!Load(&library, path, legacy)) {
        return;
    }
    CheckExportTable(library.module, legacy);
    CheckIdle(&library);
    CheckStartFailures(&library, port, missingPort);
    RunService(&library, port);
    CheckLineSettings(&library, port);
    label = "unload";
    Unload(&library);
}

/* The host is meant to stop the service before it unloads the library. One that does not (or,
 * with the legacy edition, cannot wait for the stop to finish) must neither hang in FreeLibrary
 * nor have the worker run on in code that is gone: the library stays in memory until the
 * process exits, and loading it again gives back the same service, still able to stop. */
static void UnloadRunning(const char* path, int legacy, int port) {
    Library library;
    label = "unload-running";
    if (!Load(&library, path, legacy)) {
        return;
    }
    const HMODULE first = library.module;
    Check(Start(&library, port, 115200, 2, 8, 0, 0, SERVICE_CENTRE) == 1, "start failed");
    const int32_t id = Send(&library, ASCII_TEXT, ASCII_NUMBER);
    Check(WaitForResult(&library, id) == 1, "the message was not sent");
    if (legacy) {
        Check(Stop(&library) == 1, "SMSStopSerice did not return 1");
    }
    DWORD before = GetTickCount();
    Unload(&library);
    printf("  FreeLibrary with the worker alive took %lu ms\n", GetTickCount() - before);

    if (!Load(&library, path, legacy)) {
        return;
    }
    Check(library.module == first, "the library was unloaded from under its worker");
    if (!legacy) {
        Check(Running(&library) == 1, "the service left running is gone");
        const int32_t next = Send(&library, SECOND_RUN_TEXT, SECOND_RUN_NUMBER);
        Check(next == id + 1, "id %ld after the reload, expected %ld", (long)next, (long)id + 1);
        Check(WaitForResult(&library, next) == 1, "the service left running sends no more");
        Check(Stop(&library) == 1, "SMSStopSerice did not return 1");
        /* The extension also takes the port by its bare name. */
        char name[16];
        snprintf(name, sizeof name, "COM%d", port);
        Check(StartEx(&library, name, 115200, SERVICE_CENTRE) == 1, "a start on %s failed", name);
    } else {
        Check(StartWhenStopped(&library, port, 115200, 2, 8, 0, 0) == 1,
              "a start after the reload failed");
    }
    Check(Stop(&library) == 1, "SMSStopSerice did not return 1");
    /* Legacy edition: the worker is still running now, and the process will exit under it. */
    before = GetTickCount();
    Unload(&library);
    printf("  FreeLibrary right after a stop took %lu ms\n", GetTickCount() - before);
}

/* The COM port disappears under the running service and comes back: the service stays started,
 * says the port is gone, takes a message meanwhile and sends it once the module is back. */
static void Reconnect(const char* path, int port) {
    Library library;
    label = "reconnect";
    if (!Load(&library, path, 0)) {
        return;
    }
    Check(Start(&library, port, 115200, 2, 8, 0, 0, SERVICE_CENTRE) == 1, "start failed");
    /* Pulled out once the module is set up and the service cycling: a message has gone out. */
    Check(WaitForResult(&library, Send(&library, SECOND_RUN_TEXT, SECOND_RUN_NUMBER)) == 1,
          "the message before the module was pulled out was not sent");
    printf("unplug now\n");
    int everStopped = 0;
    int away = 0;
    char text[1024];
    for (int poll = 0; poll < kPolls && !away; ++poll) {
        everStopped |= Running(&library) != 1;
        memset(text, 0, sizeof text);
        LastError(&library, text, sizeof text - 1);
        away = strncmp(text, TEXT_PORT_OPEN, strlen(TEXT_PORT_OPEN)) == 0;
        if (!away) {
            Sleep(kPollMs);
        }
    }
    Check(away, "the last error does not say that the port is gone: \"%s\"", text);
    const int32_t id = Send(&library, WHILE_AWAY_TEXT, ASCII_NUMBER);
    Check(id == 1, "the message was not taken while the module was away (%ld)", (long)id);
    printf("plug in now\n");
    int32_t result = -1;
    for (int poll = 0; poll < kPolls && result == -1; ++poll) {
        everStopped |= Running(&library) != 1;
        result = Query(&library, id);
        if (result == -1) {
            Sleep(kPollMs);
        }
    }
    Check(result == 1, "the message taken while the module was away was not sent (%ld)",
          (long)result);
    Check(!everStopped, "SMSSeviceStarted said 0 while the module was away");
    Check(Stop(&library) == 1, "SMSStopSerice did not return 1");
    Unload(&library);
}

int main(int argc, char** argv) {
    /* Unbuffered, so that what was printed survives a crash. */
    setvbuf(stdout, NULL, _IONBF, 0);
    if (argc < 4) {
        fprintf(stderr, "usage: %s <current|legacy> <dll> <scenario> [port] [missing port]\n",
                argv[0]);
        return 2;
    }
    const int legacy = strcmp(argv[1], "legacy") == 0;
    const char* const path = argv[2];
    const char* const scenario = argv[3];
    const int port = argc > 4 ? atoi(argv[4]) : 5;
    const int missingPort = argc > 5 ? atoi(argv[5]) : 57;
    /* The library's own texts are GBK whatever the code page; every other scenario runs where
     * the host's texts are GBK too. */
    const int gbkTextsOnly = strcmp(scenario, "texts") == 0;
    if ((GetACP() == 936) == gbkTextsOnly) {
        printf("FAIL the ANSI code page is %u: run %s\n", GetACP(),
               gbkTextsOnly ? "under another code page than 936" : "under LC_ALL=zh_CN.GBK");
        return 1;
    }

    if (strcmp(scenario, "exports") == 0) {
        label = "exports";
        const HMODULE module = LoadLibraryA(path);
        Check(module != NULL, "LoadLibraryA(%s) failed with %lu", path, GetLastError());
        if (module != NULL) {
            CheckExportTable(module, legacy);
            FreeLibrary(module);
        }
    } else if (gbkTextsOnly) {
        Library library;
        if (Load(&library, path, legacy)) {
            TextsInAnyCodePage(&library, missingPort);
            Unload(&library);
        }
    } else if (strcmp(scenario, "flow") == 0) {
        Flow(path, legacy, port, missingPort);
    } else if (strcmp(scenario, "reconnect") == 0) {
        Reconnect(path, port);
    } else if (strcmp(scenario, "unload-running") == 0) {
        UnloadRunning(path, legacy, port);
    } else if (strcmp(scenario, "exit-running") == 0) {
        Library library;
        label = "exit-running";
        if (Load(&library, path, legacy)) {
            char device[32];
            snprintf(device, sizeof device, "\\\\.\\COM%d", port);
            const int32_t started = legacy
                                        ? Start(&library, port, 115200, 2, 8, 0, 0, SERVICE_CENTRE)
                                        : StartEx(&library, device, 115200, SERVICE_CENTRE);
            Check(started == 1, "start failed");
        }
        /* Returning ends the process with the worker alive; the library must let it go. */
    } else {
        fprintf(stderr, "unknown scenario %s\n", scenario);
        return 2;
    }
    printf("%s %s %s: %d passed, %d failed\n", argv[1], scenario,
           sizeof(void*) == 4 ? "32-bit" : "64-bit", passed, failed);
    return failed == 0 ? 0 : 1;
}
