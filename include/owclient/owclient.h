// SPDX-License-Identifier: MIT
/*
 * owclient: news-wire client library, C interface.
 *
 * Three families of functions:
 *   OrbrixWire*  the wire client: start/stop, connections to a wire server (TCP port
 *                39030 unless OrbrixWireSetServerPort says otherwise), protocol
 *                messages in and out, the library's log lines;
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
/* Starts a non-blocking connect to address and the server port (39030 unless
 * OrbrixWireSetServerPort chose another). 0 = opened (*handle set), 1 = failed
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
/* Extension. The TCP port of the wire server for every connection opened from now on,
 * by OrbrixWireOpen or a gateway session; 0 restores the default, 39030. Connections
 * already open keep theirs. Any thread, any time, also before OrbrixWireStartup. */
OWCLIENT_API void OrbrixWireSetServerPort(uint16_t port);

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
 * Blocks still queued for the callback are discarded. By default the server has already
 * counted them delivered: an application that must not lose one calls HOBWDrain first, or
 * starts with HOBW_ACK_AFTER_DELIVERY, under which a discarded block was never acknowledged
 * and comes again when the session is resumed. Always 1. */
OWCLIENT_API uint8_t HOBWStop(uint8_t sendDone);
/* 0 for a null pointer. */
OWCLIENT_API uint8_t HOBWGetStats(HOBWStats *stats);

/* Extensions of the gateway interface. */

/* Extension. HOBWSetOptions bit: acknowledge a raw block (modes 0 and 2) only once the
 * callback that hands it over has returned, so that a block the server counts as delivered
 * has reached the application; the next file is requested (and counted in mFilesTotal)
 * once the last block of the current one is acknowledged. A slow callback slows the feed
 * and never times the session out. Mode 1 keeps acknowledging on receipt: nothing is handed
 * over before a story's second file has arrived, and the server sends it only once the
 * first file is acknowledged. */
#define HOBW_ACK_AFTER_DELIVERY 0x1u

/* Extension. HOBW_* option bits for the next HOBWStart or HOBWStartWithTemplate (a running
 * session keeps its own). 0, the default, acknowledges every block on receipt. */
OWCLIENT_API void HOBWSetOptions(uint32_t options);
/* Extension. The most bytes of blocks waiting for the callback (data, names and 160 bytes
 * of bookkeeping per block), passed by one block at most. At the limit the session stops
 * requesting files and reading its connection until the callback catches up (the server is
 * held back by TCP); that pause never counts as server silence. The same figure caps each
 * story file joined for HTML (modes 1 and 2): a larger file is refused with a log line, its
 * story discarded, and the next story renders. Read by the next start; 0 restores the
 * default, 64 MiB. */
OWCLIENT_API void HOBWSetQueueLimit(uint32_t maxBytes);
/* Extension. Waits, on the caller's thread, until no block waits for the callback and no
 * callback runs, or timeoutMs passed. 0 = queue empty, 1 = time-out, 2 = no session (none
 * running, or it stopped meanwhile). Call before HOBWStop to keep the blocks that the
 * default acknowledge-on-receipt has counted; never from the callback itself (it would
 * wait for its own return until the time-out). */
OWCLIENT_API int HOBWDrain(uint32_t timeoutMs);
/* Extension. hold != 0: the session asks the server for no further file; the file under
 * way is received to its end, and the session stays logged in (it sends heartbeats).
 * 0 lets it ask again. Kept across starts until changed. Any thread, any time, the
 * callback included: with HOBW_ACK_AFTER_DELIVERY a hold set in the callback of a file's
 * last block takes effect before the next file is asked for, so an application can stop
 * after exactly the files it wants (hold, HOBWDrain, HOBWStop). */
OWCLIENT_API void HOBWHoldRequests(uint8_t hold);

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
/* 1 (default) escapes markup characters in captured text, 2 also the apostrophe.
 * Extension: in modes 1 and 2 the attribute values written into the start tags of a
 * captured element's content (and of GetProperty without valueOnly) are escaped the same
 * way, so that a value cannot break out of its quotes; other modes write them as parsed.
 * GetPropertyAttribute always returns the value as parsed. */
OWCLIENT_API void OBConvertSetEntityRefOutput(uint32_t mode);
OWCLIENT_API void OBConvertSetLevelSeparator(char sep);

/* Extension: reading options for the story documents people actually receive.
 * Module-wide like the entity-reference mode: they apply to every story document read
 * afterwards, by the conversion functions and by the gateway's rendering alike. The
 * default, 0, reads documents exactly as described above. Bits not defined here are
 * ignored (OBConvertGetReadOptions does not report them).
 *
 * OBCONVERT_READ_PLAIN_NITF: an element or attribute whose namespace URI begins with
 *   "http://iptc.org/std/NITF/" or "http://iptc.org/std/nitf/" (NITF 3.3 and later) is
 *   named as if it had no namespace, so that the standard fields, property paths,
 *   templates and translation tables written for un-namespaced NITF work unchanged.
 *   Every other namespace keeps its "URI:local" names.
 * OBCONVERT_READ_DECLARED_ENCODING: a document whose bytes are valid UTF-8 is read as
 *   UTF-8, whatever it declares. One that is not, and declares ISO-8859-1 (or an alias
 *   such as latin1), windows-1252 (cp1252) or US-ASCII, is read in that encoding and its
 *   text delivered as UTF-8; US-ASCII is read as windows-1252, the superset such feeds
 *   mean. Any other document fails as before, with a log line naming the encoding it
 *   declares and saying that its bytes are not UTF-8.
 * OBCONVERT_READ_HTML_ENTITIES: the 252 named character references of HTML 4 (&eacute;
 *   &nbsp; &mdash; &euro; ...) resolve, with or without a DOCTYPE. No DTD is ever
 *   fetched or read from a file: the library supplies the declarations itself. An entity
 *   the document declares in its internal subset wins. A reference in text that still
 *   has no definition is logged once per document with its name.
 */
#define OBCONVERT_READ_PLAIN_NITF 0x1u
#define OBCONVERT_READ_DECLARED_ENCODING 0x2u
#define OBCONVERT_READ_HTML_ENTITIES 0x4u
#define OBCONVERT_READ_REAL_FEEDS 0x7u /* all three */
OWCLIENT_API void OBConvertSetReadOptions(uint32_t options);
OWCLIENT_API uint32_t OBConvertGetReadOptions(void);

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
