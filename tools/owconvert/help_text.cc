// SPDX-License-Identifier: MIT
#include "options.h"

namespace owconvert {

std::string UsageText() {
  return R"(owconvert: convert news stories (NITF XML + RDF metadata) to HTML through a template.

Usage:
  owconvert -t TEMPLATE [-x TABLE] story.xml [story.rdf] [-o out.html]
  owconvert -t TEMPLATE [-x TABLE] --batch -d DIR [-j N] FILE-OR-FOLDER...
  owconvert [-t TEMPLATE] --field NAME [--markup] story.xml [story.rdf]
  owconvert [-t TEMPLATE] --property PATH [--ns URI] [--attr NAME] [--tags] story.xml [story.rdf]

One story:
  Renders story.xml with its metadata story.rdf to out.html, or to standard output
  without -o (or with -o -). When no .rdf file is named, the file with the story's name
  and the ending .rdf is used if it exists; the story converts without metadata
  otherwise. A story named - is read from standard input. The template is checked before
  any story is read.

Batch (--batch):
  Converts every story named and every name.xml in the folders named (not their
  subfolders), each with name.rdf beside it when present, into DIR/name.htm. The
  folder is created if missing. .rdf files are taken with their stories; files with
  any other ending are skipped and counted. A story that fails is reported and the
  others are still converted. On a terminal a progress line shows how far it is.
  Ends with one summary line on standard output: converted, failed, skipped, and the
  time taken.

Fields (--field, --property):
  Prints one field of the story, one value a line, on standard output.
  --field NAME      headline, subheadline, byline, distributor, dateline, body,
                    series.name, series.part or series.totalpart. subheadline and byline
                    take an index from 0 (byline:1 is the second byline); without one,
                    every occurrence is printed. Values are plain text: references
                    decoded, tags removed, line breaks inside a value folded; --markup
                    prints them as the story has them.
  --property PATH   a captured element, as the story has it: with the default metadata
                    namespace the part below its Resource element, such as headline(0);
                    with --ns "" a complete property path such as
                    \nitf(0)\body(0)\body.end(0)\tagline(0).
                    Without a final (index), every occurrence is printed.
  --ns URI          the metadata namespace of PATH (default
                    http://www.veltrane.com/namespaces/meta#); "" for a complete path.
  A template is optional here; with one, the fields it names are captured as well.
  A field with no value prints nothing and ends with status 1.
)";
}

std::string EpilogueText() {
  return R"(Options may stand anywhere; values may also be written --name=value. "--" ends the
options.

Exit status:
  0  everything was converted (or the field was printed)
  1  a story could not be read, parsed or rendered (in a batch: at least one), the
     field has no value, the output cannot be written, or a story drew a warning: its
     root element is in a namespace not read as NITF, or it has no standard field (its
     page is written)
  2  the command line is wrong, or the template or table cannot be read or loaded
)";
}

}  // namespace owconvert
