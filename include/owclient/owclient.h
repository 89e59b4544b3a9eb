/*
 * owclient: news-wire client library, C interface.
 *
 * Three families of functions:
 *   OrbrixWire*  the wire client: start/stop, connections to a wire server (TCP port
 *                39030), protocol messages in and out, the library's log lines;
 *   HOBW*        the gateway: one session that logs in to a wire server, requests
 *                stories and hands raw file blocks and/or rendered HTML to a callback;
 *   OBConvert*   conversion of a story (NITF XML + RDF metadata) to HTML through a
 *                template, and reading single fields, with no connection at all.
 *
 * Conventions
 *   - Results are small status codes (or an 8-bit bool); details go to the log (see
 *     OrbrixWireSetLogCallback). No function lets an exception or signal escape.
 *   - Structures exchanged with the application are byte-packed, little-endian.
 *   - Pointer-sized values (handles, user values) are uintptr_t.
 *   - Server addresses are IPv4 addresses in host byte order (10.1.2.3 is 0x0A010203).
 *   - Bytes handed to a callback belong to the library and are valid only during the
 *     call; copy what you keep.
 *   - Callbacks run on library threads. A receive callback runs with the wire client's
 *     connection-list lock held, and the log callback with the trace lock held: neither
 *     may wait for a thread that is itself calling into the library, and the log
 *     callback must not log through the library.
 *   - Freeing a null conversion handle returns 2 and does nothing.
 *   - Extensions (marked so below) are additions of this library: named results,
 *     OwclientVersion and OwclientResultText. Reference: owclient(3) and the pages it
 *     names.
 */
#ifndef OWCLIENT_OWCLIENT_H
#define OWCLIENT_OWCLIENT_H

#include <stdint.h>

#include "owclient/export.h"

#define OWCLIENT_VERSION_MAJOR 1
#define OWCLIENT_VERSION_MINOR 0
#define OWCLIENT_VERSION_PATCH 0

#ifdef __cplusplus
class WCXMLWireMsg; /* the message classes: owclient/wire_messages.h */
extern "C" {
#else
typedef struct WCXMLWireMsg WCXMLWireMsg; /* opaque in C */
#endif

/* ------------------------------------------------------------------ wire client */

/* Called on the wire-client thread once per received message; the callback owns the
 * message and destroys it (C++: delete through the WCXMLWireMsg pointer). */
typedef void (*OrbrixWireRXCallback)(WCXMLWireMsg *msg, uintptr_t user);
/* severity: 0 failures, 1 wire-client thread start/end, 2 progress. */
typedef void (*OrbrixWireLogCallback)(const char *text, int32_t severity, uintptr_t user);

/* logValue: 0 = no log file (trace callback only); (uintptr_t)-1 or 0xFFFFFFFF = the
 * library creates and owns its daily log files; anything else = a LogFile the caller
 * keeps owning. Starts the clock and the wire-client thread. Returns 1 when the clock
 * started. Call once, from one thread, before any other wire or gateway call. */
OWCLIENT_API uint8_t OrbrixWireStartup(uintptr_t logValue);
/* Stops the wire-client thread (closing every connection) and the clock. Always 1. */
OWCLIENT_API uint8_t OrbrixWireShutdown(void);
/* Starts a non-blocking connect to address:39030. 0 = opened (*handle set), 1 = failed
 * (*handle = 0). A result of 0 does not mean the server was reached. */
OWCLIENT_API int32_t OrbrixWireOpen(uintptr_t *handle, uint32_t address, OrbrixWireRXCallback cb,
                                    uintptr_t user);
/* Closes a connection; handle 0 does nothing. Always 0. */
OWCLIENT_API int32_t OrbrixWireClose(uintptr_t handle);
/* Queues a message for sending. 0 = queued (the library now owns msg), 2 = no
 * connection (handle 0), 3 = queuing failed; on 2 and 3 the caller still owns msg. */
OWCLIENT_API int32_t OrbrixWireTXMsg(uintptr_t handle, WCXMLWireMsg *msg);
/* Receives every log line from now on; a null callback removes it. Any time. */
OWCLIENT_API void OrbrixWireSetLogCallback(OrbrixWireLogCallback cb, uintptr_t user);

/* ---------------------------------------------------------------------- gateway */

#pragma pack(push, 1)
/* A raw file block, or (mFName ending ".htm") the HTML of a completed story. 26 bytes on
 * 32-bit targets; pointers are pointer-sized here. */
typedef struct HOBWBlockQElt {
  uint32_t mSessionID;
  uint8_t mFirstBlock;
  uint8_t mLastBlock;
  uint32_t mBlockNum;
  char *mFName;
  char *mParentFName;
  uint8_t *mData;
  uint32_t mDataLen; /* for HTML the terminating NUL is counted */
} HOBWBlockQElt;

/* 27 bytes. */
typedef struct HOBWStats {
  uint8_t mConnected;
  uint8_t mSessionValid;
  uint32_t mSessionID;
  uint8_t mMessagesLost; /* cleared by every HOBWGetStats */
  uint32_t mFilesTotal;
  uint32_t mFilesToday;
  uint32_t mSecsSinceLastFile;
  uint32_t mMaxSecsBetweenFiles;
  uint32_t mQueueLen;
} HOBWStats;
#pragma pack(pop)

/* Called on the delivery thread, one call at a time; rec is valid only during the call. */
typedef void (*HOBWCallback)(HOBWBlockQElt *rec, uintptr_t user);

/* The wire handle that designates no connection: 0. */
OWCLIENT_API extern const uint32_t OBW_HANDLE_INVALID;

/* Starts the gateway session in mode 0 (raw blocks). resume == 1 resumes sessionID.
 * 0 when cb is null. Requires OrbrixWireStartup. */
OWCLIENT_API uint8_t HOBWStart(uint32_t address, HOBWCallback cb, uintptr_t user, uint8_t resume,
                               uint32_t sessionID);
/* mode 0 = raw blocks, 1 = HTML of each story only, 2 = both. Modes 1 and 2 need a
 * template; xlate (a tag translation table) is optional. 0 when refused. */
OWCLIENT_API uint8_t HOBWStartWithTemplate(uint32_t address, HOBWCallback cb, uintptr_t user,
                                           uint32_t mode, const char *tmpl, uint32_t tmplLen,
                                           const char *xlate, uint32_t xlateLen, uint8_t resume,
                                           uint32_t sessionID);
/* Stops the session; sendDone != 0 sends DONE first and waits up to 12 s for the answer.
 * Blocks still queued for the callback are discarded, and the server has already counted
 * them delivered: an application that must not lose one waits for mQueueLen (HOBWGetStats)
 * to reach 0 first. Always 1. */
OWCLIENT_API uint8_t HOBWStop(uint8_t sendDone);
/* 0 for a null pointer. */
OWCLIENT_API uint8_t HOBWGetStats(HOBWStats *stats);

/* ------------------------------------------------------------------- conversion */

/* Result codes: 0 success, 1 missing text argument or failure, 2 null handle (or null
 * out-pointer), 3 allocation failure; named OWC_CONVERT_* below. */
typedef struct OBConvertEnvT *OBConvertEnv; /* a template with its translation table */
typedef struct OBConvertObjT *OBConvertObj; /* a story document */
typedef void (*OBConvertCallback)(const uint8_t *data, uint32_t len, uintptr_t user1,
                                  uintptr_t user2);

OWCLIENT_API uint32_t OBConvertNewEnv(const char *tmpl, uint32_t tmplLen, const char *xlate,
                                      uint32_t xlateLen, OBConvertEnv *env);
OWCLIENT_API uint32_t OBConvertFreeEnv(OBConvertEnv env);
/* A file flag of 1 means the pointer is a file name (the length is ignored). */
OWCLIENT_API uint32_t OBConvertNewObj(uint8_t xmlIsFile, const char *xml, uint32_t xmlLen,
                                      uint8_t rdfIsFile, const char *rdf, uint32_t rdfLen,
                                      OBConvertObj *obj);
OWCLIENT_API uint32_t OBConvertFreeObj(OBConvertObj obj);
/* The callback receives the HTML with its terminating NUL counted in len. */
OWCLIENT_API uint32_t OBConvertApplyTemplate(OBConvertEnv env, OBConvertObj obj,
                                             OBConvertCallback cb, uintptr_t u1, uintptr_t u2);
/* Field getters: the callback receives the text without its terminator in len. */
OWCLIENT_API uint32_t OBConvertGetHeadline(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                           uintptr_t u2);
OWCLIENT_API uint32_t OBConvertGetSubheadline(OBConvertObj obj, OBConvertCallback cb,
                                              uintptr_t u1, uintptr_t u2, uint32_t index);
OWCLIENT_API uint32_t OBConvertGetByline(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                         uintptr_t u2, uint32_t index);
OWCLIENT_API uint32_t OBConvertGetDistributor(OBConvertObj obj, OBConvertCallback cb,
                                              uintptr_t u1, uintptr_t u2);
OWCLIENT_API uint32_t OBConvertGetDateline(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                           uintptr_t u2);
OWCLIENT_API uint32_t OBConvertGetSeriesName(OBConvertObj obj, OBConvertCallback cb,
                                             uintptr_t u1, uintptr_t u2);
OWCLIENT_API uint32_t OBConvertGetSeriesPart(OBConvertObj obj, OBConvertCallback cb,
                                             uintptr_t u1, uintptr_t u2);
OWCLIENT_API uint32_t OBConvertGetSeriesTotalPart(OBConvertObj obj, OBConvertCallback cb,
                                                  uintptr_t u1, uintptr_t u2);
OWCLIENT_API uint32_t OBConvertGetBody(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                       uintptr_t u2);
/* ns null = the default metadata namespace, "" = a complete property path. */
OWCLIENT_API uint32_t OBConvertGetProperty(OBConvertObj obj, OBConvertCallback cb, uintptr_t u1,
                                           uintptr_t u2, const char *ns, const char *prop,
                                           uint8_t valueOnly);
OWCLIENT_API uint32_t OBConvertGetPropertyAttribute(OBConvertObj obj, OBConvertCallback cb,
                                                    uintptr_t u1, uintptr_t u2, const char *ns,
                                                    const char *prop, const char *attr);
OWCLIENT_API uint32_t OBConvertAddParseProperty(OBConvertEnv env, const char *ns,
                                                const char *prop);
/* 1 (default) escapes markup characters in captured text, 2 also the apostrophe. */
OWCLIENT_API void OBConvertSetEntityRefOutput(uint32_t mode);
OWCLIENT_API void OBConvertSetLevelSeparator(char sep);

/* ------------------------------------------------------- extension: result names */

/* Extension: names for the results above. The numbers are those the functions have
 * always returned; the families give the same number different meanings, so each
 * family has its own names. */

/* OrbrixWireOpen, OrbrixWireClose, OrbrixWireTXMsg (int32_t). */
enum OwclientWireResult {
  OWC_WIRE_OK = 0,            /* opened, closed, or queued (the library owns the message) */
  OWC_WIRE_OPEN_FAILED = 1,   /* OrbrixWireOpen: no connection was created, *handle = 0 */
  OWC_WIRE_NO_CONNECTION = 2, /* OrbrixWireTXMsg: handle 0; the caller keeps the message */
  OWC_WIRE_NOT_QUEUED = 3     /* OrbrixWireTXMsg: no memory or no room left in the send
                                 queue; the caller keeps the message */
};

/* The 8-bit bool results: OrbrixWireStartup (clock started), OrbrixWireShutdown and
 * HOBWStop (always true), HOBWStart, HOBWStartWithTemplate (accepted), HOBWGetStats
 * (filled). */
enum OwclientBoolResult { OWC_BOOL_FALSE = 0, OWC_BOOL_TRUE = 1 };

/* Every OBConvert* function that returns a code (uint32_t). */
enum OwclientConvertResult {
  OWC_CONVERT_OK = 0,
  OWC_CONVERT_FAILED = 1,     /* a required text argument is missing, or the step failed */
  OWC_CONVERT_BAD_HANDLE = 2, /* null handle, or null out-pointer of a creating function */
  OWC_CONVERT_NO_MEMORY = 3   /* the environment or object could not be allocated */
};

/* Extension: the version of the library actually loaded, "MAJOR.MINOR.PATCH" (the
 * macros above give the version of the header compiled against). Static text. */
OWCLIENT_API const char *OwclientVersion(void);
/* Extension: one line of English for a 32-bit result code, of either the conversion
 * or the wire family: 0 to 2 mean the same in both, and the text of 3 names both
 * meanings. An 8-bit bool result is not a code: do not pass it. Unknown codes get
 * "unknown result code". Static text, never NULL; any thread, any time. */
OWCLIENT_API const char *OwclientResultText(int code);

#ifdef __cplusplus
}
#endif

#endif /* OWCLIENT_OWCLIENT_H */
