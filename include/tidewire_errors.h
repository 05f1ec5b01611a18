/*
 * tidewire_errors.h - the number of each last-error text, as SMSGetLastErrorCode gives it.
 * Included by tidewire.h.
 *
 * Every text SMSGetLastError can give has one number here, and the number never changes: a
 * host can branch on it, or show a sentence in its own language, without comparing Chinese
 * texts. The texts themselves are listed in the README's "Error texts". Only
 * TIDEWIRE_ERROR_PORT_OPEN_FAILED's text is followed by more: the system's own reason; its
 * number is the same whatever the reason.
 *
 * New texts get new numbers after the last one; a number is never given to another text.
 */
#ifndef TIDEWIRE_ERRORS_H
#define TIDEWIRE_ERRORS_H

enum TidewireErrorCode {
    /* no failure since the last start-up */
    TIDEWIRE_ERROR_NONE = 0,

    /* SMSStartService and SMSStartServiceEx */
    TIDEWIRE_ERROR_ALREADY_STARTED = 1,          /* the service runs, or is still stopping */
    TIDEWIRE_ERROR_PORT_OPEN_FAILED = 2,         /* the port could not be opened or configured */
    TIDEWIRE_ERROR_NO_ANSWER = 3,                /* nothing answered "AT" */
    TIDEWIRE_ERROR_UNKNOWN_MODULE = 4,           /* the module did not tell its model */
    TIDEWIRE_ERROR_NO_SIM = 5,                   /* the SIM check failed */
    TIDEWIRE_ERROR_WORKER_NOT_STARTED = 6,       /* the worker thread could not be created */
    TIDEWIRE_ERROR_SERVICE_CENTRE_TOO_LONG = 7,  /* the service centre has over 19 bytes */
    TIDEWIRE_ERROR_SERVICE_CENTRE_MALFORMED = 8, /* a quote, comma or control byte in it; while
                                                    sending a PDU: not digits */

    /* SMSSendMessage */
    TIDEWIRE_ERROR_NOT_STARTED = 9,      /* the service is not running */
    TIDEWIRE_ERROR_TEXT_LENGTH = 10,     /* the text is empty or over 255 bytes */
    TIDEWIRE_ERROR_NUMBER_LENGTH = 11,   /* the number is empty or over 31 bytes */
    TIDEWIRE_ERROR_NUMBER_ILLEGAL = 12,  /* a quote, comma or control byte in the number; while
                                            sending a PDU: not digits */
    TIDEWIRE_ERROR_TEXT_ILLEGAL = 13,    /* Ctrl-Z or ESC in the text */
    TIDEWIRE_ERROR_LEGACY_EMPTY = 14,    /* legacy edition: an empty text or number */
    TIDEWIRE_ERROR_LEGACY_TOO_LONG = 15, /* legacy edition: too long for the record */

    /* the worker initialising the module: the service ends, except after the two CPMS ones */
    TIDEWIRE_ERROR_INIT_CNMI_GSM = 16,       /* GSM: AT+CNMI refused */
    TIDEWIRE_ERROR_INIT_CMGF_GSM = 17,       /* GSM: AT+CMGF=0 refused */
    TIDEWIRE_ERROR_INIT_CPMS_GSM = 18,       /* GSM: AT+CPMS refused; the service runs on */
    TIDEWIRE_ERROR_INIT_SERVICE_CENTRE = 19, /* GSM: AT+CSCA refused */
    TIDEWIRE_ERROR_INIT_CNMI_870 = 20,       /* type 870: AT+CNMI refused */
    TIDEWIRE_ERROR_INIT_CPMS_870 = 21,       /* type 870: AT+CPMS refused; the service runs on */
    TIDEWIRE_ERROR_INIT_SMSTYPE_860 = 22,    /* type 860: at$smstype refused */
    TIDEWIRE_ERROR_INIT_MTRPTTYPE_860 = 23,  /* type 860: at$mtrpttype refused */
    TIDEWIRE_ERROR_INIT_PORT_FAILED = 24,    /* the port failed during the initialisation */

    /* the worker sending and receiving: the service goes on */
    TIDEWIRE_ERROR_SEND_EXCEPTION = 25,         /* a send failed unexpectedly; tried again */
    TIDEWIRE_ERROR_RECEIVE_EXCEPTION = 26,      /* reading the message store failed */
    TIDEWIRE_ERROR_ASCII_TOO_LONG = 27,         /* a message failed: over 140 characters */
    TIDEWIRE_ERROR_ASCII_MODE_FAILED = 28,      /* a message failed: AT+CMGF=1 refused */
    TIDEWIRE_ERROR_UNICODE_TOO_LONG = 29,       /* a message failed: over 70 characters */
    TIDEWIRE_ERROR_UNICODE_MODE_FAILED = 30,    /* a message failed: AT+CMGF=0 refused */
    TIDEWIRE_ERROR_NUMBER_TOO_LONG = 31,        /* a message failed: over 15 digits with 86 */
    TIDEWIRE_ERROR_ASCII_870_MODE_FAILED = 32,  /* a message failed: AT+ZMSGL=1,2 refused */
    TIDEWIRE_ERROR_UNICODE_870_MODE_FAILED = 33 /* a message failed: AT+ZMSGL=6,4 refused */
};

#endif /* TIDEWIRE_ERRORS_H */
