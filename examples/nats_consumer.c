// SPDX-License-Identifier: MIT
/* Reads the stories owgateway publishes to a JetStream stream and writes each file into a
 * folder, as a durable pull consumer: a message is acknowledged only once its file is on
 * disk (written, fsync'd, renamed into place, folder fsync'd), so a crash of this program
 * loses nothing: what was not acknowledged comes again. Two copies with different durable
 * names each receive every story.
 *
 *   nats_consumer [--count N] [--idle-exit SECONDS] URL STREAM SUBJECT DURABLE FOLDER
 *   e.g. nats_consumer nats://127.0.0.1:4222 WIRE 'wire.feed.>' archive ./stories
 *
 * A file too large for one message comes as chunks (headers Ow-File-Id, Ow-Chunk,
 * Ow-Chunks, Ow-Offset; see docs/JETSTREAM.md). Each chunk is written at its offset into a
 * hidden partial file as it comes, and all of them are acknowledged when the last one is
 * in and the whole file's hash matches Ow-Content-Hash.
 *
 * --count N: exit after N files are stored; --idle-exit S: exit when nothing came for S
 * seconds. Exit status: 0 done, 1 a NATS or disk error, 2 wrong arguments. */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <fcntl.h>
#include <nats/nats.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define MAX_PARTIALS 16
#define MAX_CHUNKS 65536
#define MAX_FILE_BYTES (1024LL * 1024 * 1024)

typedef struct Partial {
  char *fileId;    /* NULL: the slot is free */
  char *name;
  char path[4096]; /* the hidden partial file */
  int fd;
  long chunks;
  long received;
  long long size;
  char hash[40];
  char **replies;  /* per chunk: where its acknowledgement goes, once the file is in */
  long long born;  /* order of arrival, to give up the oldest when all slots are taken */
} Partial;

static volatile sig_atomic_t gStop = 0;
static const char *gFolder;
static natsConnection *gConn;
static Partial gPartials[MAX_PARTIALS];
static long long gArrivals = 0;
static unsigned long gTempCounter = 0;

static void OnSignal(int sig) {
  (void)sig;
  gStop = 1;
}

static unsigned long long Fnv1a64(const unsigned char *data, size_t length,
                                  unsigned long long hash) {
  size_t i;
  for (i = 0; i < length; ++i) {
    hash ^= data[i];
    hash *= 1099511628211ULL;
  }
  return hash;
}

static const char *Header(natsMsg *msg, const char *key) {
  const char *value = NULL;
  if (natsMsgHeader_Get(msg, key, &value) != NATS_OK) return NULL;
  return value;
}

static long long HeaderNumber(natsMsg *msg, const char *key) {
  const char *value = Header(msg, key);
  char *end = NULL;
  long long n;
  if (value == NULL || *value == '\0') return -1;
  errno = 0;
  n = strtoll(value, &end, 10);
  return (errno != 0 || *end != '\0' || n < 0) ? -1 : n;
}

/* The folder takes plain names only: nothing that climbs out of it, hides, or was escaped
 * by the publisher for holding control bytes. */
static int SafeName(const char *name) {
  return name != NULL && name[0] != '\0' && name[0] != '.' && strchr(name, '/') == NULL &&
         strchr(name, '%') == NULL && strlen(name) < 256;
}

static void Ack(const char *reply, const char *verdict) {
  if (reply != NULL && *reply != '\0') natsConnection_PublishString(gConn, reply, verdict);
}

static int SyncFolder(void) {
  int fd = open(gFolder, O_RDONLY | O_DIRECTORY);
  int ok;
  if (fd < 0) return 0;
  ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

/* fnv1a64:<hex> of a file on disk, or "" when it cannot be read. */
static void HashFile(const char *path, char *out, size_t outSize) {
  unsigned char buf[65536];
  unsigned long long hash = 14695981039346656037ULL;
  ssize_t n;
  int fd = open(path, O_RDONLY);
  out[0] = '\0';
  if (fd < 0) return;
  while ((n = read(fd, buf, sizeof buf)) > 0) hash = Fnv1a64(buf, (size_t)n, hash);
  close(fd);
  if (n == 0) snprintf(out, outSize, "fnv1a64:%016llx", hash);
}

/* True when the folder holds this very file already (a repeat after a restart). */
static int AlreadyStored(const char *name, const char *hash) {
  char path[4096], have[40];
  if (hash == NULL) return 0;
  snprintf(path, sizeof path, "%s/%s", gFolder, name);
  HashFile(path, have, sizeof have);
  return strcmp(have, hash) == 0;
}

static int WriteAll(int fd, const char *data, size_t length, off_t offset) {
  while (length > 0) {
    ssize_t n = pwrite(fd, data, length, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    data += n;
    length -= (size_t)n;
    offset += n;
  }
  return 1;
}

/* fsync, rename into place, fsync the folder: only then is the file on disk. */
static int Commit(int fd, const char *tmp, const char *name) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", gFolder, name);
  if (fsync(fd) != 0 || close(fd) != 0) {
    unlink(tmp);
    return 0;
  }
  if (rename(tmp, path) != 0) {
    unlink(tmp);
    return 0;
  }
  return SyncFolder();
}

static int StoreWhole(natsMsg *msg, const char *name) {
  char tmp[4096];
  int fd;
  snprintf(tmp, sizeof tmp, "%s/.tmp-%ld-%lu", gFolder, (long)getpid(), gTempCounter++);
  fd = open(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return 0;
  if (!WriteAll(fd, natsMsg_GetData(msg), (size_t)natsMsg_GetDataLength(msg), 0)) {
    close(fd);
    unlink(tmp);
    return 0;
  }
  return Commit(fd, tmp, name);
}

static void FreePartial(Partial *p, const char *verdict) {
  long i;
  for (i = 0; i < p->chunks; ++i) {
    if (verdict != NULL) Ack(p->replies[i], verdict);
    free(p->replies[i]);
  }
  free(p->replies);
  free(p->fileId);
  free(p->name);
  if (p->fd >= 0) {
    close(p->fd);
    unlink(p->path);
  }
  memset(p, 0, sizeof *p);
  p->fd = -1;
}

static Partial *FindPartial(const char *fileId) {
  int i;
  for (i = 0; i < MAX_PARTIALS; ++i) {
    if (gPartials[i].fileId != NULL && strcmp(gPartials[i].fileId, fileId) == 0) {
      return &gPartials[i];
    }
  }
  return NULL;
}

/* A free slot; when all are taken, the oldest is given up and its chunks handed back to
 * the server (negative acknowledgement) to come again. */
static Partial *NewPartial(void) {
  int i, oldest = 0;
  for (i = 0; i < MAX_PARTIALS; ++i) {
    if (gPartials[i].fileId == NULL) return &gPartials[i];
    if (gPartials[i].born < gPartials[oldest].born) oldest = i;
  }
  fprintf(stderr, "nats_consumer: too many files in pieces; %s comes again later\n",
          gPartials[oldest].name);
  FreePartial(&gPartials[oldest], "-NAK");
  return &gPartials[oldest];
}

static int OpenPartial(Partial *p, const char *fileId, const char *name, long chunks,
                       long long size, const char *hash) {
  p->replies = calloc((size_t)chunks, sizeof *p->replies);
  p->fileId = strdup(fileId);
  p->name = strdup(name);
  if (p->replies == NULL || p->fileId == NULL || p->name == NULL) return 0;
  p->chunks = chunks;
  p->size = size;
  p->born = gArrivals;
  snprintf(p->hash, sizeof p->hash, "%s", hash);
  snprintf(p->path, sizeof p->path, "%s/.part-%016llx", gFolder,
           Fnv1a64((const unsigned char *)fileId, strlen(fileId), 14695981039346656037ULL));
  p->fd = open(p->path, O_RDWR | O_CREAT | O_TRUNC, 0644);
  return p->fd >= 0;
}

/* All chunks in: check the whole, put it in place, then acknowledge every chunk. */
static int FinishPartial(Partial *p) {
  char have[40];
  int fd = p->fd;
  HashFile(p->path, have, sizeof have);
  if (strcmp(have, p->hash) != 0) {
    fprintf(stderr, "nats_consumer: %s does not match its hash; dropped\n", p->name);
    FreePartial(p, "+TERM");
    return 1;
  }
  p->fd = -1;
  if (!Commit(fd, p->path, p->name)) return 0;
  printf("%s\n", p->name);
  fflush(stdout);
  FreePartial(p, "+ACK");
  return 2;
}

/* Returns 0 on a disk error, 1 when the chunk is kept, 2 when it completed a file. */
static int StoreChunk(natsMsg *msg, const char *name, const char *hash) {
  const char *fileId = Header(msg, "Ow-File-Id");
  long long index = HeaderNumber(msg, "Ow-Chunk"), chunks = HeaderNumber(msg, "Ow-Chunks");
  long long offset = HeaderNumber(msg, "Ow-Offset"), size = HeaderNumber(msg, "Ow-Size");
  long long length = natsMsg_GetDataLength(msg);
  Partial *p;
  if (fileId == NULL || hash == NULL || index < 0 || chunks <= 0 || chunks > MAX_CHUNKS ||
      index >= chunks || size < 0 || size > MAX_FILE_BYTES || offset < 0 ||
      offset + length > size) {
    fprintf(stderr, "nats_consumer: a malformed chunk of %s; dropped\n", name);
    Ack(natsMsg_GetReply(msg), "+TERM");
    return 1;
  }
  p = FindPartial(fileId);
  if (p == NULL) {
    if (index == 0 && AlreadyStored(name, hash)) {
      Ack(natsMsg_GetReply(msg), "+ACK");
      return 1;
    }
    p = NewPartial();
    if (!OpenPartial(p, fileId, name, (long)chunks, size, hash)) {
      FreePartial(p, NULL);
      return 0;
    }
  }
  if (p->chunks != chunks) {
    Ack(natsMsg_GetReply(msg), "+TERM");
    return 1;
  }
  if (!WriteAll(p->fd, natsMsg_GetData(msg), (size_t)length, (off_t)offset)) return 0;
  if (p->replies[index] == NULL) ++p->received;
  free(p->replies[index]);
  p->replies[index] = strdup(natsMsg_GetReply(msg) != NULL ? natsMsg_GetReply(msg) : "");
  if (p->received < p->chunks) return 1;
  return FinishPartial(p);
}

/* Returns 0 on a disk error, 1 when nothing was completed, 2 when a file was stored. */
static int Handle(natsMsg *msg) {
  const char *name = Header(msg, "Ow-File-Name");
  const char *hash = Header(msg, "Ow-Content-Hash");
  ++gArrivals;
  if (!SafeName(name)) {
    fprintf(stderr, "nats_consumer: a file name unfit for the folder; skipped\n");
    Ack(natsMsg_GetReply(msg), "+ACK");
    return 1;
  }
  if (Header(msg, "Ow-Chunks") != NULL) return StoreChunk(msg, name, hash);
  if (!AlreadyStored(name, hash) && !StoreWhole(msg, name)) return 0;
  Ack(natsMsg_GetReply(msg), "+ACK");
  printf("%s\n", name);
  fflush(stdout);
  return 2;
}

static natsStatus Subscribe(jsCtx *js, const char *stream, const char *subject,
                            const char *durable, natsSubscription **sub) {
  jsSubOptions so;
  jsErrCode code = 0;
  natsStatus s;
  jsSubOptions_Init(&so);
  so.Stream = stream;
  so.Config.AckPolicy = js_AckExplicit;
  so.Config.AckWait = 60LL * 1000 * 1000 * 1000; /* ns: a large file has time to come in */
  so.Config.MaxAckPending = MAX_CHUNKS;
  s = js_PullSubscribe(sub, js, subject, durable, NULL, &so, &code);
  if (s != NATS_OK) {
    fprintf(stderr, "nats_consumer: cannot subscribe: %s (%d) %s\n", natsStatus_GetText(s),
            (int)code, nats_GetLastError(NULL));
  }
  return s;
}

static int Consume(natsSubscription *sub, long long count, long long idleExit) {
  long long stored = 0;
  time_t lastMessage = time(NULL);
  while (!gStop && (count <= 0 || stored < count)) {
    natsMsgList list = {0};
    int i, failed = 0;
    natsStatus s = natsSubscription_Fetch(&list, sub, 64, 1000, NULL);
    if (s == NATS_TIMEOUT || (s == NATS_OK && list.Count == 0)) {
      if (idleExit > 0 && time(NULL) - lastMessage >= idleExit) break;
      continue;
    }
    if (s != NATS_OK) {
      sleep(1); /* the client reconnects by itself */
      continue;
    }
    lastMessage = time(NULL);
    for (i = 0; i < list.Count && !failed; ++i) {
      int r;
      if (count > 0 && stored >= count) {
        natsMsg_Nak(list.Msgs[i], NULL); /* not ours to keep: comes again at once */
        continue;
      }
      r = Handle(list.Msgs[i]);
      if (r == 0) failed = 1;
      if (r == 2) ++stored;
    }
    natsMsgList_Destroy(&list);
    if (failed) {
      fprintf(stderr, "nats_consumer: cannot write into %s: %s\n", gFolder, strerror(errno));
      return 1;
    }
    natsConnection_Flush(gConn);
  }
  return 0;
}

static int Usage(void) {
  fprintf(stderr,
          "usage: nats_consumer [--count N] [--idle-exit SECONDS] URL STREAM SUBJECT DURABLE "
          "FOLDER\n");
  return 2;
}

int main(int argc, char **argv) {
  long long count = 0, idleExit = 0;
  int i = 1, rc = 1;
  natsOptions *opts = NULL;
  jsCtx *js = NULL;
  natsSubscription *sub = NULL;
  struct sigaction sa;
  for (; i + 1 < argc && strncmp(argv[i], "--", 2) == 0; i += 2) {
    if (strcmp(argv[i], "--count") == 0) count = atoll(argv[i + 1]);
    else if (strcmp(argv[i], "--idle-exit") == 0) idleExit = atoll(argv[i + 1]);
    else return Usage();
  }
  if (argc - i != 5) return Usage();
  gFolder = argv[i + 4];
  for (i = 0; i < MAX_PARTIALS; ++i) gPartials[i].fd = -1;
  i = argc - 5;
  if (mkdir(gFolder, 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "nats_consumer: cannot create %s: %s\n", gFolder, strerror(errno));
    return 1;
  }
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, NULL);
  sigaction(SIGTERM, &sa, NULL);
  if (natsOptions_Create(&opts) != NATS_OK || natsOptions_SetURL(opts, argv[i]) != NATS_OK ||
      natsOptions_SetMaxReconnect(opts, -1) != NATS_OK) {
    fprintf(stderr, "nats_consumer: bad NATS address %s\n", argv[i]);
    return 2;
  }
  if (natsConnection_Connect(&gConn, opts) != NATS_OK ||
      natsConnection_JetStream(&js, gConn, NULL) != NATS_OK ||
      Subscribe(js, argv[i + 1], argv[i + 2], argv[i + 3], &sub) != NATS_OK) {
    fprintf(stderr, "nats_consumer: cannot reach the stream %s at %s\n", argv[i + 1], argv[i]);
  } else {
    rc = Consume(sub, count, idleExit);
  }
  /* Files still in pieces come again at once to whoever reads this durable next (after a
   * crash instead, they come again when their acknowledgement wait runs out). */
  for (i = 0; i < MAX_PARTIALS; ++i) {
    if (gPartials[i].fileId != NULL) FreePartial(&gPartials[i], "-NAK");
  }
  if (gConn != NULL) natsConnection_Flush(gConn);
  natsSubscription_Destroy(sub);
  jsCtx_Destroy(js);
  natsConnection_Destroy(gConn);
  natsOptions_Destroy(opts);
  nats_Close();
  return rc;
}
