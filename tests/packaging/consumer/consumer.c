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

/* What a conversion callback was given, with a NUL after it; empty when it does not fit. */
struct text {
  char data[65536];
  uint32_t len;
};

static void keep(const uint8_t* data, uint32_t len, uintptr_t user1, uintptr_t user2) {
  struct text* out = (struct text*)user1;
  (void)user2;
  out->len = len < sizeof out->data ? len : 0;
  memcpy(out->data, data, out->len);
  out->data[out->len] = '\0';
}

static void count_line(const char* text, int32_t severity, uintptr_t user) {
  (void)text;
  (void)severity;
  ++*(int*)user;
}

static int failures = 0;

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

/* Reads a whole file into buf; its length, or 0 when it cannot or it does not fit. */
static uint32_t read_file(const char* folder, const char* name, char* buf, size_t size) {
  char path[1024];
  FILE* file;
  size_t len = size;
  if ((size_t)snprintf(path, sizeof path, "%s/%s", folder, name) >= sizeof path) return 0;
  if ((file = fopen(path, "rb")) != NULL) {
    len = fread(buf, 1, size, file);
    fclose(file);
  }
  return len < size ? (uint32_t)len : 0;
}

/* The sample story through the sample template and table: the page has the story's
 * headline, and not the note to editors that the table drops. */
static void convert_samples(const char* samples) {
  static char tmpl[65536], xlate[16384];
  static struct text page;
  char xml[1024], rdf[1024];
  OBConvertEnv env = NULL;
  OBConvertObj obj = NULL;
  uint32_t tmpl_len = read_file(samples, "story.tmpl", tmpl, sizeof tmpl);
  uint32_t xlate_len = read_file(samples, "story.xlate", xlate, sizeof xlate);
  uint32_t rc = OBConvertNewEnv(tmpl, tmpl_len, xlate, xlate_len, &env);
  expect(tmpl_len != 0 && xlate_len != 0, "the sample template or table is not installed");
  if (rc != OWC_CONVERT_OK) {
    fprintf(stderr, "consumer: the samples do not load: %s\n", OwclientResultText((int)rc));
    ++failures;
    return;
  }
  snprintf(xml, sizeof xml, "%s/stories/river-ice.xml", samples);
  snprintf(rdf, sizeof rdf, "%s/stories/river-ice.rdf", samples);
  expect(OBConvertNewObj(1, xml, 0, 1, rdf, 0, &obj) == OWC_CONVERT_OK,
         "the sample story does not load");
  if (obj != NULL) {
    expect(OBConvertApplyTemplate(env, obj, keep, (uintptr_t)&page, 0) == OWC_CONVERT_OK,
           "the sample template does not apply");
    /* The HTML's length counts its terminating NUL. */
    expect(page.len != 0 && page.data[page.len - 1] == '\0' &&
               strstr(page.data, "<h1>Research station records") != NULL,
           "the sample page lacks the story's headline");
    expect(strstr(page.data, "Editors:") == NULL,
           "the sample table let the note to editors through");
    OBConvertFreeObj(obj);
  }
  OBConvertFreeEnv(env);
}

int main(int argc, char* argv[]) {
  static const char kHtml[] = "<h1>Ferry &amp; bus strike ends</h1>";
  static const char kHeadline[] = "Ferry &amp; bus strike ends";
  static struct text html, headline;
  char version[32];
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
  expect(headline.len == strlen(kHeadline) && strcmp(headline.data, kHeadline) == 0,
         "the headline is not the expected one");

  /* A story file that does not exist fails, and says why through the log callback. */
  expect(OBConvertNewObj(1, "/nonexistent/owclient-consumer.xml", 0, 0, NULL, 0, &missing) == 1,
         "loading a missing file does not fail");
  expect(log_lines > 0, "the log callback received no line");
  OrbrixWireSetLogCallback(NULL, 0);

  expect(OBConvertFreeObj(obj) == 0 && OBConvertFreeEnv(env) == 0, "freeing fails");
  expect(OBConvertFreeObj(NULL) == OWC_CONVERT_BAD_HANDLE, "freeing a null object is not refused");
  snprintf(version, sizeof version, "%d.%d.%d", OWCLIENT_VERSION_MAJOR, OWCLIENT_VERSION_MINOR,
           OWCLIENT_VERSION_PATCH);
  expect(strcmp(OwclientVersion(), version) == 0, "OwclientVersion differs from the header's");
  expect(strstr(OwclientResultText(OWC_CONVERT_BAD_HANDLE), "null handle") != NULL,
         "the text of code 2 does not say null handle");
  expect(strcmp(OwclientResultText(-1), "unknown result code") == 0,
         "an unknown code is not said to be unknown");
  if (argc > 1) convert_samples(argv[1]);
  if (failures != 0) return 1;
  puts("consumer: ok");
  return 0;
}
