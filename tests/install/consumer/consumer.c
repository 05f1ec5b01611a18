/* A program built against an installed Tidewire, through pkg-config or find_package(Tidewire):
 * sends one message through the module at argv[1] and exits 0 once the module confirmed it. */
#include <stdio.h>
#include <unistd.h>

#include "tidewire.h"
#include "tidewire_version.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
        return 2;
    }
    printf("built against Tidewire %s\n", TIDEWIRE_VERSION_STRING);
    char error[1024];
    if (SMSStartServiceEx(argv[1], 115200, 2, 8, 0, 0, "card") != 1) {
        error[SMSGetLastError(error, sizeof error - 1)] = '\0';
        fprintf(stderr, "start: %s\n", error);
        return 1;
    }
    const int32_t id = SMSSendMessage("from an installed Tidewire", "13912345678");
    int32_t outcome = -1;
    for (int polls = 0; id >= 0 && (outcome = SMSQuery(id)) == -1 && polls < 600; ++polls) {
        usleep(100 * 1000); /* a minute at most */
    }
    SMSStopSerice();
    printf("message %d: %s\n", id, outcome == 1 ? "sent" : outcome == 0 ? "failed" : "no outcome");
    return outcome == 1 ? 0 : 1;
}
