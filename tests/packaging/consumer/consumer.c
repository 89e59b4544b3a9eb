/*
 * A program outside the project that uses the installed library through
 * owclient/owclient.h alone, as plain C: it converts an inline story and checks
 * every result, and checks that the library's log lines reach its callback.
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

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

int main(void) {
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
  expect(OBConvertFreeObj(NULL) == 2, "freeing a null object is not refused");
  if (failures != 0) return 1;
  puts("consumer: ok");
  return 0;
}
