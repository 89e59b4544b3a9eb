// SPDX-License-Identifier: MIT
// The server's side of a wire session: what each client message means at the point where the
// connection's dialog stands, and the answers it gets.
//
//   hello -> USER [id] -> +USER with the session id (resumed when known, else new)
//   FLTR ALL|STORY -> +FLTR (anything else: -FLTR (400))
//   RQST -> +FILE [parent] name, or +RQST (204) No content when nothing waits
//   ACK names -> the blocks (one at a time, each after the ACK of the one before, or all at
//   once with --pipeline); ACK n -> the next block; the last block's ACK delivers the file
//   HRTB -> +HRTB; DONE -> +DONE, the session ends; anything else -> -UNKN (400)
//
// Every answer carries the connection's session id as its prefix once USER bound one; the
// prefix a client writes is not checked against it. Messages out of place get a negative
// answer (no session: "(401) Unauthorized"; an ACK that fits nothing: -UNKN (409)).
#ifndef OWWIRED_DIALOG_H
#define OWWIRED_DIALOG_H

#include <string_view>

#include "connection.h"
#include "context.h"

namespace owwired {

// Handles one message (`text` without its NUL) from `connection`'s client.
void HandleMessage(Connection* connection, std::string_view text, Context* context);

// In pipelined sending, queues further blocks while the connection's output is short. Called
// after output was written; does nothing in any other state.
void RefillPipeline(Connection* connection, Context* context);

// Lets go of the session that `connection` holds, keeping its cursor for a later resumption.
// Called before the connection is destroyed.
void ReleaseSession(Connection* connection, Context* context);

}  // namespace owwired

#endif  // OWWIRED_DIALOG_H
