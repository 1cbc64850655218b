#ifndef QRMIME_QRMIME_C_H
#define QRMIME_QRMIME_C_H
/* A C interface over QRMIMECtrl for hosts that are not C++. Strings are UTF-8 (bytes as
 * they come); every call returns normally. Events arrive through the callbacks, on the
 * thread that calls qrmime_process_events or qrmime_wait_idle. */

#include <stddef.h>
#include <stdint.h>

#include "qrmime/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct qrmime_ctrl qrmime_ctrl;

typedef struct qrmime_callbacks {
    void* user;
    void (*started)(void* user, int encoding);
    void (*progress)(void* user, int encoding, int32_t bytes_read, int32_t bytes_written,
                     int32_t count);
    void (*finished)(void* user, int encoding, int16_t error);
    /* The proposed name is in `name` (a buffer of `capacity` bytes, NUL-terminated); the
     * callback may overwrite it with another NUL-terminated name, or an empty one to skip. */
    void (*decoding_file)(void* user, char* name, size_t capacity, const char* content_type,
                          const char* content_encoding);
} qrmime_callbacks;

QRMIME_API qrmime_ctrl* qrmime_create(void);
QRMIME_API void qrmime_destroy(qrmime_ctrl* ctrl);
/* Copies `callbacks`; NULL removes them. */
QRMIME_API void qrmime_set_callbacks(qrmime_ctrl* ctrl, const qrmime_callbacks* callbacks);

QRMIME_API void qrmime_set_source(qrmime_ctrl* ctrl, const char* path);
QRMIME_API void qrmime_set_destination(qrmime_ctrl* ctrl, const char* path);
QRMIME_API void qrmime_set_content_type(qrmime_ctrl* ctrl, const char* type);
QRMIME_API void qrmime_set_fire_status(qrmime_ctrl* ctrl, int fire);
QRMIME_API int32_t qrmime_destination_size(const qrmime_ctrl* ctrl);

/* 1 when the worker was started, 0 otherwise. */
QRMIME_API int qrmime_encode(qrmime_ctrl* ctrl);
QRMIME_API int qrmime_decode(qrmime_ctrl* ctrl);
/* Runs the queued events; returns how many ran. */
QRMIME_API size_t qrmime_process_events(qrmime_ctrl* ctrl);
/* Runs events until the operation has ended; 1 when it ended within `timeout_ms`. */
QRMIME_API int qrmime_wait_idle(qrmime_ctrl* ctrl, long timeout_ms);

#ifdef __cplusplus
}
#endif

#endif
