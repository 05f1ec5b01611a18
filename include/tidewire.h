/*
 * tidewire.h - send and receive SMS through a GSM or CDMA modem module on a serial port.
 *
 * The library runs one worker thread that owns the modem. The host queues outgoing messages,
 * collects their outcomes as report records, and takes received messages from a queue. Every
 * function may be called from any host thread; none of them waits for the modem except
 * SMSStartService (which talks to the module before it returns) and SMSStopSerice (which waits
 * for the worker to finish the dialogue it is in).
 *
 * Texts: every text crossing this interface is a byte string in the host's "ANSI" code page.
 * On Windows that is the process's ANSI code page (CP_ACP), except the last-error texts, which
 * are always GBK (code page 936) bytes. On Linux it is the codeset of the host's LC_CTYPE
 * locale; when the host never set a locale (plain ASCII), UTF-8 is used.
 *
 * Calling convention: stdcall on 32-bit Windows, the platform's C convention elsewhere.
 * No C++ exception ever leaves these functions.
 *
 * The names SMSStopSerice and SMSSeviceStarted are spelled as existing hosts import them.
 */
#ifndef TIDEWIRE_H
#define TIDEWIRE_H

#include "tidewire_errors.h"
#include "tidewire_records.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Starts the service on COM<port> (on Linux: /dev/ttyS<port-1>).
 *
 *   baud           passed to the port unchanged (Linux: one of the standard termios rates)
 *   parity         0 even, 1 mark, 2 none, 3 odd, 4 space; another value keeps the port's setting
 *   dataBits       5 to 8
 *   stopBits       0 one, 1 one and a half, 2 two; another value keeps the port's setting
 *   flowControl    0 none, 1 CTS/RTS, 2 CTS/DTR, 3 DSR/RTS, 4 DSR/DTR, 5 XON/XOFF; another value
 *                  keeps the port's setting
 *   serviceCentre  the SMS centre number for GSM modules (at most 19 bytes, digits with an
 *                  optional leading "+"), or "card" to use the number stored on the SIM; may be
 *                  NULL (no number)
 *
 * Opens the port, checks that a module answers, identifies its family, checks the SIM (GSM and
 * type 870) and starts the worker, which then initialises the module. Returns 1 when the worker
 * runs, 0 on failure with the reason in SMSGetLastError. Fails while the service is started.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStartService(int32_t port, uint32_t baud, int32_t parity,
                                                   uint8_t dataBits, int32_t stopBits,
                                                   int32_t flowControl, const char* serviceCentre);

/*
 * Extension: SMSStartService on a device path instead of a port number: "/dev/ttyUSB0" or a
 * pty on Linux, "COM12" or "\\.\COM12" on Windows. device must not be NULL or empty.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStartServiceEx(const char* device, uint32_t baud,
                                                     int32_t parity, uint8_t dataBits,
                                                     int32_t stopBits, int32_t flowControl,
                                                     const char* serviceCentre);

/*
 * Stops the service: asks the worker to end and waits until it has finished the modem dialogue
 * it is in. Queued messages that were not sent stay unsent (the next start discards them);
 * reports, results and received messages can still be taken. Always returns 1.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSStopSerice(void);

/* 1 while the service runs (also during SMSStartService), 0 otherwise. 8 bits wide. */
TIDEWIRE_API uint8_t TIDEWIRE_CALL SMSSeviceStarted(void);

/*
 * Queues a message. text: 1 to 255 bytes, no Ctrl-Z or ESC. number: 1 to 31 bytes, no double
 * quote, comma or control byte. Returns the message id (0, 1, 2, ... from each start), or -1
 * with the reason in SMSGetLastError. NULL counts as empty.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSSendMessage(const char* text, const char* number);

/*
 * Takes the oldest report record (an OutgoingMessage) into buffer, which must hold 296 bytes.
 * Returns 1 when a record was copied, 0 when none waits (buffer untouched) or buffer is NULL.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSReport(char* buffer);

/* Outcome of message id: 1 sent, 0 failed, -1 not finished yet or unknown. */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSQuery(int32_t id);

/*
 * Takes the oldest received message (a ReceivedMessage) into buffer, which must hold 320 bytes.
 * Returns 1 when a record was copied, 0 when none waits (buffer untouched) or buffer is NULL.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetNextMessage(char* buffer);

/*
 * Copies the text of the most recent failure into buffer with strncpy semantics: at most length
 * bytes, the rest of the length bytes filled with NULs; no NUL when the text fills them.
 * Returns the number of text bytes placed. length <= 0 or a NULL buffer writes nothing, returns 0.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetLastError(char* buffer, int32_t length);

/*
 * Extension: a trace of the modem dialogue, for finding out why a module misbehaves. From this
 * call on, every block of bytes written to the module and every block read from it is appended
 * to the file at path as one line:
 *
 *   12:03:04.567 > AT+CMGS="13900000000"\r
 *   12:03:04.790 < \r\n+CMGS: 17\r\n\r\nOK\r\n
 *
 * the local time of day to the millisecond, ">" for written or "<" for read, then the bytes with
 * \r, \n, \t and \\ for those bytes and \xNN for every other control or non-ASCII byte.
 * Each line is flushed as it is written. Works whether or not the service runs, and may be
 * called while it runs; another path moves the trace to that file.
 *
 *   path  the file to append to (created when missing); NULL or empty turns the trace off
 *
 * Returns 1 on success (turning off always succeeds), 0 when the file cannot be opened: the trace
 * then goes on as it was. Does not change SMSGetLastError's text. Off until first called.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSSetTraceFile(const char* path);

/*
 * Extension: the number of the text SMSGetLastError would give now: one of the
 * TIDEWIRE_ERROR_* constants of tidewire_errors.h, TIDEWIRE_ERROR_NONE (0) when there is no
 * text. It changes exactly when the text does (a start-up clears both), so the two may be read
 * in either order; the number never depends on the host's code page or on the system's reason
 * that follows the port text.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetLastErrorCode(void);

/*
 * Extension: what the latest start-up learnt about the module, and whether its worker has
 * initialised it.
 *
 * Returns the family (666 GSM, 870, 860 or 865) once the worker of the latest start-up has
 * initialised the module, and keeps returning it after a stop until the next start-up. Returns
 * 0 before any start-up, while the worker is still initialising the module, and when the
 * initialisation failed or was stopped. So after SMSStartService returned 1, a host that waits
 * for the module to be ready polls this until it is not 0, or until SMSSeviceStarted gives 0:
 * the worker gave up, and SMSGetLastErrorCode tells why. A failed "AT+CPMS" does not end the
 * worker: the family is given, with TIDEWIRE_ERROR_INIT_CPMS_* left as the last error.
 *
 *   model   receives the module's answer to "AT+GMM" at the latest start-up, upper-cased,
 *           without echo and result code, printable ASCII only, NUL-terminated and cut to fit
 *           ("" when no module answered); may be NULL
 *   length  the size of model in bytes; 0 or less writes nothing. 64 bytes hold any model text.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetModuleInfo(char* model, int32_t length);

/*
 * Extension: how many times the worker has read the module's message store since the latest
 * start-up (0 until its first listing is done; it keeps its value after a stop). Every message
 * such a listing found is in SMSGetNextMessage's queue before the count goes up, so a host that
 * sees the count change and then takes messages until none is left has everything the module
 * held when that listing began. The worker lists the store once a cycle (about every second);
 * the first listing follows the module's initialisation.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetReceivePolls(void);

/*
 * Extension: switches an option of the service. Options hold for the life of the loaded library,
 * across SMSStopSerice and SMSStartService, and may be set before a start or while the service
 * runs. With none switched on the library does exactly what it does without this call.
 *
 *   name   "long-messages" (value 0 or 1, default 0): on GSM modules a text that does not fit
 *          one SMS goes as a concatenated message (GSM 7-bit when every character is in the
 *          GSM alphabet, UCS-2 otherwise), a single text of GSM characters that are not ASCII
 *          (e, u with accents, the euro sign) goes as one 7-bit SMS of up to 160 characters,
 *          and the parts of a concatenated message received are joined into one text (given
 *          as consecutive records when it is longer than a record's 255 bytes). An ASCII text
 *          of at most 140 bytes still goes in text mode. SMSQuery gives 1 only when every part
 *          was accepted.
 *          "delivery-reports" (0 or 1, default 0): on GSM modules messages queued while it is on
 *          ask for status reports, which SMSQueryDelivery then tells.
 *          "reassembly-seconds" (1 to 604800, default 600): how long the parts of a received
 *          concatenated message wait in the module's store for the missing ones before each is
 *          delivered on its own (they also go on their own when the store is full).
 *          "hold-received" (0 or 1, default 0): a received message stays in the module until
 *          the host acknowledges its record (SMSGetNextMessageEx, SMSAcknowledgeMessage), so a
 *          host that goes down before it has stored a record gets the message again after its
 *          next start. Taken on every family; see SMSAcknowledgeMessage for what each can
 *          promise. Switched off, messages already held still leave the module once
 *          acknowledged; new ones are deleted as soon as their records are queued.
 *   value  as above
 *
 * Returns 1 when the option was taken; 0 for an unknown name (or NULL), a value out of range,
 * or "long-messages" or "delivery-reports" switched on while the service runs on a CDMA module,
 * which cannot honour them (switched on before the start, they are left unused there: texts too
 * long for one message fail as they always do, and SMSQueryDelivery stays -1). Does not change
 * SMSGetLastError's text.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSSetOption(const char* name, int32_t value);

/*
 * Extension: whether message id reached the handset, by the network's status reports (the
 * "delivery-reports" option must have been on when the message was queued).
 *
 * Returns 1 delivered (every part of a long message), 0 failed or expired (one part is enough,
 * or the message could not be sent), -1 not known yet, or never asked for, or an id this start
 * never issued. A report can take minutes or days; the network may also never send one.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSQueryDelivery(int32_t id);

/*
 * Extension: SMSGetNextMessage with the record's receipt, for hosts that switch on the
 * "hold-received" option.
 *
 *   buffer   receives the oldest received record (a ReceivedMessage, 320 bytes) and loses it
 *            from the queue, as SMSGetNextMessage does
 *   receipt  receives the record's receipt: a number greater than 0, never handed out twice
 *            while the library stays loaded, when the message waits in the module for
 *            SMSAcknowledgeMessage; 0 when it does not (the option was off when the record was
 *            queued: the message has left the module already). May be NULL: the record is then
 *            acknowledged at once, as SMSGetNextMessage does with every record.
 *
 * Returns 1 when a record was copied; 0 when none waits or buffer is NULL, buffer and *receipt
 * then untouched. With "hold-received" on SMSGetNextMessage keeps working: taking a record with
 * it acknowledges the record at once.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSGetNextMessageEx(char* buffer, int32_t* receipt);

/*
 * Extension: tells the library the record with this receipt is safe with the host (stored,
 * committed): the worker deletes its message from the module in its next receive step, about a
 * second later. Never waits for the module. The records of one message (a joined text longer
 * than 255 bytes goes as several) each have a receipt; the message leaves the module once all
 * of them are acknowledged.
 *
 * Returns 1 when the receipt was handed out by SMSGetNextMessageEx and not acknowledged yet;
 * 0 for 0, a negative number, a receipt never handed out, one whose record is still queued, and
 * one acknowledged before. A receipt from before the latest SMSStartService returns 1 and
 * changes nothing: that run has ended, its unacknowledged messages stayed in the module and
 * are handed out again (with new receipts). After SMSStopSerice a receipt of the run just
 * stopped that was handed out and not acknowledged returns 1 and changes nothing either: its
 * message stays in the module until the next start hands it out again.
 *
 * What the module keeps until then, by family:
 *   GSM (666) and 870: every message stays in the module's store until its records are
 *     acknowledged, and is listed but not queued again meanwhile. A message whose index no
 *     longer holds it (someone else deleted it) is forgotten. While 256 messages (or 512
 *     records) wait for acknowledgement, new ones wait in the module.
 *   860: the module hands out its oldest message until told to delete it; the library reads
 *     nothing more until the record is acknowledged, then deletes it. One message at a time.
 *   865: the module marks a message read as it hands it out, has no delete command and drops
 *     its oldest read messages when its store is full, so it cannot keep a message for the host.
 *     The library reads the next message only once the previous record is acknowledged: at most
 *     one message (handed out, not yet stored by the host) can be lost when the host goes down.
 *
 * After a crash or a stop every message held but not acknowledged, and every message
 * acknowledged in the last second or so (its delete had not come yet), is handed out again: a
 * host may store such a message twice, and must tell a repeat by its fields. A host that stops
 * cleanly can avoid most of these by waiting, after its last acknowledgement, until
 * SMSGetReceivePolls has gone up by two before it calls SMSStopSerice.
 */
TIDEWIRE_API int32_t TIDEWIRE_CALL SMSAcknowledgeMessage(int32_t receipt);

#ifdef __cplusplus
}
#endif

#endif /* TIDEWIRE_H */
