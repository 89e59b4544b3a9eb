// SPDX-License-Identifier: MIT
/*
 * A program outside the project that uses the installed library through
 * owclient/owclient.h alone, as plain C: it converts an inline story and checks
 * every result, checks that the library's log lines reach its callback, and asks the
 * library for its version and the text of a result code.
 *   consumer [SAMPLES]
 * With SAMPLES, the installed samples folder, it also converts the sample story
 * through the sample template and translation table.
 * Prints "consumer: ok" and exits 0 when all is right, else names what is wrong.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "owclient/owclient.h"

#if OWCLIENT_VERSION_MAJOR != 1
#error "the installed header is not of major version 1"
#endif

static const char kStory[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<nitf><body><body.head><hedline><hl1>Ferry &amp; bus strike ends</hl1></hedline>"
    "</body.head><body.content><p>Services resume on Monday.</p></body.content></body></nitf>";
static const char kTemplate[] = "<h1><?Kavio insert headline?></h1>";

struct text {
  char data[256];
  uint32_t len;
};

/* Conversion callback: keeps a copy of the bytes in the struct text of user1. */
static void keep(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t user2) {
  struct text* out = (struct text*)user1;
  (void)user2;
  out->len = len;
  if (len < sizeof out->data) memcpy(out->data, data, len);
}

static void count_line(const char* text, int32_t severity, uintptr_t user) {
  (void)text;
  (void)severity;
  ++*(int*)user;
}

static int failures = 0;

/* Reads a whole file into buf (NUL-terminated); its length, or -1. */
static long read_file(const char* folder, const char* name, char* buf, size_t size) {
  char path[1024];
  FILE* file;
  size_t len;
  if ((size_t)snprintf(path, sizeof path, "%s/%s", folder, name) >= sizeof path) return -1;
  file = fopen(path, "rb");
  if (file == NULL) return -1;
  len = fread(buf, 1, size - 1, file);
  fclose(file);
  if (len == size - 1) return -1; /* too large for this program */
  buf[len] = '\0';
  return (long)len;
}

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

/* Looks for the headline in the HTML, and for the note to editors that the table drops. */
struct page_check {
  int has_headline, has_note;
};
static void check_page(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t user2) {
  struct page_check* check = (struct page_check*)user1;
  (void)user2;
  /* The HTML's length counts its terminating NUL. */
  if (len == 0 || data[len - 1] != '\0') return;
  check->has_headline = strstr((const char*)data, "<h1>Research station records") != NULL;
  check->has_note = strstr((const char*)data, "Editors:") != NULL;
}

/* The sample story through the sample template and table. */
static void convert_samples(const char* samples) {
  static char tmpl[65536], xlate[16384];
  char path[1024];
  struct page_check check = {0, 0};
  OBConvertEnv env = NULL;
  OBConvertObj obj = NULL;
  long tmpl_len = read_file(samples, "story.tmpl", tmpl, sizeof tmpl);
  long xlate_len = read_file(samples, "story.xlate", xlate, sizeof xlate);
  uint32_t rc;
  if (tmpl_len <= 0 || xlate_len <= 0) {
    expect(0, "the sample template or table is not installed");
    return;
  }
  rc = OBConvertNewEnv(tmpl, (uint32_t)tmpl_len, xlate, (uint32_t)xlate_len, &env);
  if (rc != OWC_CONVERT_OK) {
    fprintf(stderr, "consumer: the samples do not load: %s\n", OwclientResultText((int)rc));
    ++failures;
    return;
  }
  snprintf(path, sizeof path, "%s/stories/river-ice.xml", samples);
  snprintf(tmpl, sizeof tmpl, "%s/stories/river-ice.rdf", samples);
  rc = OBConvertNewObj(1, path, 0, 1, tmpl, 0, &obj);
  expect(rc == OWC_CONVERT_OK, "the sample story does not load");
  if (rc == OWC_CONVERT_OK) {
    expect(OBConvertApplyTemplate(env, obj, check_page, (uintptr_t)&check, 0) == OWC_CONVERT_OK,
           "the sample template does not apply");
    expect(check.has_headline, "the sample page lacks the story's headline");
    expect(!check.has_note, "the sample table let the note to editors through");
    OBConvertFreeObj(obj);
  }
  OBConvertFreeEnv(env);
}

int main(int argc, char* argv[]) {
  static const char kHtml[] = "<h1>Ferry &amp; bus strike ends</h1>";
  struct text html = {{0}, 0}, headline = {{0}, 0};
  OBConvertEnv env = NULL;
  OBConvertObj obj = NULL, missing = NULL;
  int log_lines = 0;

  OrbrixWireSetLogCallback(count_line, (uintptr_t)&log_lines);
  OBConvertSetEntityRefOutput(1);
  expect(OBConvertNewEnv(kTemplate, (uint32_t)strlen(kTemplate), NULL, 0, &env) == 0,
         "the template does not load");
  expect(OBConvertNewObj(0, kStory, (uint32_t)strlen(kStory), 0, NULL, 0, &obj) == 0,
         "the story does not load");
  expect(OBConvertApplyTemplate(env, obj, keep, (uintptr_t)&html, 0) == 0,
         "applying the template fails");
  /* The HTML's length counts its terminating NUL. */
  expect(html.len == sizeof kHtml && memcmp(html.data, kHtml, sizeof kHtml) == 0,
         "the HTML is not the expected one");
  expect(OBConvertGetHeadline(obj, keep, (uintptr_t)&headline, 0) == 0, "no headline");
  expect(headline.len == strlen("Ferry &amp; bus strike ends") &&
             memcmp(headline.data, "Ferry &amp; bus strike ends", headline.len) == 0,
         "the headline is not the expected one");

  /* A story file that does not exist fails, and says why through the log callback. */
  expect(OBConvertNewObj(1, "/nonexistent/owclient-consumer.xml", 0, 0, NULL, 0, &missing) == 1,
         "loading a missing file does not fail");
  expect(log_lines > 0, "the log callback received no line");
  OrbrixWireSetLogCallback(NULL, 0);

  expect(OBConvertFreeObj(obj) == 0 && OBConvertFreeEnv(env) == 0, "freeing fails");
  expect(OBConvertFreeObj(NULL) == OWC_CONVERT_BAD_HANDLE, "freeing a null object is not refused");

  {
    char version[32];
    snprintf(version, sizeof version, "%d.%d.%d", OWCLIENT_VERSION_MAJOR, OWCLIENT_VERSION_MINOR,
             OWCLIENT_VERSION_PATCH);
    expect(strcmp(OwclientVersion(), version) == 0, "OwclientVersion differs from the header's");
  }
  expect(strstr(OwclientResultText(OWC_CONVERT_BAD_HANDLE), "null handle") != NULL,
         "the text of code 2 does not say null handle");
  expect(strcmp(OwclientResultText(-1), "unknown result code") == 0,
         "an unknown code is not said to be unknown");
  if (argc > 1) convert_samples(argv[1]);
  if (failures != 0) return 1;
  puts("consumer: ok");
  return 0;
}
