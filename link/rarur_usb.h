/* The five calls of the Controller maker's USB access library, as this program
 * calls them. A Linux build of that library (or any stand-in) exports exactly
 * these C symbols; the program loads it at run time (link/usb_access.h), so it
 * can be dropped in without rebuilding. Every call returns 0 for success; a
 * negative result is a failure. */
#ifndef RARUR_USB_H
#define RARUR_USB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One attached Controller as rarur_find reports it: 260 bytes. */
typedef struct RarurEntry {
    char identification[256]; /* the library's own: which device, how to reach it */
    uint32_t id;              /* the identifier the user chooses by */
} RarurEntry;

/* Filled by rarur_open, passed by value to the other calls. */
typedef uint64_t RarurHandle;

/* With entries NULL and capacity 0: *count = the number of attached
 * Controllers. Otherwise fills up to `capacity` entries and sets *count to
 * the number filled. */
int rarur_find(RarurEntry* entries, uint32_t capacity, uint32_t* count);
int rarur_open(const RarurEntry* entry, RarurHandle* handle);
/* Waits at most timeout_ms for the first byte; *read = bytes stored (0 when
 * nothing came in time). The peer gone is a failure. */
int rarur_read(RarurHandle handle, uint8_t* buffer, uint32_t capacity, uint32_t* read, uint32_t timeout_ms);
/* Success means all `length` bytes went: *written == length. */
int rarur_write(RarurHandle handle, const uint8_t* data, uint32_t length, uint32_t* written, uint32_t timeout_ms);
int rarur_close(RarurHandle handle);

#ifdef __cplusplus
}
#endif

#endif
