// SPDX-License-Identifier: MIT
/*
 * gateway_headlines: runs the owclient gateway against a wire server and prints the
 * headline of every story it receives, one line each: "name.xml: headline".
 *
 *   gateway_headlines ADDRESS [COUNT]
 *
 * ADDRESS is the server's IPv4 address (port 39030). The program stops after COUNT
 * stories, or on SIGINT or SIGTERM, and ends its session with DONE.
 *
 * The gateway runs in mode 0: it hands over the raw blocks of every file. The program
 * reassembles each story's .xml file and reads its headline through the conversion
 * interface, with a template of one command. Plain C99 against owclient/owclient.h.
 */
#define _POSIX_C_SOURCE 200809L

#include <arpa/inet.h>
#include <pthread.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "owclient/owclient.h"

static const char kHeadlineTemplate[] = "<?Kavio insert headline?>";

/* The file being reassembled and the stories printed. Touched by the gateway's
 * delivery thread (one call at a time) and read by the main thread: guarded by lock. */
struct receiver {
  pthread_mutex_t lock;
  OBConvertEnv headline;
  char name[256];
  uint8_t* data;
  size_t len, cap;
  unsigned long stories;
  int out_of_memory;
};

static volatile sig_atomic_t stop_requested = 0;

static void on_signal(int sig) {
  (void)sig;
  stop_requested = 1;
}

static int ends_with(const char* text, const char* end) {
  size_t n = strlen(text), m = strlen(end);
  return n >= m && strcmp(text + n - m, end) == 0;
}

static int append(struct receiver* r, const uint8_t* data, uint32_t len) {
  if (r->len + len > r->cap) {
    size_t cap = r->cap != 0 ? r->cap : 16384;
    uint8_t* grown;
    while (cap < r->len + len) cap *= 2;
    grown = (uint8_t*)realloc(r->data, cap);
    if (grown == NULL) return 0;
    r->data = grown;
    r->cap = cap;
  }
  if (len > 0) memcpy(r->data + r->len, data, len);
  r->len += len;
  return 1;
}

/* Conversion callback: user1 is the file name. The output counts its terminating NUL. */
static void print_headline(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t user2) {
  (void)user2;
  printf("%s: %.*s\n", (const char*)user1, (int)(len > 0 ? len - 1 : 0), (const char*)data);
  fflush(stdout);
}

/* A whole .xml file is in r->data: print its headline. */
static void convert(struct receiver* r) {
  OBConvertObj story = NULL;
  uint32_t rc = OBConvertNewObj(0, (const char*)r->data, (uint32_t)r->len, 0, NULL, 0, &story);
  if (rc == 0)
    rc = OBConvertApplyTemplate(r->headline, story, print_headline, (uintptr_t)r->name, 0);
  if (rc != 0)
    fprintf(stderr, "gateway_headlines: %s does not convert (code %u)\n", r->name, (unsigned)rc);
  OBConvertFreeObj(story);
  ++r->stories;
}

/* Gateway callback, on the delivery thread. Blocks of one file arrive in order; a
 * block of another file, or a first block, starts a new file. */
static void on_block(HOBWBlockQElt* rec, uintptr_t user) {
  struct receiver* r = (struct receiver*)user;
  if (rec->mFName == NULL || !ends_with(rec->mFName, ".xml")) return;
  pthread_mutex_lock(&r->lock);
  if (rec->mFirstBlock || strncmp(r->name, rec->mFName, sizeof r->name - 1) != 0) {
    snprintf(r->name, sizeof r->name, "%s", rec->mFName);
    r->len = 0;
  }
  if (!append(r, rec->mData, rec->mDataLen)) {
    r->out_of_memory = 1;
  } else if (rec->mLastBlock) {
    convert(r);
    r->len = 0;
  }
  pthread_mutex_unlock(&r->lock);
}

/* Only failures (severity 0) of the library are shown. */
static void on_log(const char* text, int32_t severity, uintptr_t user) {
  size_t len = strlen(text);
  (void)user;
  while (len > 0 && text[len - 1] == '\n') --len;
  if (severity == 0) fprintf(stderr, "gateway_headlines: [owclient] %.*s\n", (int)len, text);
}

static int parse_args(int argc, char** argv, uint32_t* address, unsigned long* count) {
  struct in_addr in;
  char* end = NULL;
  if (argc < 2 || argc > 3 || inet_pton(AF_INET, argv[1], &in) != 1) return 0;
  *address = ntohl(in.s_addr); /* the library takes host byte order */
  *count = 0;
  if (argc == 3) {
    *count = strtoul(argv[2], &end, 10);
    if (*argv[2] == '\0' || *end != '\0' || *count == 0) return 0;
  }
  return 1;
}

/* Waits until COUNT stories were printed (0: no limit), a signal, or memory ran out. */
static void wait_for_stories(struct receiver* r, unsigned long count) {
  const struct timespec pause = {0, 100 * 1000 * 1000};
  for (;;) {
    int done;
    pthread_mutex_lock(&r->lock);
    done = r->out_of_memory || (count != 0 && r->stories >= count);
    pthread_mutex_unlock(&r->lock);
    if (done || stop_requested) return;
    nanosleep(&pause, NULL);
  }
}

int main(int argc, char** argv) {
  struct receiver r;
  struct sigaction action;
  uint32_t address;
  unsigned long count;
  int status = 0;

  if (!parse_args(argc, argv, &address, &count)) {
    fprintf(stderr, "usage: %s ADDRESS [COUNT]\n", argv[0]);
    return 2;
  }
  memset(&r, 0, sizeof r);
  pthread_mutex_init(&r.lock, NULL);
  /* Stories as feeds send them: NITF namespaces, Latin-1 or windows-1252, HTML entities. */
  OBConvertSetReadOptions(OBCONVERT_READ_REAL_FEEDS);
  if (OBConvertNewEnv(kHeadlineTemplate, (uint32_t)strlen(kHeadlineTemplate), NULL, 0,
                      &r.headline) != 0) {
    fprintf(stderr, "gateway_headlines: the template does not load\n");
    return 1;
  }
  memset(&action, 0, sizeof action);
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, NULL);
  sigaction(SIGTERM, &action, NULL);

  OrbrixWireSetLogCallback(on_log, 0);
  OrbrixWireStartup(0); /* no log files: failures reach on_log */
  if (!HOBWStart(address, on_block, (uintptr_t)&r, 0, 0)) {
    fprintf(stderr, "gateway_headlines: the gateway does not start\n");
    status = 1;
  } else {
    wait_for_stories(&r, count);
    HOBWStop(1); /* DONE ends the session on the server; the delivery thread is gone after */
    if (r.out_of_memory) {
      fprintf(stderr, "gateway_headlines: out of memory\n");
      status = 1;
    }
  }
  OrbrixWireShutdown();
  OrbrixWireSetLogCallback(NULL, 0);
  OBConvertFreeEnv(r.headline);
  free(r.data);
  pthread_mutex_destroy(&r.lock);
  return status;
}
