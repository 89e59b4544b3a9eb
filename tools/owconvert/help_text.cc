#include "options.h"

namespace owconvert {

std::string HelpText() {
  return R"(owconvert: convert news stories (NITF XML + RDF metadata) to HTML through a template.

Usage:
  owconvert -t TEMPLATE [-x TABLE] [-v] story.xml [story.rdf] [-o out.html]
  owconvert -t TEMPLATE [-x TABLE] [-v] --batch -d OUTDIR [-j N] FILE-OR-FOLDER...
  owconvert [-t TEMPLATE] --field NAME story.xml [story.rdf]
  owconvert [-t TEMPLATE] --property PATH [--ns URI] [--attr NAME] [--tags] story.xml [story.rdf]

One story:
  Renders story.xml with its metadata story.rdf to out.html, or to standard output
  without -o. When no .rdf file is named, the file with the story's name and the
  ending .rdf is used if it exists; the story converts without metadata otherwise.

Batch (--batch):
  Converts every story named and every name.xml in the folders named (not their
  subfolders), each with name.rdf beside it when present, into OUTDIR/name.htm. The
  folder is created if missing. .rdf files are taken with their stories; files with
  any other ending are skipped and counted. A story that fails is reported and the
  others are still converted. Ends with one summary line on standard output:
  converted, failed, skipped, and the time taken.

Fields (--field, --property):
  Prints one field of the story, one value a line, on standard output.
  --field NAME      headline, subheadline, byline, distributor, dateline, body,
                    series.name, series.part or series.totalpart. subheadline and byline
                    take an index from 0 (byline:1 is the second byline); without one,
                    every occurrence is printed.
  --property PATH   a captured element: with the default metadata namespace the part
                    below its Resource element, such as headline(0); with --ns "" a
                    complete property path such as \nitf(0)\body(0)\body.end(0)\tagline(0).
                    Without a final (index), every occurrence is printed.
  --ns URI          the metadata namespace of PATH (default
                    http://www.veltrane.com/namespaces/meta#); "" for a complete path.
  --attr NAME       print this attribute of the element instead of its content.
  --tags            print the element with its own start and end tags.
  A template is optional here; with one, the fields it names are captured as well.
  A field with no value prints nothing and ends with status 1.

Options:
  -t, --template FILE   the HTML template
  -x, --xlate FILE      the tag translation table applied to every inserted value
  -o, --output FILE     output file of the one-story form (default: standard output)
      --batch           convert many stories (see above)
  -d, --outdir DIR      output folder of a batch
  -j, --jobs N          worker threads of a batch, each with its own copy of the
                        template (default 1; 0 = one per processor core)
  -v, --verbose         show all of the library's log lines and each converted story;
                        without it only failures are shown (on standard error)
      --strict          read stories exactly as described: no NITF namespace read as
                        none, every document read as UTF-8, no HTML entity names
                        (by default all three are on, for stories as feeds send them)
  -h, --help            show this text
      --version         show the version
  Options may stand anywhere; values may also be written --name=value. "--" ends the
  options.

Exit status:
  0  everything was converted (or the field was printed)
  1  a story could not be read, parsed or rendered (in a batch: at least one), or
     the field has no value, or a story drew a warning: its root element is in a
     namespace not read as NITF, or it has no standard field (its page is written)
  2  the command line is wrong, or the template or table cannot be read or loaded
)";
}

}  // namespace owconvert
