/*
 * tidewire_records.h - the two records every edition of Tidewire hands across its interface,
 * and the calling-convention and export macros. Included by tidewire.h (current edition) and
 * tidewire_legacy.h (legacy edition); a host includes one of those.
 */
#ifndef TIDEWIRE_RECORDS_H
#define TIDEWIRE_RECORDS_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TIDEWIRE_CALL __stdcall
#else
#define TIDEWIRE_CALL
#endif

#if defined(_WIN32)
#if defined(TIDEWIRE_BUILDING)
#define TIDEWIRE_API __declspec(dllexport)
#else
#define TIDEWIRE_API __declspec(dllimport)
#endif
#elif defined(TIDEWIRE_BUILDING)
#define TIDEWIRE_API __attribute__((visibility("default")))
#else
#define TIDEWIRE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * OutgoingMessage: 296 bytes. A queued message, and, once the worker has finished it, the
 * report record that SMSReport hands back.
 *
 *   offset   0, 4 bytes   id      int32 little-endian, the id SMSSendMessage returned
 *   offset   4, 260 bytes text    the text as passed, NUL-terminated, zero-padded
 *   offset 264, 32 bytes  number  the destination, NUL-terminated, zero-padded; in a report a
 *                                 leading "86" is removed
 */
typedef struct OutgoingMessage {
    int32_t id;
    char text[260];
    char number[32];
} OutgoingMessage;

/*
 * ReceivedMessage: 320 bytes, handed out by SMSGetNextMessage. Every field is NUL-terminated
 * and zero-padded to its width.
 *
 *   offset   0, 256 bytes text       the message text in the host's code page, at most 255 bytes,
 *                                    never cut inside a multi-byte character
 *   offset 256, 32 bytes  sender     the sender as the network delivered it: digits (with the
 *                                    country code, no "+"), or the name of an alphanumeric sender
 *   offset 288, 32 bytes  timestamp  "yyyy-mm-dd hh:mm:ss" on GSM modules and types 860/865;
 *                                    the module's own time text on type 870
 */
typedef struct ReceivedMessage {
    char text[256];
    char sender[32];
    char timestamp[32];
} ReceivedMessage;

#ifdef __cplusplus
static_assert(sizeof(OutgoingMessage) == 296, "OutgoingMessage is 296 bytes");
static_assert(sizeof(ReceivedMessage) == 320, "ReceivedMessage is 320 bytes");
#else
typedef char tidewire_outgoing_size_check[(sizeof(OutgoingMessage) == 296) ? 1 : -1];
typedef char tidewire_received_size_check[(sizeof(ReceivedMessage) == 320) ? 1 : -1];
#endif

#ifdef __cplusplus
}
#endif

#endif /* TIDEWIRE_RECORDS_H */
