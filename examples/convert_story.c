// SPDX-License-Identifier: MIT
/*
 * convert_story: renders one story to HTML with the owclient conversion interface.
 *
 *   convert_story TEMPLATE TABLE STORY.xml STORY.rdf > story.html
 *
 * The HTML goes to standard output and the headline to standard error. Written in
 * plain C99 against owclient/owclient.h alone, so the build proves the public header
 * is usable from C.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "owclient/owclient.h"

/* Reads a whole file into a malloc'ed buffer; the caller frees it. NULL on failure. */
static char* read_file(const char* path, uint32_t* len) {
  FILE* f = fopen(path, "rb");
  char* buf = NULL;
  long size;
  if (f == NULL) return NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (size = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
    buf = (char*)malloc((size_t)size + 1);
    if (buf != NULL && fread(buf, 1, (size_t)size, f) != (size_t)size) {
      free(buf);
      buf = NULL;
    } else if (buf != NULL) {
      *len = (uint32_t)size;
    }
  }
  fclose(f);
  return buf;
}

/* Conversion callback: user1 is the FILE* to write to. The HTML length counts its
 * terminating NUL, which is not part of the page. */
static void write_html(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t user2) {
  (void)user2;
  if (data != NULL && len > 0) fwrite(data, 1, len - 1, (FILE*)user1);
}

/* Field callback: the length excludes the terminator. */
static void write_field(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t user2) {
  fprintf((FILE*)user1, "%s%.*s\n", (const char*)user2, (int)len, (const char*)data);
}

/* Only the library's failure lines (severity 0) are worth showing here. */
static void log_line(const char* text, int32_t severity, uintptr_t user) {
  (void)user;
  if (severity == 0) fprintf(stderr, "owclient: %s\n", text);
}

int main(int argc, char** argv) {
  uint32_t tmpl_len = 0, xlate_len = 0, rc;
  char *tmpl, *xlate;
  OBConvertEnv env = NULL;
  OBConvertObj obj = NULL;
  int status = 1;

  if (argc != 5) {
    fprintf(stderr, "usage: %s TEMPLATE TABLE STORY.xml STORY.rdf\n", argv[0]);
    return 2;
  }
  OrbrixWireSetLogCallback(log_line, 0);
  /* Stories as feeds send them: NITF namespaces, Latin-1 or windows-1252, HTML entities. */
  OBConvertSetReadOptions(OBCONVERT_READ_REAL_FEEDS);
  tmpl = read_file(argv[1], &tmpl_len);
  xlate = read_file(argv[2], &xlate_len);
  if (tmpl == NULL || xlate == NULL) {
    fprintf(stderr, "cannot read %s\n", tmpl == NULL ? argv[1] : argv[2]);
    free(tmpl);
    free(xlate);
    return 2;
  }
  /* The environment copies what it needs: the buffers can go right away. */
  rc = OBConvertNewEnv(tmpl, tmpl_len, xlate, xlate_len, &env);
  free(tmpl);
  free(xlate);
  if (rc != 0) {
    fprintf(stderr, "the template or table does not load (code %u)\n", (unsigned)rc);
    return 2;
  }
  /* File flag 1: the library reads the files and names them in its messages. */
  rc = OBConvertNewObj(1, argv[3], 0, 1, argv[4], 0, &obj);
  if (rc != 0) {
    fprintf(stderr, "cannot load the story %s (code %u)\n", argv[3], (unsigned)rc);
  } else if ((rc = OBConvertApplyTemplate(env, obj, write_html, (uintptr_t)stdout, 0)) != 0) {
    fprintf(stderr, "the story %s does not render (code %u)\n", argv[3], (unsigned)rc);
  } else {
    OBConvertGetHeadline(obj, write_field, (uintptr_t)stderr, (uintptr_t) "headline: ");
    status = 0;
  }
  OBConvertFreeObj(obj); /* a null handle only returns 2 */
  OBConvertFreeEnv(env);
  OrbrixWireSetLogCallback(NULL, 0);
  return status;
}
