// SPDX-License-Identifier: MIT
// Byte counters and rates of one I/O port, and a list of such records.
#ifndef OWCLIENT_TRANSPORT_IO_PORT_STATS_H
#define OWCLIENT_TRANSPORT_IO_PORT_STATS_H

#include <cstdint>
#include <string>

#include "runtime/dl_list.h"
#include "runtime/tick_time.h"

namespace owc {

// A plain value record: totals since the port was constructed, averages since it was
// last opened, rates over the last completed 10-second window. Not thread-safe; IOPort
// hands out copies.
class IOPortStats {
 public:
  // Stored form: start time (TickTime, relative), six little-endian 32-bit counters in
  // field order, the name NUL-padded to 32 bytes.
  static constexpr uint32_t kStoredSize = 66;
  static constexpr uint32_t kStoredNameSize = 32;

  IOPortStats() = default;
  IOPortStats(const IOPortStats& other) = default;
  IOPortStats& operator=(const IOPortStats& other) = default;
  virtual ~IOPortStats() = default;

  // Zeroes the start time and the counters; the name stays.
  void Reset();
  // Writes kStoredSize bytes to out (false when out is null); a name of 32 characters or more is
  // cut to 31.
  bool Store(uint8_t* out) const;
  // Resets, then reads a stored form; false (record reset) when size < kStoredSize.
  bool Load(const uint8_t* bytes, uint32_t size);

  TickTime mStartTime;
  std::string mName;
  uint32_t mRXTotal = 0;
  uint32_t mRXAverage = 0;  // bytes per second since mStartTime
  uint32_t mRXRate = 0;     // bytes per second over the last completed window
  uint32_t mTXTotal = 0;
  uint32_t mTXAverage = 0;
  uint32_t mTXRate = 0;
};

// Owns its records. No lock of its own.
class IOPortStatsList : public DLList<IOPortStats*> {
 public:
  IOPortStatsList() = default;
  ~IOPortStatsList() override;

  // Appends a copy of stats; false (logged) when memory ran out.
  bool AddStats(const IOPortStats& stats);
  // Replaces the content with copies of other's records, in order; false (logged) at the
  // first copy that fails, keeping the copies made so far.
  bool Copy(const IOPortStatsList& other);
  void DeleteAll();
};

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_IO_PORT_STATS_H
