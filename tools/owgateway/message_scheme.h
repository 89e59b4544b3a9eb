// SPDX-License-Identifier: MIT
// How a completed file becomes messages on a log: subject, headers, message id and chunks.
// Kept apart from any client library so that the scheme is tested on its own and a
// consumer in another language can be written from this file and docs/JETSTREAM.md.
//
// Subject: PREFIX.<kind>.<token>, kind "raw" or "html", token the file name with '.', '*',
// '>', blanks, control and non-ASCII bytes replaced by '_' (a long name is cut and ends
// in '~' and a hash of the whole name). The real name travels in Ow-File-Name.
//
// Headers of every message of a file:
//   Nats-Msg-Id       the file id (see MessageId); a chunk's adds "#<chunk>/<chunks>"
//   Content-Type      from the kind and the name's extension
//   Ow-Kind           raw | html
//   Ow-File-Name      the file name as the server gave it (control bytes as %XX)
//   Ow-Story          the story's base name, when the file belongs to a story
//   Ow-Headline       the headline, when known (at most 512 bytes)
//   Ow-Received       UTC time the file was complete, e.g. 2026-12-06T03:48:07.123Z
//   Ow-Size           the whole file's length in bytes
//   Ow-Content-Hash   fnv1a64:<16 hex digits> of the whole file
// A file that does not fit in one message (the server's maximum payload, less the
// headers) is sent as chunks numbered from 0, each with, in addition:
//   Ow-File-Id        the file id (the same for all chunks)
//   Ow-Chunk          this chunk's number, Ow-Chunks the number of chunks
//   Ow-Offset         where this chunk's bytes go in the file
//   Ow-Final          "1" on the last chunk only
// A message without Ow-Chunks is the whole file.
#ifndef OWGATEWAY_MESSAGE_SCHEME_H
#define OWGATEWAY_MESSAGE_SCHEME_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "publisher.h"

namespace owgateway {

using Headers = std::vector<std::pair<std::string, std::string>>;

uint64_t Fnv1a64(const uint8_t* data, size_t length);

// A name as one subject token.
std::string SubjectToken(const std::string& name);
std::string SubjectFor(const std::string& prefix, const CompletedFile& file);
// "wire.<feed>", the feed name made a token.
std::string DefaultSubjectPrefix(const std::string& feed);
// True when a stream subject (which may hold '*' and '>') takes the subject.
bool SubjectMatches(const std::string& pattern, const std::string& subject);

// The id that lets the log drop a file it has already stored: kind, name, length and a hash
// of the content. Not the wire session: a new login gets a new session id and the server
// sends an unfinished file again, which must still be known as the same file. Not the name
// alone: a later story may reuse a name with new content, which must not be dropped.
std::string MessageId(const CompletedFile& file);

// The headers every message of the file carries (above). id is MessageId(file).
Headers FileHeaders(const CompletedFile& file, const std::string& id);
// The extra headers of chunk `index` of `count`, whose bytes start at `offset`.
Headers ChunkHeaders(const std::string& id, size_t index, size_t count, size_t offset);
// Bytes the headers take in a message (their wire form, "NATS/1.0" line included).
size_t EncodedHeaderBytes(const Headers& headers);

struct ChunkPlan {
  size_t chunkBytes = 0;  // bytes per chunk (the last may hold fewer)
  size_t count = 1;       // 1: the whole file in one message, without chunk headers
};
// Splits a file of `length` bytes for a server taking `maxPayload` bytes a message
// (headers included); fileHeaderBytes is what FileHeaders takes, chunkHeaderBytes the most
// a chunk adds (MaxChunkHeaderBytes). False, with error, when the headers leave too little
// room for data.
bool PlanChunks(size_t length, int64_t maxPayload, size_t fileHeaderBytes, size_t chunkHeaderBytes,
                ChunkPlan& plan, std::string& error);
// The most bytes ChunkHeaders adds for a file of `length` bytes (any chunk number).
size_t MaxChunkHeaderBytes(const std::string& id, size_t length);

// The name with control bytes and '%' as %XX: one line, and two names never read alike.
std::string EscapeName(const std::string& name);

// UTC time as 2026-12-06T03:48:07.123Z.
std::string Rfc3339Utc(int64_t unixMs);

}  // namespace owgateway

#endif  // OWGATEWAY_MESSAGE_SCHEME_H
