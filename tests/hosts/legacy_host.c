/*
 * A host of the legacy edition, written the way its hosts are: plain C, the library loaded by
 * file name, the seven functions resolved by name, the modem on a COM port number. Run by
 * legacy_host_check.sh with COM1 (/dev/ttyS0) standing for the simulated module.
 *
 * Usage: legacy_host <path of the legacy libtidewire.so>
 * Prints what it does and exits 0 only when every check held.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "tidewire_legacy.h"

static int failures = 0;

#define CHECK(condition)                                            \
    do {                                                            \
        if (!(condition)) {                                         \
            printf("FAILED: %s (line %d)\n", #condition, __LINE__); \
            ++failures;                                             \
        }                                                           \
    } while (0)

static void Pause(void) {
    const struct timespec tenth = {0, 100000000L};
    nanosleep(&tenth, NULL);
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: legacy_host <libtidewire.so>\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW);
    if (library == NULL) {
        printf("FAILED: cannot load %s: %s\n", argv[1], dlerror());
        return 1;
    }
    typedef int32_t (*StartFn)(int32_t, uint32_t, int32_t, uint8_t, int32_t, int32_t, const char*);
    typedef int32_t (*VoidFn)(void);
    typedef int32_t (*SendFn)(const char*, const char*);
    typedef int32_t (*BufferFn)(char*);
    typedef int32_t (*QueryFn)(int32_t);
    StartFn start = (StartFn)dlsym(library, "SMSStartService");
    VoidFn stop = (VoidFn)dlsym(library, "SMSStopSerice");
    SendFn send = (SendFn)dlsym(library, "SMSSendMessage");
    BufferFn report = (BufferFn)dlsym(library, "SMSReport");
    QueryFn query = (QueryFn)dlsym(library, "SMSQuery");
    BufferFn next = (BufferFn)dlsym(library, "SMSGetNextMessage");
    BufferFn lastError = (BufferFn)dlsym(library, "SMSGetLastError");
    CHECK(start && stop && send && report && query && next && lastError);
    CHECK(dlsym(library, "SMSSeviceStarted") == NULL);
    if (failures > 0) {
        return 1;
    }

    char error[1024];
    CHECK(start(1, 115200, 2, 8, 0, 0, "+8613800100500") == 1);
    lastError(error);
    printf("started on COM1; last error \"%s\"\n", error);

    const int32_t ascii = send("hello from a legacy host", "8613912345678");
    const int32_t chinese = send("老朋友你好", "13912345678");
    CHECK(ascii == 0 && chinese == 1);
    for (int i = 0; i < 600 && (query(ascii) == -1 || query(chinese) == -1); ++i) {
        Pause();
    }
    CHECK(query(ascii) == 1);
    CHECK(query(chinese) == 1);
    OutgoingMessage record;
    int reports = 0;
    while (report((char*)&record) == 1) {
        printf("report: id %d to %s\n", (int)record.id, record.number);
        CHECK(strcmp(record.number, "13912345678") == 0);
        ++reports;
    }
    CHECK(reports == 2);

    ReceivedMessage message;
    int received = 0;
    for (int i = 0; i < 600 && !received; ++i) {
        received = next((char*)&message) == 1;
        if (!received) {
            Pause();
        }
    }
    CHECK(received);
    if (received) {
        printf("received from %s at %s: %s\n", message.sender, message.timestamp, message.text);
        CHECK(strcmp(message.sender, "8613800138000") == 0);
        CHECK(strcmp(message.text, "收到了") == 0);
    }

    /* The legacy stop returns at once; a start is refused until the worker has ended. */
    CHECK(stop() == 1);
    int restarted = 0;
    for (int i = 0; i < 600 && !restarted; ++i) {
        restarted = start(1, 115200, 2, 8, 0, 0, "+8613800100500") == 1;
        if (!restarted) {
            lastError(error);
            CHECK(strcmp(error, "服务已经启动(或还没有停止成功)，不能再次启动") == 0);
            Pause();
        }
    }
    CHECK(restarted);
    CHECK(query(ascii) == -1); /* a new start begins afresh */
    CHECK(stop() == 1);
    for (int i = 0; i < 600 && start(1, 115200, 2, 8, 0, 0, "") != 1; ++i) {
        Pause();
    }
    CHECK(stop() == 1);
    for (int i = 0; i < 100; ++i) {
        Pause(); /* the worker ends by itself; stay loaded until it has */
    }
    printf("%s\n", failures == 0 ? "legacy host: all checks held" : "legacy host: FAILED");
    return failures == 0 ? 0 : 1;
}
