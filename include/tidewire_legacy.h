/*
 * tidewire_legacy.h - the legacy edition of Tidewire, for hosts written against its earlier
 * interface. It ships under the same file name as the current edition, in its own folder.
 *
 * What differs from tidewire.h:
 * - seven exports: there is no SMSSeviceStarted, and no SMSStartServiceEx;
 * - SMSGetLastError takes no length: it copies the whole text and its NUL into a buffer that
 *   must hold 1024 bytes;
 * - SMSSendMessage refuses only an empty text or number ("待发送内容或对方号码不能为空"), or one
 *   that does not fit its record field (259 and 31 bytes: "待发送内容或对方号码过长"); a stopped
 *   service refuses without setting a text;
 * - SMSStopSerice asks the worker to end and returns at once; SMSStartService fails with the
 *   already-started text until the worker has ended (within about one cycle);
 * - modules of type 870 are not known: a module whose model answer holds "199" without "MODEL 199"
 *   is served as a GSM module.
 * Records, texts, commands and the calling convention are those of the current edition.
 */
#ifndef TIDEWIRE_LEGACY_H
#define TIDEWIRE_LEGACY_H

#include "tidewire_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/* As in the current edition. */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStartService(int32_t port, uint32_t baud, int32_t parity,
                                                   uint8_t dataBits, int32_t stopBits,
                                                   int32_t flowControl, const char* serviceCentre);

/* Asks the worker to end and returns 1 at once, without waiting. */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStopSerice(void);

/* Queues a message; the id, or -1 (see above for the checks). */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSSendMessage(const char* text, const char* number);

/* As in the current edition. */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSReport(char* buffer);
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSQuery(int32_t id);
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetNextMessage(char* buffer);

/*
 * Copies the last-error text and its terminating NUL into buffer (at least 1024 bytes); nothing
 * after the NUL is written. Returns the text's length without the NUL. A NULL buffer: 0.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetLastError(char* buffer);

#ifdef __cplusplus
}
#endif

#endif /* TIDEWIRE_LEGACY_H */
