// SPDX-License-Identifier: MIT
// One wire connection: its client port, the application's receive callback and the
// send stream of wire images waiting for the socket.
//
// Thread rules: SetIP, SetRXCallback and Connect run on the opening thread before the
// connection is listed; afterwards everything runs under the client thread's list lock
// (TXMsg and SendNow from application threads, the rest on the client thread). The send
// stream's own lock is taken inside that list lock, never the other way round.
#ifndef OWCLIENT_WIRE_CLIENT_CONNECT_H
#define OWCLIENT_WIRE_CLIENT_CONNECT_H

#include <cstdint>

#include "owclient/owclient.h"
#include "runtime/dl_list.h"
#include "transport/data_stream.h"
#include "wire/client_port.h"

namespace owc {

class WCOBWClientConnect {
 public:
  static constexpr uint16_t kServerPort = 39030;
  // The port the next Connect goes to, for every connection of the process; 0 restores
  // kServerPort. Any thread, any time: a connection already open keeps its port.
  static void SetServerPort(uint16_t port);
  static uint16_t ServerPort();
  // Memory the queued wire images of a connection may hold (bytes and each chunk's
  // overhead, see WCDataStream::ChunkCost) for a server that does not read; past it the
  // port closes, as it would after a silence.
  static constexpr uint32_t kTXStreamBound = 4u << 20;

  WCOBWClientConnect();
  ~WCOBWClientConnect();
  WCOBWClientConnect(const WCOBWClientConnect&) = delete;
  WCOBWClientConnect& operator=(const WCOBWClientConnect&) = delete;

  void SetIP(uint32_t address);
  void SetRXCallback(OrbrixWireRXCallback callback, uintptr_t userValue);
  void Connect();
  // Queues the message's wire image; on success the message is destroyed, on failure
  // (false) the caller keeps it. A message that would take the send stream past its
  // bound fails and closes the port.
  bool TXMsg(WCXMLWireMsg* message);
  // Liveness and receive time-out; a failed check is logged, and closes the port.
  bool IsCnctOK();
  // One poll: check, send what is queued, read and parse, deliver the parsed messages
  // until none is left or delivery is paused. Out of memory it logs and closes the port.
  // True when what the receive callbacks queued could not all be written: the client
  // thread then passes again at once, as a message queued by another thread makes it.
  bool Service();
  // On the thread that queued a message: writes the send stream at once when the port is
  // open and was seen writable, and not corked. True when nothing is left for the client
  // thread to send now.
  bool SendNow();

  // The port to watch for readability between polls, or nullptr when it is not worth
  // watching (closed, or at the end of its stream: it would report readable forever).
  const TCPPort* WatchedPort() const;
  // True when messages wait for delivery, parsed or still in the receive stream past a
  // parse that filled the queue, and delivery is not paused: the next poll should follow
  // at once, as a burst of small messages may sit there with nothing left to read.
  bool HasRXMsg() const;
  // True when the last poll delivered messages and wrote what their callbacks sent: a
  // server in the middle of an exchange answers that within microseconds.
  bool AnswerOwed() const { return mAnswerOwed; }
  // pause: no message is delivered; the port's queue then fills, parsing and reading stop
  // at their bounds and the server is held back by TCP. holdSilence: the receive time-out
  // does not run (a paused reader hears nothing); released, it counts from then on.
  void SetRXHold(bool pause, bool holdSilence);
  bool IsRXPaused() const { return mRXPaused; }
  // Corked, SendNow leaves a queued message for the uncorking's SendNow (or the client
  // thread's pass): the messages one step of a session sends go out in one write, which
  // costs the server one wake-up instead of one per message.
  void SetTXCork(bool cork) { mTXCorked = cork; }
  bool IsTXCorked() const { return mTXCorked; }
  // The connection's port, to look at (tests and diagnostics).
  const WCOWClientPort& Port() const { return mCliPort; }

 private:
  void SendQueued();
  bool Deliver();
  bool DeliverParsed();
  void ClosePort();

  WCOWClientPort mCliPort;
  OrbrixWireRXCallback mRXCallback = nullptr;
  uintptr_t mUserValue = 0;
  WCDataStream mTXStream;
  // Empty RQST answers delivered in a row, counted up to kQuietAnswers.
  static constexpr uint32_t kQuietAnswers = 50;
  uint32_t mEmptyAnswers = 0;
  bool mRXPaused = false;
  bool mSilenceHeld = false;
  bool mTXCorked = false;
  bool mDeliveryCorked = false;  // while the callbacks of one poll run
  bool mAnswerOwed = false;
  // Queued images up to this many bytes in all go out in one write.
  static constexpr uint32_t kTXBatchBytes = 4096;
};

// The client thread's connections, in order of opening; destroys what it still holds.
class WCOBWCliCnctList : public DLList<WCOBWClientConnect*> {
 public:
  ~WCOBWCliCnctList() override { DeleteAll(); }
  void DeleteAll();
};

}  // namespace owc

#endif  // OWCLIENT_WIRE_CLIENT_CONNECT_H
